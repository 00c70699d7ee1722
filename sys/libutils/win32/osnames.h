// The Windows versions and architectures Setup tells apart, and their names in the
// driver configuration. Plain code: the host's fuzz targets build it too.
#pragma once
#include <string>

namespace ts { namespace sys { namespace win32 {

enum class OsVersion : int {
    none = 0,           // a name that matched nothing
    older = 1,          // before Windows 2000
    win2000 = 2,        // "2k"
    xp = 3,             // "xp"
    server2003 = 4,     // 5.2
    vista = 5,          // "vista"
    server2008 = 6,     // "server2008"
    win7 = 7,           // "win7"
    server2008R2 = 8,   // "server2008R2"
    multiPoint = 9,     // "mps"
    win8 = 10,          // "win8"
    win8_1 = 11,        // "win8_1"
    win10 = 12,         // "win10": build 10586 or lower, or unknown
    win10Later = 13,    // build 10587 or higher
    win10_1 = 14,       // 10.1 or higher
};

enum class Architecture : int { x86 = 0, x64 = 1, unknown = 2 };

// Names of the driver configuration ("win7", "x64"); case matters. No match gives
// OsVersion::none / Architecture::unknown.
OsVersion osVersionFromName(const std::wstring& name);
Architecture architectureFromName(const std::wstring& name);

}}} // namespace ts::sys::win32
