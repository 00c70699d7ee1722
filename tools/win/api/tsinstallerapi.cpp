// tsinstallerapi: the demo Core software's installer API library. It answers the
// installed Core version from HKLM\SOFTWARE\Tessaline\Core "Version" and records a
// required restart there as "SoftwareRequiresReboot".
//
// Tests steer it through HKCU\Software\TessalineTest\InstallerApi: "InitialiseResult",
// "VersionResult" and "RebootResult" (REG_DWORD) replace the results, "Version" (REG_SZ)
// the version text, and with "RecordFile" (REG_SZ) every call is appended to that file
// as one line.
#include "../appendutf8.h"
#include "sys/libutils/version.h"
#include "tk/installer/libinstall/installerapi.h"

#include <windows.h>
#include <cstdint>
#include <string>

namespace {

const wchar_t* const kSteeringKey = L"Software\\TessalineTest\\InstallerApi";
const wchar_t* const kCoreKey = L"SOFTWARE\\Tessaline\\Core";
HMODULE g_module = nullptr;

bool readSteering(const wchar_t* name, DWORD type, void* data, DWORD size)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSteeringKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD found = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &found, static_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && found == type;
}

int32_t steeredResult(const wchar_t* name, int32_t fallback)
{
    DWORD value = 0;
    return readSteering(name, REG_DWORD, &value, sizeof value) ? static_cast<int32_t>(value) : fallback;
}

std::wstring readText(HKEY root, const wchar_t* path, const wchar_t* name, REGSAM view)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return L"";
    wchar_t buffer[MAX_PATH + 1] = L"";
    DWORD size = MAX_PATH * sizeof(wchar_t), type = 0;
    LONG status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_SZ ? buffer : L"";
}

void record(const std::wstring& line)
{
    std::wstring file = readText(HKEY_CURRENT_USER, kSteeringKey, L"RecordFile", 0);
    if (file.empty())
        return;
    appendUtf8(file, line + L"\r\n");
}

std::wstring ownPath()
{
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(g_module, path, MAX_PATH);
    return path;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_module = instance;
    return TRUE;
}

int32_t WINAPI tsInitialise()
{
    record(L"tsInitialise " + ownPath());
    return steeredResult(L"InitialiseResult", 1);
}

int32_t WINAPI tsUninitialise()
{
    record(L"tsUninitialise");
    return 1;
}

int32_t WINAPI tsGetInstalledProductVersion(const wchar_t* upgradeCode, uint64_t* version)
{
    std::wstring code = upgradeCode ? upgradeCode : L"";
    record(L"tsGetInstalledProductVersion " + code);
    int32_t result = steeredResult(L"VersionResult", 1);
    if (result != 1 || !version)
        return result;
    *version = 0;
    if (code != ts::tk::install::kCoreUpgradeCode)
        return 1; // no such product
    wchar_t steered[64] = L"";
    std::wstring text = readSteering(L"Version", REG_SZ, steered, sizeof steered - sizeof(wchar_t))
                            ? steered
                            : readText(HKEY_LOCAL_MACHINE, kCoreKey, L"Version", KEY_WOW64_64KEY);
    ts::sys::Version parsed;
    if (ts::sys::parseVersion(text, parsed))
        *version = parsed.value();
    return 1;
}

int32_t WINAPI tsSetSoftwareRequiresReboot(uint32_t magic, uint32_t required)
{
    wchar_t line[96];
    wsprintfW(line, L"tsSetSoftwareRequiresReboot 0x%08X %u", magic, required);
    record(line);
    if (magic != ts::tk::install::kInstallerApiCallerMagic || required > 1)
        return 0;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kCoreKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return 0;
    const wchar_t* value = required ? L"1" : L"0";
    LONG status = RegSetValueExW(key, L"SoftwareRequiresReboot", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                 2 * sizeof(wchar_t));
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? steeredResult(L"RebootResult", 1) : 0;
}

// Present for the binding; the demo Core software has nothing for them to do.
int32_t WINAPI tsUninstallPackage() { record(L"tsUninstallPackage"); return 0; }
int32_t WINAPI tsUninstallCore() { record(L"tsUninstallCore"); return 0; }
int32_t WINAPI tsReadUninstallPackageStatus() { record(L"tsReadUninstallPackageStatus"); return 0; }
int32_t WINAPI tsWaitOnInstallerOp() { record(L"tsWaitOnInstallerOp"); return 0; }
int32_t WINAPI tsResetSpiAutoRunResults() { record(L"tsResetSpiAutoRunResults"); return 0; }
int32_t WINAPI tsWriteSpiAutoRunResult() { record(L"tsWriteSpiAutoRunResult"); return 0; }

} // extern "C"
