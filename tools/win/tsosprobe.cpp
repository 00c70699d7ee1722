// tsosprobe: reports how the foundation classifies the running Windows, in its exit
// code: bits 0-7 the OsVersion value, bit 8 isOsSupported(), bit 16 isWow64(), bits
// 24-31 the product type that GetVersionExW reports (1 workstation, 3 server). Tests
// give a copy of it the manifest of the program whose answer they want.
#include "sys/libutils/win32/osinfo.h"

#include <windows.h>

namespace win32 = ts::sys::win32;

int wmain()
{
    int answer = static_cast<int>(win32::getOsVersion()) | (win32::isOsSupported() ? 0x100 : 0) |
                 (win32::isWow64() << 16);
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info)))
        answer |= info.wProductType << 24;
#pragma GCC diagnostic pop
    return answer;
}
