// tslogwriter: writes log lines through the real logger, for the log reader's host test
// and the logger benchmark.
//   tslogwriter <folder> <lines>          TSLW.log in <folder> (restarts past 100 KiB)
//   tslogwriter --bench <folder> <lines>  prints the throughput and a disabled line's cost
#include "sys/libutils/logger.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>

namespace {

// The "Quiet" module is set to ERROR in the registry, as an administrator would do it.
const wchar_t* const kModulesKey = L"Software\\Tessaline\\TSLW\\Logger\\Modules";

struct Writer : ts::sys::Logger::Logged {
    Writer(const char* module) : Identity(module, "bench"), Logged(ts::sys::Logger::instance(), module, "bench") {}
};

double seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

// User and kernel time of this process so far; a shared machine stretches the wall time
// but not this.
double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    unsigned long long total = 0;
    for (const FILETIME* time : {&kernel, &user})
        total += (static_cast<unsigned long long>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
    return total / 1e7;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool bench = argc == 4 && wcscmp(argv[1], L"--bench") == 0;
    if (argc != 3 && !bench) {
        fwprintf(stderr, L"usage: tslogwriter [--bench] <folder> <lines>\n");
        return 2;
    }
    long lines = wcstol(argv[bench ? 3 : 2], nullptr, 10);
    // The logger's file goes to the temporary folder: here, the folder given.
    SetEnvironmentVariableW(L"TMP", argv[bench ? 2 : 1]);
    SetEnvironmentVariableW(L"TEMP", argv[bench ? 2 : 1]);
    RegSetKeyValueW(HKEY_CURRENT_USER, kModulesKey, L"Quiet", REG_SZ, L"ERROR", 6 * sizeof(wchar_t));
    ts::sys::Logger::create("TSLW", ts::sys::LogLevel::Info, 1, true);
    Writer writer("Writer");
    Writer quiet("Quiet");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Tessaline\\TSLW");
    if (quiet.isEnabled(ts::sys::LogLevel::Verbose)) {
        fprintf(stderr, "the Quiet module should not take VERBOSE lines\n");
        return 1;
    }

    LARGE_INTEGER start, end;
    double cpuStart = cpuSeconds();
    QueryPerformanceCounter(&start);
    for (long i = 0; i < lines; ++i)
        TS_LOG(writer, ts::sys::LogLevel::Info) << "line " << i << " of " << lines << ": the quick brown fox jumps over the lazy dog";
    QueryPerformanceCounter(&end);
    double written = seconds(start, end);
    double writtenCpu = cpuSeconds() - cpuStart;
    if (!bench)
        return 0;

    const long disabledLines = 100000000;
    cpuStart = cpuSeconds();
    QueryPerformanceCounter(&start);
    for (long i = 0; i < disabledLines; ++i)
        TS_LOG(quiet, ts::sys::LogLevel::Verbose) << "never formatted " << i;
    QueryPerformanceCounter(&end);
    double disabled = seconds(start, end);
    double disabledCpu = cpuSeconds() - cpuStart;
    printf("lines enciphered and written: %ld in %.3f s = %.0f lines/s (cpu %.3f s = %.0f lines/s)\n", lines, written,
           lines / written, writtenCpu, writtenCpu > 0 ? lines / writtenCpu : 0.0);
    printf("disabled line: %.2f ns each (%ld lines in %.3f s; cpu %.2f ns each)\n", disabled * 1e9 / disabledLines,
           disabledLines, disabled, disabledCpu * 1e9 / disabledLines);
    return 0;
}
