#include "tools/bundle/signer.h"

#include "tools/bundle/digest.h"

#include <cstring>
#include <fstream>

namespace fs = std::filesystem;

namespace ts { namespace bundle {

namespace {

// One DER element: tag, and where its contents lie. Every read is bounded by the
// element it is read from, so a damaged signature ends as "unreadable", never past
// the buffer.
struct Element {
    uint8_t tag = 0;
    const uint8_t* begin = nullptr; // the whole element, tag included
    const uint8_t* content = nullptr;
    const uint8_t* end = nullptr;
};

// Reads the element at `at` (before `limit`) and moves `at` behind it.
bool next(const uint8_t*& at, const uint8_t* limit, Element& out)
{
    if (limit - at < 2 || (at[0] & 0x1F) == 0x1F)
        return false;
    const uint8_t* p = at + 1;
    size_t length = *p++;
    if (length & 0x80) {
        size_t count = length & 0x7F;
        if (count == 0 || count > 4 || static_cast<size_t>(limit - p) < count)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = length << 8 | *p++;
    }
    if (static_cast<size_t>(limit - p) < length)
        return false;
    out.tag = at[0];
    out.begin = at;
    out.content = p;
    out.end = p + length;
    at = out.end;
    return true;
}

// The `index`th element inside `outer`.
bool child(const Element& outer, size_t index, Element& out)
{
    const uint8_t* at = outer.content;
    for (size_t i = 0; i <= index; ++i)
        if (!next(at, outer.end, out))
            return false;
    return true;
}

bool same(const Element& a, const Element& b)
{
    return a.end - a.begin == b.end - b.begin && std::memcmp(a.begin, b.begin, a.end - a.begin) == 0;
}

// A directory string as UTF-8.
bool stringValue(const Element& value, std::string& out)
{
    out.clear();
    size_t size = value.end - value.content;
    switch (value.tag) {
    case 0x0C: // UTF8String
    case 0x13: // PrintableString
    case 0x16: // IA5String
        out.assign(reinterpret_cast<const char*>(value.content), size);
        return true;
    case 0x14: // TeletexString, read as Latin-1 as Windows does
        for (size_t i = 0; i < size; ++i)
            appendUtf8(out, value.content[i]);
        return true;
    case 0x1E: { // BMPString: UTF-16 big-endian
        if (size % 2)
            return false;
        for (size_t i = 0; i < size; i += 2) {
            uint32_t unit = value.content[i] << 8 | value.content[i + 1];
            if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < size) {
                uint32_t low = value.content[i + 2] << 8 | value.content[i + 3];
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            appendUtf8(out, unit);
        }
        return true;
    }
    case 0x1C: // UniversalString: UTF-32 big-endian
        if (size % 4)
            return false;
        for (size_t i = 0; i < size; i += 4)
            appendUtf8(out, static_cast<uint32_t>(value.content[i]) << 24 | value.content[i + 1] << 16 |
                                value.content[i + 2] << 8 | value.content[i + 3]);
        return true;
    default:
        return false;
    }
}

// The first attribute of a Name with the given attribute type (2.5.4.<type>).
bool nameAttribute(const Element& name, uint8_t type, std::string& out)
{
    const uint8_t oid[] = {0x06, 0x03, 0x55, 0x04, type};
    Element rdn;
    for (const uint8_t* at = name.content; next(at, name.end, rdn);) {
        Element pair;
        for (const uint8_t* in = rdn.content; next(in, rdn.end, pair);) {
            Element key, value;
            if (pair.tag == 0x30 && child(pair, 0, key) && child(pair, 1, value) && key.end - key.begin == 5 &&
                std::memcmp(key.begin, oid, 5) == 0)
                return stringValue(value, out);
        }
    }
    return false;
}

SignerName unreadable()
{
    return SignerName{SignerName::Unreadable, {}};
}

std::vector<uint8_t> readRange(std::ifstream& in, uint64_t offset, size_t size)
{
    std::vector<uint8_t> out(size);
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
    if (static_cast<size_t>(in.gcount()) != size)
        out.clear();
    return out;
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

} // namespace

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | cp >> 6);
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | cp >> 12);
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | cp >> 18);
        out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

// The parts of a PKCS#7 SignedData that name and check its first signer.
struct SignedParts {
    Element signedData, content; // content: the encapsulated content's value
    Element signer;              // the first SignerInfo
    Element tbs, subject, publicKey; // its certificate's
};

SignerName::Status findSigner(const std::vector<uint8_t>& der, SignedParts& out)
{
    static const uint8_t signedDataOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
    const uint8_t* at = der.data();
    Element contentInfo, type, wrapper;
    if (!next(at, der.data() + der.size(), contentInfo) || contentInfo.tag != 0x30 || !child(contentInfo, 0, type) ||
        type.end - type.begin != sizeof signedDataOid ||
        std::memcmp(type.begin, signedDataOid, sizeof signedDataOid) != 0 || !child(contentInfo, 1, wrapper) ||
        wrapper.tag != 0xA0 || !child(wrapper, 0, out.signedData) || out.signedData.tag != 0x30)
        return SignerName::Unreadable;
    // version, digest algorithms, content, [0] certificates, [1] CRLs, signer infos.
    Element certificates, signerInfos, item, encapsulated, explicitContent;
    bool haveCertificates = false, haveSigners = false;
    size_t index = 0;
    for (const uint8_t* in = out.signedData.content; next(in, out.signedData.end, item); ++index) {
        if (index == 2)
            encapsulated = item;
        else if (index >= 3 && item.tag == 0xA0) {
            certificates = item;
            haveCertificates = true;
        } else if (index >= 3 && item.tag == 0x31) {
            signerInfos = item;
            haveSigners = true;
        }
    }
    if (child(encapsulated, 1, explicitContent) && explicitContent.tag == 0xA0)
        child(explicitContent, 0, out.content);
    // The first signer, identified by its certificate's issuer and serial number.
    Element version, sid, issuer, serial;
    if (!haveSigners || !child(signerInfos, 0, out.signer))
        return SignerName::Unsigned;
    if (!haveCertificates || !child(out.signer, 0, version) || !child(out.signer, 1, sid) || sid.tag != 0x30 ||
        !child(sid, 0, issuer) || !child(sid, 1, serial))
        return SignerName::Unreadable;
    Element certificate;
    for (const uint8_t* in = certificates.content; next(in, certificates.end, certificate);) {
        Element first;
        if (certificate.tag != 0x30 || !child(certificate, 0, out.tbs) || !child(out.tbs, 0, first))
            continue;
        size_t base = first.tag == 0xA0 ? 1 : 0; // an explicit version comes first
        Element certSerial, certIssuer;
        if (!child(out.tbs, base, certSerial) || !child(out.tbs, base + 2, certIssuer) ||
            !child(out.tbs, base + 4, out.subject) || !child(out.tbs, base + 5, out.publicKey))
            continue;
        if (same(certSerial, serial) && same(certIssuer, issuer))
            return SignerName::Signed;
    }
    return SignerName::Unreadable;
}

bool isOid(const Element& element, const uint8_t* oid, size_t size)
{
    return static_cast<size_t>(element.end - element.begin) == size && std::memcmp(element.begin, oid, size) == 0;
}

} // namespace

SignerName pkcs7SignerName(const std::vector<uint8_t>& der)
{
    SignedParts parts;
    SignerName out{findSigner(der, parts), {}};
    // Common name, else organizational unit, else organization.
    if (out.status == SignerName::Signed && !nameAttribute(parts.subject, 3, out.name) &&
        !nameAttribute(parts.subject, 11, out.name) && !nameAttribute(parts.subject, 10, out.name))
        out.status = SignerName::Unreadable;
    return out;
}

bool pkcs7SignatureVerifies(const std::vector<uint8_t>& der)
{
    static const uint8_t sha1Oid[] = {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A};
    static const uint8_t sha256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
    static const uint8_t messageDigestOid[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x09, 0x04};
    SignedParts parts;
    // version, sid, digest algorithm, [0] signed attributes, signature algorithm, signature.
    Element algorithm, algorithmOid, attributes, signatureAlgorithm, signature;
    if (findSigner(der, parts) != SignerName::Signed || !parts.content.begin || !child(parts.signer, 2, algorithm) ||
        !child(algorithm, 0, algorithmOid) || !child(parts.signer, 3, attributes) || attributes.tag != 0xA0 ||
        !child(parts.signer, 4, signatureAlgorithm) || !child(parts.signer, 5, signature) || signature.tag != 0x04)
        return false;
    DigestKind kind;
    if (isOid(algorithmOid, sha1Oid, sizeof sha1Oid))
        kind = DigestKind::sha1;
    else if (isOid(algorithmOid, sha256Oid, sizeof sha256Oid))
        kind = DigestKind::sha256;
    else
        return false;
    // The message digest attribute holds the hash of the content's value, without its
    // own tag and length (as Authenticode signs it).
    Digest contentDigest = digestOf(parts.content.content, parts.content.end - parts.content.content, kind);
    bool digestMatches = false;
    Element attribute;
    for (const uint8_t* at = attributes.content; next(at, attributes.end, attribute);) {
        Element type, values, value;
        if (child(attribute, 0, type) && isOid(type, messageDigestOid, sizeof messageDigestOid) &&
            child(attribute, 1, values) && child(values, 0, value) && value.tag == 0x04)
            digestMatches = Digest(value.content, value.end) == contentDigest;
    }
    // The signature covers the attributes encoded as a SET.
    std::vector<uint8_t> signedBytes(attributes.begin, attributes.end);
    signedBytes[0] = 0x31;
    Digest attributesDigest = digestOf(signedBytes.data(), signedBytes.size(), kind);
    return digestMatches &&
           verifySignature(parts.publicKey.begin, parts.publicKey.end - parts.publicKey.begin, kind, attributesDigest,
                           signature.content, signature.end - signature.content);
}

namespace {

// The PKCS#7 of a PE file's certificate table, in `der`; Unsigned without one.
SignerName::Status pePkcs7(const fs::path& file, std::vector<uint8_t>& der)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return SignerName::Unreadable;
    std::vector<uint8_t> dos = readRange(in, 0, 64);
    if (dos.size() != 64 || dos[0] != 'M' || dos[1] != 'Z')
        return SignerName::Unreadable;
    uint32_t pe = le32(dos, 0x3C);
    std::vector<uint8_t> headers = readRange(in, pe, 24 + 112 + 16 * 8);
    if (headers.empty() || le32(headers, 0) != 0x00004550)
        return SignerName::Unreadable;
    // The data directories follow the PE32 or PE32+ optional header's fixed part.
    uint16_t magic = le16(headers, 24);
    size_t count = magic == 0x10B ? 24 + 92 : magic == 0x20B ? 24 + 108 : 0;
    if (count == 0)
        return SignerName::Unreadable;
    size_t directories = count + 4;
    if (le32(headers, count) <= 4)
        return SignerName::Unsigned;
    // The security directory holds a file offset, not an address.
    uint32_t offset = le32(headers, directories + 4 * 8), size = le32(headers, directories + 4 * 8 + 4);
    if (offset == 0 || size == 0)
        return SignerName::Unsigned;
    if (size < 8 || size > 64 * 1024 * 1024)
        return SignerName::Unreadable;
    std::vector<uint8_t> table = readRange(in, offset, size);
    if (table.empty())
        return SignerName::Unreadable;
    // WIN_CERTIFICATE: length, revision, type 2 (PKCS#7 SignedData), the signature.
    uint32_t length = le32(table, 0);
    if (length < 8 || length > size || le16(table, 6) != 2)
        return SignerName::Unreadable;
    der.assign(table.begin() + 8, table.begin() + length);
    return SignerName::Signed;
}

// Every SpcIndirectDataContent below `outer`: a sequence of its type and a value (a SET
// in a catalog member's attributes, [0] as a signature's content) whose digest info
// ends it.
void collectDigests(const Element& outer, std::vector<std::vector<uint8_t>>& out, int depth)
{
    static const uint8_t indirectOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x02, 0x01, 0x04};
    Element type, value, content, digestInfo, digest;
    if (outer.tag == 0x30 && child(outer, 0, type) && type.end - type.begin == sizeof indirectOid &&
        std::memcmp(type.begin, indirectOid, sizeof indirectOid) == 0) {
        if (child(outer, 1, value) && child(value, 0, content) && child(content, 1, digestInfo) &&
            child(digestInfo, 1, digest) && digest.tag == 0x04)
            out.emplace_back(digest.content, digest.end);
        return;
    }
    Element item;
    if (depth < 16 && (outer.tag & 0x20))
        for (const uint8_t* at = outer.content; next(at, outer.end, item);)
            collectDigests(item, out, depth + 1);
}

std::vector<std::vector<uint8_t>> indirectDigests(const std::vector<uint8_t>& der)
{
    std::vector<std::vector<uint8_t>> out;
    const uint8_t* at = der.data();
    Element all;
    if (next(at, der.data() + der.size(), all))
        collectDigests(all, out, 0);
    return out;
}

std::vector<uint8_t> readAll(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

} // namespace

SignerName peSignerName(const fs::path& file)
{
    std::vector<uint8_t> der;
    SignerName::Status status = pePkcs7(file, der);
    return status == SignerName::Signed ? pkcs7SignerName(der) : SignerName{status, {}};
}

std::vector<uint8_t> peSignedDigest(const fs::path& file)
{
    std::vector<uint8_t> der;
    std::vector<std::vector<uint8_t>> digests;
    if (pePkcs7(file, der) == SignerName::Signed)
        digests = indirectDigests(der);
    return digests.size() == 1 ? digests[0] : std::vector<uint8_t>();
}

bool peSignatureVerifies(const fs::path& file)
{
    std::vector<uint8_t> der;
    return pePkcs7(file, der) == SignerName::Signed && pkcs7SignatureVerifies(der);
}

std::vector<std::vector<uint8_t>> catalogDigests(const fs::path& file)
{
    return indirectDigests(readAll(file));
}

SignerName catalogSignerName(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return unreadable();
    std::vector<uint8_t> der = readAll(file);
    SignerName out = pkcs7SignerName(der);
    // A catalog that is not a SignedData at all was never signed.
    if (out.status == SignerName::Unreadable && (der.size() < 2 || der[0] != 0x30))
        out.status = SignerName::Unsigned;
    return out;
}

bool isMakerName(const std::string& name)
{
    return name == "TESSALINE" || name == "TESSALINE (TEST CERTIFICATE)";
}

bool isMicrosoftName(const std::string& name)
{
    return name == "Microsoft Windows" || name == "Microsoft Corporation";
}

}} // namespace ts::bundle
