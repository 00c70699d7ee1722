// tsmeasure <command line>: runs a program and prints its wall time and peak memory
// (GetProcessMemoryInfo, polled while it runs) as
//   wall_ms=<n> peak_working_set=<bytes> peak_pagefile=<bytes> exit_code=<n>
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <string>

int wmain(int, wchar_t**)
{
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
        printf("tsmeasure: cannot start (%lu)\n", GetLastError());
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
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    printf("wall_ms=%.0f peak_working_set=%lu peak_pagefile=%lu exit_code=%lu\n",
           (end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
           static_cast<unsigned long>(peak.PeakWorkingSetSize), static_cast<unsigned long>(peak.PeakPagefileUsage),
           code);
    return 0;
}
