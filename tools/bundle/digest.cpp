#include "tools/bundle/digest.h"

#include "tools/bundle/peimage.h"

#include <mbedtls/pk.h>
#include <mbedtls/sha1.h>
#include <mbedtls/sha256.h>

#include <fstream>

namespace fs = std::filesystem;

namespace ts { namespace bundle {

namespace {

// One hash over byte ranges of a file, read in blocks: payload files may be large.
class Hasher {
public:
    explicit Hasher(DigestKind kind) : m_kind(kind)
    {
        if (kind == DigestKind::sha1) {
            mbedtls_sha1_init(&m_sha1);
            mbedtls_sha1_starts_ret(&m_sha1);
        } else {
            mbedtls_sha256_init(&m_sha256);
            mbedtls_sha256_starts_ret(&m_sha256, 0);
        }
    }
    ~Hasher()
    {
        mbedtls_sha1_free(&m_sha1);
        mbedtls_sha256_free(&m_sha256);
    }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    // Hashes [from, to) of `in`; false when the file ends before `to`.
    bool add(std::ifstream& in, uint64_t from, uint64_t to)
    {
        std::vector<char> block(1 << 20);
        in.clear();
        in.seekg(static_cast<std::streamoff>(from));
        while (from < to) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), to - from));
            in.read(block.data(), static_cast<std::streamsize>(n));
            if (static_cast<size_t>(in.gcount()) != n)
                return false;
            const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block.data());
            if (m_kind == DigestKind::sha1)
                mbedtls_sha1_update_ret(&m_sha1, bytes, n);
            else
                mbedtls_sha256_update_ret(&m_sha256, bytes, n);
            from += n;
        }
        return true;
    }
    Digest finish()
    {
        Digest out(m_kind == DigestKind::sha1 ? 20 : 32);
        if (m_kind == DigestKind::sha1)
            mbedtls_sha1_finish_ret(&m_sha1, out.data());
        else
            mbedtls_sha256_finish_ret(&m_sha256, out.data());
        return out;
    }

private:
    DigestKind m_kind;
    mbedtls_sha1_context m_sha1{};
    mbedtls_sha256_context m_sha256{};
};

uint32_t le32(const uint8_t* b)
{
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

} // namespace

Digest fileDigest(const fs::path& file, DigestKind kind)
{
    std::ifstream in(file, std::ios::binary);
    std::error_code error;
    uintmax_t size = fs::file_size(file, error);
    Hasher hasher(kind);
    if (!in || error || !hasher.add(in, 0, size))
        throw BundleError(file.generic_u8string() + ": cannot be read");
    return hasher.finish();
}

Digest peImageDigest(const fs::path& file, DigestKind kind)
{
    std::ifstream in(file, std::ios::binary);
    std::error_code error;
    uintmax_t size = fs::file_size(file, error);
    uint8_t head[0x400] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    size_t got = static_cast<size_t>(in.gcount());
    if (!in.good() && got < 64)
        return {};
    uint32_t pe = le32(head + 0x3C);
    if (error || head[0] != 'M' || head[1] != 'Z' || pe > got - 24 - 2 || le32(head + pe) != 0x00004550)
        return {};
    size_t optional = pe + 24;
    uint16_t magic = static_cast<uint16_t>(head[optional] | head[optional + 1] << 8);
    size_t checksum = optional + 64;
    size_t directories = optional + (magic == 0x20B ? 112 : magic == 0x10B ? 96 : 0);
    size_t security = directories + 4 * 8;
    if (directories == optional || security + 8 > got)
        return {};
    uint64_t tableOffset = le32(head + security), tableSize = le32(head + security + 4);
    uint64_t end = tableOffset && tableSize && tableOffset + tableSize <= size ? tableOffset : size;
    Hasher hasher(kind);
    if (!hasher.add(in, 0, checksum) || !hasher.add(in, checksum + 4, security) || !hasher.add(in, security + 8, end))
        return {};
    return hasher.finish();
}

Digest digestOf(const uint8_t* bytes, size_t size, DigestKind kind)
{
    Digest out(kind == DigestKind::sha1 ? 20 : 32);
    if (kind == DigestKind::sha1)
        mbedtls_sha1_ret(bytes, size, out.data());
    else
        mbedtls_sha256_ret(bytes, size, out.data(), 0);
    return out;
}

bool verifySignature(const uint8_t* publicKey, size_t publicKeySize, DigestKind kind, const Digest& digest,
                     const uint8_t* signature, size_t signatureSize)
{
    mbedtls_pk_context key;
    mbedtls_pk_init(&key);
    bool verified = mbedtls_pk_parse_public_key(&key, publicKey, publicKeySize) == 0 &&
                    mbedtls_pk_verify(&key, kind == DigestKind::sha1 ? MBEDTLS_MD_SHA1 : MBEDTLS_MD_SHA256,
                                      digest.data(), digest.size(), signature, signatureSize) == 0;
    mbedtls_pk_free(&key);
    return verified;
}

std::string hex(const Digest& digest)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : digest) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

}} // namespace ts::bundle
