// Who signed a file: the subject name of the certificate that signed its Authenticode
// signature (embedded in a PE file) or its catalog (a PKCS#7 SignedData itself). Read
// from the DER bytes without any crypto library, the same way on every host. Only the
// signer's name is read: whether the signature verifies is Setup's own check.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

struct SignerName {
    enum Status { Signed, Unsigned, Unreadable } status = Unreadable;
    std::string name; // UTF-8; set when Signed
};

// The simple display name of the signing certificate of a PKCS#7 SignedData: its
// subject's common name, else its organizational unit, else its organization.
SignerName pkcs7SignerName(const std::vector<uint8_t>& der);
// The PKCS#7 of a PE file's certificate table; Unsigned without one.
SignerName peSignerName(const std::filesystem::path& file);
// Whether a PKCS#7 SignedData's first signer signed its content: the signed attributes'
// message digest is the content's, and their signature verifies with the signing
// certificate's key (SHA-1 or SHA-256, RSA or ECDSA). Not whether the certificate is trusted.
bool pkcs7SignatureVerifies(const std::vector<uint8_t>& der);
// A catalog file: the whole file is the PKCS#7.
SignerName catalogSignerName(const std::filesystem::path& file);

// The file digest that a PE file's signature signs (its SpcIndirectDataContent); empty
// when it has none or more than one.
std::vector<uint8_t> peSignedDigest(const std::filesystem::path& file);
// pkcs7SignatureVerifies of a PE file's signature.
bool peSignatureVerifies(const std::filesystem::path& file);
// The digests of a catalog's members, as they are listed (SHA-1 or SHA-256, of the whole
// file or of a PE image).
std::vector<std::vector<uint8_t>> catalogDigests(const std::filesystem::path& file);

// Appends the code point `cp` as UTF-8.
void appendUtf8(std::string& out, uint32_t cp);

// "TESSALINE" or "TESSALINE (TEST CERTIFICATE)", compared exactly.
bool isMakerName(const std::string& name);
// The names of Microsoft's own code-signing certificates, which sign DpInst.exe.
bool isMicrosoftName(const std::string& name);

}} // namespace ts::bundle
