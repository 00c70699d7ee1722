// tslogwriter: writes log lines through the real logger, for the log reader's host test
// and the logger benchmark.
//   tslogwriter <folder> <lines>          TSLW.log in <folder> (restarts past 100 KiB)
//   tslogwriter --bench <folder> <lines>  prints the throughput and a disabled line's cost
#include "sys/libutils/logger.h"
#include "sys/libutils/settingssource.h"
#include "tk/libgui/resourcefunctions.h"

#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace {

// The logger's folder comes from the settings, as an administrator would configure it.
class FolderSettings : public ts::sys::ISettingsSource {
public:
    explicit FolderSettings(std::string folder) : m_folder(std::move(folder)) {}
    ts::sys::SettingsSnapshot snapshot(const std::string& path, bool) override
    {
        ts::sys::SettingsSnapshot snapshot;
        if (path == "Logger") {
            snapshot["directory"] = ts::sys::SettingsEntry{true, m_folder};
            snapshot["verbosity"] = ts::sys::SettingsEntry{true, "INFO"};
        }
        if (path == "TSLW\\Logger\\Modules")
            snapshot["Quiet"] = ts::sys::SettingsEntry{true, "ERROR"};
        return snapshot;
    }
private:
    std::string m_folder;
};

struct Writer : ts::sys::Logger::Logged {
    Writer(const char* module) : Identity(module, "bench"), Logged(ts::sys::Logger::instance(), module, "bench") {}
};

double seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool bench = argc == 4 && wcscmp(argv[1], L"--bench") == 0;
    if (argc != 3 && !bench) {
        fwprintf(stderr, L"usage: tslogwriter [--bench] <folder> <lines>\n");
        return 2;
    }
    std::string folder = ts::tk::gui::resource::toNarrow(argv[bench ? 2 : 1]);
    long lines = wcstol(argv[bench ? 3 : 2], nullptr, 10);
    ts::sys::setSettingsSource(std::make_shared<FolderSettings>(folder));
    ts::sys::Logger::create("TSLW", ts::sys::LogLevel::Verbose, 1, false);
    Writer writer("Writer");
    Writer quiet("Quiet");
    if (quiet.isEnabled(ts::sys::LogLevel::Verbose)) {
        fprintf(stderr, "the Quiet module should not take VERBOSE lines\n");
        return 1;
    }

    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < lines; ++i)
        TS_LOG(writer, ts::sys::LogLevel::Info) << "line " << i << " of " << lines << ": the quick brown fox jumps over the lazy dog";
    QueryPerformanceCounter(&end);
    double written = seconds(start, end);
    if (!bench)
        return 0;

    const long disabledLines = 10000000;
    QueryPerformanceCounter(&start);
    for (long i = 0; i < disabledLines; ++i)
        TS_LOG(quiet, ts::sys::LogLevel::Verbose) << "never formatted " << i;
    QueryPerformanceCounter(&end);
    double disabled = seconds(start, end);
    printf("lines enciphered and written: %ld in %.3f s = %.0f lines/s\n", lines, written, lines / written);
    printf("disabled line: %.2f ns each (%ld lines in %.3f s)\n", disabled * 1e9 / disabledLines, disabledLines,
           disabled);
    return 0;
}
