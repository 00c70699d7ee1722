// Enciphering of log lines (AES-128-CBC, then Base64) and its reverse. Plain C++ over
// mbed TLS: the Windows logger and the log reader on any host share this file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include <mbedtls/aes.h>

namespace ts { namespace sys { namespace encryption {

template <size_t N>
class Block {
public:
    Block() { clear(); }
    virtual ~Block() = default;
    uint8_t* data() { return m_bytes; }
    const uint8_t* data() const { return m_bytes; }
    static constexpr size_t size() { return N; }
    void clear()
    {
        for (size_t i = 0; i < N; ++i)
            m_bytes[i] = 0;
    }
private:
    uint8_t m_bytes[N];
};

template <size_t N>
class Key : public Block<N> {
public:
    // Overwrites the bytes with pseudo-random ones, so no copy of the key stays behind.
    void wipe();
};

// Recovers `wanted` key bytes from record `recordNumber` of the built-in table, unmasked
// with the 17-byte `mask`. False (and `out` untouched) when the record number is out of
// range, the length field differs from `wanted` or the SHA-256 digest does not match.
bool buildKey(unsigned recordNumber, const uint8_t (&mask)[17], uint8_t* out, size_t wanted);

// The log key: record 6 with the program's mask. False when the record does not check.
bool buildLogKey(Key<16>& key);

// One chain of enciphered lines: pads to 16 bytes with spaces, enciphers with the
// chaining value carried from the previous line (zero at first) and encodes in Base64.
class LineEncoder {
public:
    LineEncoder();
    ~LineEncoder();
    LineEncoder(const LineEncoder&) = delete;
    LineEncoder& operator=(const LineEncoder&) = delete;
    std::string encode(const std::string& line);
private:
    mbedtls_aes_context m_aes;
    Block<16> m_chain;
};

// The reverse of LineEncoder for one chain.
class LineDecoder {
public:
    LineDecoder();
    ~LineDecoder();
    LineDecoder(const LineDecoder&) = delete;
    LineDecoder& operator=(const LineDecoder&) = delete;

    enum Result { Decoded, BadBase64, BadLength };
    // Deciphers one Base64 line with the current chaining value (`fresh`: with a zero
    // one instead) and, when `commit` is set, carries the chaining value on. The text
    // keeps its padding.
    Result decode(const std::string& base64, std::string& text, bool fresh, bool commit);
    void restart() { m_chain.clear(); }
private:
    mbedtls_aes_context m_aes;
    Block<16> m_chain;
};

}}} // namespace ts::sys::encryption
