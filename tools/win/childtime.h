// For the benchmarks: when TS_CHILD_TIMES names a file, an installer stub appends one line
//     <program> <creation time> <now>
// (FILETIME units of 100 ns) when it ends, so that a bootstrapper's own overhead can be
// told apart from the time its installers take, the same way for any bootstrapper.
#pragma once
#include <windows.h>
#include <cstdio>
#include <string>

inline void recordChildTime(const char* program)
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetEnvironmentVariableW(L"TS_CHILD_TIMES", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    FILETIME created, exited, kernel, user, now;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return;
    GetSystemTimeAsFileTime(&now);
    auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    char line[128];
    int size = snprintf(line, sizeof line, "%s %llu %llu\r\n", program, ticks(created), ticks(now));
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(file);
}
