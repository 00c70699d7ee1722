// tsrecorder: a stand-in for the installer programs that Setup runs. It appends its
// full command line (one UTF-8 line) to the file named by TS_RECORD_FILE and exits
// with the code in TS_RECORD_EXIT (default 0), as the product installer (its command line
// has AUTOMATICUPDATECHECK=) with TS_RECORD_EXIT_PRODUCT when that is set. With TS_RECORD_COPY naming a folder,
// every argument NAME="path" whose path is a file is copied there as NAME, so a test
// can read the files it was handed after they are gone. With TS_RECORD_WINDOW naming a
// dialog title, it also appends "window" (such a dialog is visible) or "-" as one line to
// TS_RECORD_FILE + ".window". With TS_RECORD_REBOOT_NOW, it sets "RebootNeededNow" in the
// volatile key HKLM\SOFTWARE\Tessaline\Core\Volatile to that text, as the Core software
// does when it needs a restart now. With TS_RECORD_SECURITY set, it appends to
// TS_RECORD_FILE + ".security" one line: the folder of its program, that folder's owner
// and DACL in SDDL, and its TEMP, tab-separated. With TS_RECORD_HANG=<n>, the run whose
// line is the n-th of TS_RECORD_FILE waits a minute before it ends (for a test that
// kills Setup meanwhile). Started without TS_RECORD_FILE (by the desktop shell,
// as a URL handler), it first takes the variables of the UTF-16 environment block in
// the file beside itself named as its program + ".environment".
#include "appendutf8.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <cstring>
#include <cwchar>

namespace {

std::string readAll(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return bytes;
}

std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

// "<folder>\t<owner and DACL>\t<TEMP>" for the folder of this program.
std::wstring securityLine()
{
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder = program;
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    std::wstring sddl = L"-";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
        wchar_t* text = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
                descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
            sddl = text;
            LocalFree(text);
        }
        LocalFree(descriptor);
    }
    wchar_t temp[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    return folder + L"\t" + sddl + L"\t" + temp;
}

void takeEnvironmentFile()
{
    wchar_t program[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    const std::string bytes = readAll(std::wstring(program) + L".environment");
    const std::wstring block(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    for (size_t at = 0, end; (end = block.find(L'\0', at)) != std::wstring::npos && end > at; at = end + 1) {
        const std::wstring entry = block.substr(at, end - at);
        const size_t equals = entry.find(L'=');
        if (equals != std::wstring::npos && equals > 0)
            SetEnvironmentVariableW(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str());
    }
}

} // namespace

int wmain(int, wchar_t**)
{
    if (!GetEnvironmentVariableW(L"TS_RECORD_FILE", nullptr, 0))
        takeEnvironmentFile();
    const wchar_t* line = GetCommandLineW();
    wchar_t record[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"TS_RECORD_FILE", record, MAX_PATH))
        appendBytes(record, utf8(line) + "\r\n");
    if (record[0] && GetEnvironmentVariableW(L"TS_RECORD_SECURITY", nullptr, 0))
        appendBytes(std::wstring(record) + L".security", utf8(securityLine()) + "\r\n");
    wchar_t hang[16] = L"";
    if (record[0] && GetEnvironmentVariableW(L"TS_RECORD_HANG", hang, 16)) {
        const std::string text = readAll(record);
        if (static_cast<unsigned long>(std::count(text.begin(), text.end(), '\n')) == wcstoul(hang, nullptr, 10))
            Sleep(60000);
    }
    wchar_t title[256] = L"";
    if (record[0] && GetEnvironmentVariableW(L"TS_RECORD_WINDOW", title, 256)) {
        HWND window = FindWindowW(L"#32770", title);
        appendBytes(std::wstring(record) + L".window", window && IsWindowVisible(window) ? "window\r\n" : "-\r\n");
    }
    wchar_t copies[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"TS_RECORD_COPY", copies, MAX_PATH)) {
        for (const wchar_t* p = line; (p = wcsstr(p, L"=\"")) != nullptr;) {
            const wchar_t* nameStart = p;
            while (nameStart > line && nameStart[-1] != L' ')
                --nameStart;
            const wchar_t* valueEnd = wcschr(p + 2, L'"');
            if (!valueEnd)
                break;
            std::wstring name(nameStart, p), value(p + 2, valueEnd);
            DWORD attributes = GetFileAttributesW(value.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                CopyFileW(value.c_str(), (std::wstring(copies) + L"\\" + name).c_str(), FALSE);
            p = valueEnd + 1;
        }
    }
    wchar_t rebootNow[32] = L"";
    if (GetEnvironmentVariableW(L"TS_RECORD_REBOOT_NOW", rebootNow, 32)) {
        HKEY core = nullptr, flags = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core", 0, nullptr, 0, KEY_CREATE_SUB_KEY,
                            nullptr, &core, nullptr) == ERROR_SUCCESS) {
            if (RegCreateKeyExW(core, L"Volatile", 0, nullptr, REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &flags,
                                nullptr) == ERROR_SUCCESS) {
                RegSetValueExW(flags, L"RebootNeededNow", 0, REG_SZ, reinterpret_cast<const BYTE*>(rebootNow),
                               static_cast<DWORD>((wcslen(rebootNow) + 1) * sizeof(wchar_t)));
                RegCloseKey(flags);
            }
            RegCloseKey(core);
        }
    }
    wchar_t code[32] = L"";
    if ((wcsstr(line, L" AUTOMATICUPDATECHECK=") && GetEnvironmentVariableW(L"TS_RECORD_EXIT_PRODUCT", code, 32)) ||
        GetEnvironmentVariableW(L"TS_RECORD_EXIT", code, 32))
        return static_cast<int>(wcstoul(code, nullptr, 0));
    return 0;
}
