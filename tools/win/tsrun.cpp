// tsrun: runs the rest of its command line and waits. Prints the full 32-bit exit code,
// which Wine does not pass on to Linux, and the run's wall time and peak memory
// (GetProcessMemoryInfo, polled while it runs):
//   exit code: <decimal> (0x<hex>)
//   wall_ms=<n> peak_working_set=<bytes> peak_pagefile=<bytes> cpu_ms=<user + kernel>
// Its own exit code is the child's.
#include <windows.h>
#include <psapi.h>
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
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wprintf(L"tsrun: cannot start (%lu): %ls\n", GetLastError(), command.c_str());
        return 1;
    }
    PROCESS_MEMORY_COUNTERS counters = {}, peak = {};
    do {
        counters.cb = sizeof counters;
        if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
            if (counters.PeakWorkingSetSize > peak.PeakWorkingSetSize)
                peak.PeakWorkingSetSize = counters.PeakWorkingSetSize;
            if (counters.PeakPagefileUsage > peak.PeakPagefileUsage)
                peak.PeakPagefileUsage = counters.PeakPagefileUsage;
        }
    } while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT);
    QueryPerformanceCounter(&end);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    FILETIME created, exited, kernel, user;
    unsigned long long cpu = 0;
    if (GetProcessTimes(process.hProcess, &created, &exited, &kernel, &user))
        for (const FILETIME* time : {&kernel, &user})
            cpu += (static_cast<unsigned long long>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wprintf(L"exit code: %lu (0x%08lX)\n", code, code);
    wprintf(L"wall_ms=%.0f peak_working_set=%lu peak_pagefile=%lu cpu_ms=%llu\n",
            (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
            static_cast<unsigned long>(peak.PeakWorkingSetSize), static_cast<unsigned long>(peak.PeakPagefileUsage),
            cpu / 10000);
    fflush(stdout);
    return static_cast<int>(code);
}
