// Win32 only. Minimal classification from the manifested GetVersionExW answer.
#include "sys/libutils/win32/osinfo.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

bool isWow64()
{
    static const bool cached = [] {
        BOOL wow64 = FALSE;
        using Fn = BOOL(WINAPI*)(HANDLE, PBOOL);
        auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process")));
        return fn && fn(GetCurrentProcess(), &wow64) && wow64;
    }();
    return cached;
}

bool isOsSupported()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&info))
        return false;
#pragma GCC diagnostic pop
    if (info.dwMajorVersion > 10 || (info.dwMajorVersion == 10 && info.dwMinorVersion >= 1))
        return false;
    return info.dwMajorVersion > 6 || (info.dwMajorVersion == 6 && info.dwMinorVersion >= 1);
}

}}} // namespace ts::sys::win32
