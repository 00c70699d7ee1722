// Four-part version major.minor.build.revision packed into 64 bits, major highest.
#pragma once
#include <cstdint>
#include <string>

namespace ts { namespace sys {

class Version {
public:
    Version() = default;
    explicit Version(uint64_t packed) : m_value(packed) {}
    Version(uint16_t major, uint16_t minor, uint16_t build, uint16_t revision)
        : m_value(uint64_t(major) << 48 | uint64_t(minor) << 32 | uint64_t(build) << 16 | revision) {}

    uint64_t value() const { return m_value; }
    uint16_t major() const { return uint16_t(m_value >> 48); }
    uint16_t minor() const { return uint16_t(m_value >> 32); }
    uint16_t build() const { return uint16_t(m_value >> 16); }
    uint16_t revision() const { return uint16_t(m_value); }
    // The value 0 means "no version".
    bool empty() const { return m_value == 0; }

    friend bool operator==(Version a, Version b) { return a.m_value == b.m_value; }
    friend bool operator!=(Version a, Version b) { return a.m_value != b.m_value; }
    friend bool operator<(Version a, Version b) { return a.m_value < b.m_value; }
    friend bool operator>(Version a, Version b) { return a.m_value > b.m_value; }
    friend bool operator<=(Version a, Version b) { return a.m_value <= b.m_value; }
    friend bool operator>=(Version a, Version b) { return a.m_value >= b.m_value; }

private:
    uint64_t m_value = 0;
};

// Accepts "a.b.c.d" or "a, b, c, d" (trailing text ignored); each part at most 65535.
// On false `out` is left unchanged.
bool parseVersion(const std::wstring& text, Version& out);
// As parseVersion, and also one to three parts with the missing ones 0 ("10.0.10053" is
// 10.0.10053.0), as Windows Installer and SetupAPI read such versions.
bool parseShortVersion(const std::wstring& text, Version& out);
// "a.b.c.d" in decimal.
std::wstring toString(const Version& version);
std::string toNarrowString(const Version& version);

}} // namespace ts::sys
