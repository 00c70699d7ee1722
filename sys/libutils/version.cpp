#include "sys/libutils/version.h"

#include <cwchar>

namespace ts { namespace sys {

bool parseVersion(const std::wstring& text, Version& out)
{
    unsigned long part[4] = {};
    if (swscanf(text.c_str(), L"%lu.%lu.%lu.%lu", &part[0], &part[1], &part[2], &part[3]) != 4 &&
        swscanf(text.c_str(), L"%lu, %lu, %lu, %lu", &part[0], &part[1], &part[2], &part[3]) != 4)
        return false;
    for (unsigned long p : part)
        if (p > 0xFFFF)
            return false;
    out = Version(uint16_t(part[0]), uint16_t(part[1]), uint16_t(part[2]), uint16_t(part[3]));
    return true;
}

std::wstring toString(const Version& v)
{
    return std::to_wstring(v.major()) + L"." + std::to_wstring(v.minor()) + L"." + std::to_wstring(v.build()) +
           L"." + std::to_wstring(v.revision());
}

std::string toNarrowString(const Version& v)
{
    return std::to_string(v.major()) + "." + std::to_string(v.minor()) + "." + std::to_string(v.build()) + "." +
           std::to_string(v.revision());
}

}} // namespace ts::sys
