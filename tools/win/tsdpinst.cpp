// tsdpinst: the driver installer stub of the demo and the tests, in place of DpInst.exe.
// It appends one UTF-8 line to the file named by TS_DPINST_RECORD:
//     <working folder> TAB <command line> TAB <progress window>
// where the last field is "window" when a visible dialog titled TS_DPINST_WINDOW exists
// (it waits up to 3 seconds for one to appear), else "-". It exits with TS_DPINST_EXIT_<name of its folder> when set, else
// TS_DPINST_EXIT, else 0 (decimal or 0x-hexadecimal, the full 32 bits).
#include "childtime.h"

#include <windows.h>
#include <cstdlib>
#include <string>

namespace {

std::wstring environment(const std::wstring& name)
{
    wchar_t value[1024] = L"";
    DWORD length = GetEnvironmentVariableW(name.c_str(), value, 1024);
    return length > 0 && length < 1024 ? value : L"";
}

std::string utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

} // namespace

int wmain(int, wchar_t**)
{
    wchar_t folder[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, folder);
    std::wstring title = environment(L"TS_DPINST_WINDOW");
    bool shown = false;
    for (int i = 0; !title.empty() && !shown && i < 300; ++i) {
        HWND window = FindWindowW(L"#32770", title.c_str());
        shown = window && IsWindowVisible(window);
        if (!shown)
            Sleep(10);
    }

    std::wstring record = environment(L"TS_DPINST_RECORD");
    if (!record.empty()) {
        std::string line = utf8(folder) + "\t" + utf8(GetCommandLineW()) + "\t" + (shown ? "window" : "-") + "\r\n";
        HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
            CloseHandle(file);
        }
    }

    std::wstring leaf = folder;
    leaf = leaf.substr(leaf.find_last_of(L"\\/") + 1);
    std::wstring code = environment(L"TS_DPINST_EXIT_" + leaf);
    if (code.empty())
        code = environment(L"TS_DPINST_EXIT");
    recordChildTime("tsdpinst");
    return static_cast<int>(wcstoul(code.c_str(), nullptr, 0));
}
