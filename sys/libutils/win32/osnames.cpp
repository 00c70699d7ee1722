#include "sys/libutils/win32/osnames.h"

namespace ts { namespace sys { namespace win32 {

OsVersion osVersionFromName(const std::wstring& name)
{
    static const struct { const wchar_t* name; OsVersion version; } names[] = {
        {L"2k", OsVersion::win2000}, {L"xp", OsVersion::xp}, {L"vista", OsVersion::vista},
        {L"server2008", OsVersion::server2008}, {L"win7", OsVersion::win7},
        {L"server2008R2", OsVersion::server2008R2}, {L"mps", OsVersion::multiPoint}, {L"win8", OsVersion::win8},
        {L"win8_1", OsVersion::win8_1}, {L"win10", OsVersion::win10},
    };
    for (const auto& entry : names)
        if (name == entry.name)
            return entry.version;
    return OsVersion::none;
}

Architecture architectureFromName(const std::wstring& name)
{
    if (name == L"x86")
        return Architecture::x86;
    if (name == L"x64")
        return Architecture::x64;
    return Architecture::unknown;
}

}}} // namespace ts::sys::win32
