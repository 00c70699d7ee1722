// tsrecorder: a stand-in for the installer programs that Setup runs. It appends its
// full command line (one UTF-8 line) to the file named by TS_RECORD_FILE and exits
// with the code in TS_RECORD_EXIT (default 0), as the product installer (its command line
// has AUTOMATICUPDATECHECK=) with TS_RECORD_EXIT_PRODUCT when that is set. With TS_RECORD_COPY naming a folder,
// every argument NAME="path" whose path is a file is copied there as NAME, so a test
// can read the files it was handed after they are gone. With TS_RECORD_WINDOW naming a
// dialog title, it also appends "window" (such a dialog is visible) or "-" as one line to
// TS_RECORD_FILE + ".window". With TS_RECORD_REBOOT_NOW, it sets "RebootNeededNow" in the
// volatile key HKLM\SOFTWARE\Tessaline\Core\Volatile to that text, as the Core software
// does when it needs a restart now.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <cstring>
#include <cwchar>

int wmain(int, wchar_t**)
{
    const wchar_t* line = GetCommandLineW();
    wchar_t record[MAX_PATH] = L"";
    if (GetEnvironmentVariableW(L"TS_RECORD_FILE", record, MAX_PATH)) {
        int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
        std::string utf8(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, line, -1, &utf8[0], size, nullptr, nullptr);
        utf8 += "\r\n";
        HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    wchar_t title[256] = L"";
    if (record[0] && GetEnvironmentVariableW(L"TS_RECORD_WINDOW", title, 256)) {
        HWND window = FindWindowW(L"#32770", title);
        const char* seen = window && IsWindowVisible(window) ? "window\r\n" : "-\r\n";
        HANDLE file = CreateFileW((std::wstring(record) + L".window").c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, seen, static_cast<DWORD>(strlen(seen)), &written, nullptr);
            CloseHandle(file);
        }
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
