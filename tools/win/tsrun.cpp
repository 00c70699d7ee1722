// tsrun: runs the rest of its command line, waits, and prints the full 32-bit exit
// code ("exit code: <decimal> (0x<hex>)"), which Wine does not pass on to Linux. Its
// own exit code is the child's.
#include <windows.h>
#include <cstdio>
#include <string>

int wmain(int, wchar_t**)
{
    // The rest of the command line after the first token, as it was given.
    const wchar_t* line = GetCommandLineW();
    bool quoted = false;
    for (; *line && (quoted || (*line != L' ' && *line != L'\t')); ++line)
        if (*line == L'"')
            quoted = !quoted;
    while (*line == L' ' || *line == L'\t')
        ++line;
    std::wstring command = line;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"tsrun: cannot start (%lu): %ls\n", GetLastError(), command.c_str());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"exit code: %lu (0x%08lX)\n", code, code);
    fflush(stdout);
    return static_cast<int>(code);
}
