// Win32 only.
#include "sys/libutils/win32/osinfo.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/registry.h"

#include <cerrno>
#include <climits>
#include <cwchar>

namespace ts { namespace sys { namespace win32 {

namespace {

const wchar_t* const currentVersionKey = L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const DWORD productMultiPointServer = 0x38;

// 2: not asked yet.
int g_wow64 = 2;

} // namespace

int isWow64()
{
    if (g_wow64 != 2)
        return g_wow64;
    BOOL flag = FALSE;
    g_wow64 = IsWow64Process(GetCurrentProcess(), &flag) && flag ? 1 : 0;
    return g_wow64;
}

bool isVersionAtLeast(WORD majorVersion, WORD minorVersion, WORD servicePackMajor, DWORD buildNumber)
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.dwMajorVersion = majorVersion;
    info.dwMinorVersion = minorVersion;
    info.dwBuildNumber = buildNumber;
    info.wServicePackMajor = servicePackMajor;
    ULONGLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_SERVICEPACKMAJOR, VER_GREATER_EQUAL);
    condition = VerSetConditionMask(condition, VER_BUILDNUMBER, VER_GREATER_EQUAL);
    return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION | VER_BUILDNUMBER | VER_SERVICEPACKMAJOR,
                              condition) != FALSE;
}

bool isServer()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    info.wProductType = VER_NT_WORKSTATION;
    ULONGLONG condition = VerSetConditionMask(0, VER_PRODUCT_TYPE, VER_EQUAL);
    return !VerifyVersionInfoW(&info, VER_PRODUCT_TYPE, condition);
}

bool isMultiPointServer(const OSVERSIONINFOEXA& info)
{
    using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);
    try {
        Library kernel("kernel32.dll", "GetProductInfo");
        DWORD product = 0;
        kernel.functionAs<GetProductInfoFn>()(info.dwMajorVersion, info.dwMinorVersion, info.wServicePackMajor,
                                              info.wServicePackMinor, &product);
        return product == productMultiPointServer;
    } catch (const SystemMessageException&) {
        return false;
    }
}

void getVersionInfo(OSVERSIONINFOEXA& info)
{
    info = OSVERSIONINFOEXA();
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info)))
        throw SystemErrorCodeException(GetLastError());
#pragma GCC diagnostic pop
}

bool readRegistryVersion(WORD& majorOut, WORD& minorOut)
{
    registry::RegistryKeyReader reader(currentVersionKey);
    DWORD major = 0;
    DWORD minor = 0;
    if (!reader.readDword(L"CurrentMajorVersionNumber", major) || !reader.readDword(L"CurrentMinorVersionNumber", minor))
        return false;
    majorOut = static_cast<WORD>(major);
    minorOut = static_cast<WORD>(minor);
    return true;
}

bool isRegistryVersionAtLeast(WORD wantedMajor, WORD wantedMinor)
{
    WORD major = 0;
    WORD minor = 0;
    if (!readRegistryVersion(major, minor))
        return false;
    return major > wantedMajor || (major == wantedMajor && minor >= wantedMinor);
}

bool parseDecimalInt(const std::wstring& text, int& out)
{
    const wchar_t* begin = text.c_str();
    wchar_t* end = nullptr;
    errno = 0;
    long long value = wcstoll(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT_MIN || value > INT_MAX)
        return false;
    out = static_cast<int>(value);
    return true;
}

bool readBuildNumber(int& buildOut)
{
    registry::RegistryKeyReader reader(currentVersionKey);
    std::wstring text;
    if (!reader.readString(L"CurrentBuildNumber", text))
        return false;
    if (parseDecimalInt(text, buildOut))
        return true;
    buildOut = 0;
    return false;
}

OsVersion getOsVersion()
{
    if (isRegistryVersionAtLeast(10, 1))
        return OsVersion::win10_1;
    int build = 0;
    if (isRegistryVersionAtLeast(10, 0) && readBuildNumber(build) && build > 10586)
        return OsVersion::win10Later;
    if (isRegistryVersionAtLeast(10, 0))
        return OsVersion::win10;
    if (isVersionAtLeast(6, 3, 0, 0))
        return OsVersion::win8_1;
    if (isVersionAtLeast(6, 2, 0, 0))
        return OsVersion::win8;
    if (isVersionAtLeast(6, 1, 0, 0)) {
        if (!isServer())
            return OsVersion::win7;
        OSVERSIONINFOEXA info;
        getVersionInfo(info);
        return isMultiPointServer(info) ? OsVersion::multiPoint : OsVersion::server2008R2;
    }
    if (isVersionAtLeast(6, 0, 0, 0))
        return isServer() ? OsVersion::server2008 : OsVersion::vista;
    if (isVersionAtLeast(5, 2, 0, 0))
        return OsVersion::server2003;
    if (isVersionAtLeast(5, 1, 0, 0))
        return OsVersion::xp;
    if (isVersionAtLeast(5, 0, 0, 0))
        return OsVersion::win2000;
    return OsVersion::older;
}

USHORT WindowsNativeMachine::nativeMachine() const
{
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    try {
        Library kernel("kernel32.dll", "IsWow64Process2");
        USHORT process = IMAGE_FILE_MACHINE_UNKNOWN;
        USHORT native = IMAGE_FILE_MACHINE_UNKNOWN;
        if (!kernel.functionAs<IsWow64Process2Fn>()(GetCurrentProcess(), &process, &native))
            return IMAGE_FILE_MACHINE_UNKNOWN;
        return native;
    } catch (const SystemMessageException&) {
        return IMAGE_FILE_MACHINE_UNKNOWN;
    }
}

bool isMachineSupported(USHORT nativeMachine)
{
    return nativeMachine == IMAGE_FILE_MACHINE_UNKNOWN || nativeMachine == IMAGE_FILE_MACHINE_I386 ||
           nativeMachine == IMAGE_FILE_MACHINE_AMD64;
}

bool isOsSupported(const INativeMachine& machine)
{
    // A 32-bit program runs on Windows on ARM too, which loads none of the x64 drivers.
    if (!isMachineSupported(machine.nativeMachine()))
        return false;
    if (isRegistryVersionAtLeast(10, 1))
        return false;
    return getOsVersion() > OsVersion::server2008;
}

bool isOsSupported()
{
    return isOsSupported(WindowsNativeMachine());
}

}}} // namespace ts::sys::win32
