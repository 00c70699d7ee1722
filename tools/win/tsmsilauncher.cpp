// tsmsilauncher: the installer program of a Windows Installer package carried as its
// resource "MSI" 1. It writes the package to a temporary file and runs
//   msiexec /i "<package>" <its own arguments>
// leaving out "/exelang <language>", which only Setup's installer programs know.
// Exit code: msiexec's, or 1603 when the package cannot be written or run.
#include "childtime.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/win32nr.h"

#include <windows.h>
#include <string>
#include <vector>

namespace {

const DWORD kInstallFailure = 1603;

std::vector<std::wstring> tokens(const wchar_t* text)
{
    std::vector<std::wstring> out;
    while (*text) {
        while (*text == L' ' || *text == L'\t')
            ++text;
        if (!*text)
            break;
        std::wstring token;
        bool quoted = false;
        for (; *text && (quoted || (*text != L' ' && *text != L'\t')); ++text) {
            if (*text == L'"')
                quoted = !quoted;
            token += *text;
        }
        out.push_back(token);
    }
    return out;
}

bool writePackage(const std::wstring& path)
{
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(1), L"MSI");
    HGLOBAL loaded = info ? LoadResource(nullptr, info) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    DWORD size = info ? SizeofResource(nullptr, info) : 0;
    if (!data || !size)
        return false;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
    return CloseHandle(file) && ok;
}

} // namespace

int wmain(int, wchar_t**)
{
    std::vector<std::wstring> arguments = tokens(GetCommandLineW());
    std::wstring rest;
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == L"/exelang") {
            ++i;
            continue;
        }
        rest += L" " + arguments[i];
    }
    std::wstring temp, file;
    if (!ts::sys::win32::getTempPath(temp) || !ts::sys::win32::createTempFileName(temp, L"TSM", file))
        return kInstallFailure;
    const std::wstring package = file + L".msi";
    DWORD exitCode = kInstallFailure;
    if (writePackage(package) &&
        !ts::sys::win32::runProcess(L"\"msiexec\" /i \"" + package + L"\"" + rest, exitCode))
        exitCode = kInstallFailure;
    DeleteFileW(package.c_str());
    DeleteFileW(file.c_str());
    recordChildTime("tsmsilauncher");
    return static_cast<int>(exitCode);
}
