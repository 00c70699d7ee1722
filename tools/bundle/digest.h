// Hashes the bundler compares with signatures and catalogs: of whole files, and of PE
// images as Authenticode and driver catalogs hash them.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

using Digest = std::vector<uint8_t>;

enum class DigestKind { sha1, sha256 };

// The hash of `file`'s bytes. Throws BundleError when it cannot be read.
Digest fileDigest(const std::filesystem::path& file, DigestKind kind);
// The Authenticode hash of a PE file: every byte but the checksum, the certificate table
// entry and the certificate table. Empty when `file` is not a PE file.
Digest peImageDigest(const std::filesystem::path& file, DigestKind kind);

// The hash of `size` bytes.
Digest digestOf(const uint8_t* bytes, size_t size, DigestKind kind);
// Whether `signature` is the signature of `digest` by the key of the DER
// SubjectPublicKeyInfo `publicKey` (RSA PKCS#1 v1.5 or ECDSA).
bool verifySignature(const uint8_t* publicKey, size_t publicKeySize, DigestKind kind, const Digest& digest,
                     const uint8_t* signature, size_t signatureSize);

std::string hex(const Digest& digest);

}} // namespace ts::bundle
