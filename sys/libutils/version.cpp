#include "sys/libutils/version.h"

#include <algorithm>
#include <cwchar>

namespace ts { namespace sys {

namespace {

// How many parts the text gives, at most four, in either of the two forms; the form with
// more parts wins, "." on a tie.
int scanParts(const std::wstring& text, unsigned long (&part)[4])
{
    unsigned long other[4] = {};
    int dots = swscanf(text.c_str(), L"%lu.%lu.%lu.%lu", &part[0], &part[1], &part[2], &part[3]);
    int commas = swscanf(text.c_str(), L"%lu, %lu, %lu, %lu", &other[0], &other[1], &other[2], &other[3]);
    if (commas > dots) {
        std::copy(other, other + 4, part);
        return commas;
    }
    return dots < 0 ? 0 : dots;
}

bool parseParts(const std::wstring& text, int fewest, Version& out)
{
    unsigned long part[4] = {};
    const int count = scanParts(text, part);
    if (count < fewest)
        return false;
    for (int i = 0; i < count; ++i)
        if (part[i] > 0xFFFF)
            return false;
    std::fill(part + count, part + 4, 0ul);
    out = Version(uint16_t(part[0]), uint16_t(part[1]), uint16_t(part[2]), uint16_t(part[3]));
    return true;
}

} // namespace

bool parseVersion(const std::wstring& text, Version& out)
{
    return parseParts(text, 4, out);
}

bool parseShortVersion(const std::wstring& text, Version& out)
{
    return parseParts(text, 1, out);
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
