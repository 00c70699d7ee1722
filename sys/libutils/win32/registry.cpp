// Win32 only.
#include "sys/libutils/win32/registry.h"

#include "sys/libutils/win32/osinfo.h"

#include <windows.h>
#include <string>

namespace ts { namespace sys { namespace win32 { namespace registry {

bool readInstalledVersion(const wchar_t* subkeyPath, Version& out)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkeyPath, 0, KEY_READ | (isWow64() ? KEY_WOW64_64KEY : 0), &key) !=
        ERROR_SUCCESS)
        return false;
    wchar_t text[24] = {};
    DWORD type = 0;
    DWORD size = sizeof text - sizeof(wchar_t);
    LONG status = RegQueryValueExW(key, L"Version", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return false;
    return parseVersion(text, out);
}

bool readCoreVersion(Version& out)
{
    return readInstalledVersion(L"SOFTWARE\\Tessaline\\Core", out);
}

bool readProductVersion(const wchar_t* product, Version& out)
{
    return readInstalledVersion((std::wstring(L"SOFTWARE\\Tessaline\\Products\\") + product).c_str(), out);
}

}}}} // namespace ts::sys::win32::registry
