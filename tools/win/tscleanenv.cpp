// tscleanenv <threshold> <log file>: runs the environment cleanup as Setup does, with the
// cleaner debug log at VERBOSE appended to <log file> (UTF-8). Tests run copies of it
// under the Windows versions Wine can present. Exit code 0, or 1 when the cleanup threw
// (the text is the log's last line).
#include "appendutf8.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/text.h"
#include "sys/libutils/version.h"
#include "tk/installer/libinstall/environmentcleanup.h"
#include "tk/libcleaner/debuglog.h"

#include <windows.h>
#include <string>

namespace {

std::wstring g_logPath;

void appendLine(const std::wstring& line)
{
    appendUtf8(g_logPath, line);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ts::sys::Version threshold;
    if (argc != 3 || !ts::sys::parseVersion(argv[1], threshold))
        return 2;
    g_logPath = argv[2];
    ts::tk::cleaner::setDebugLogSink(appendLine);
    ts::tk::cleaner::setDebugLogThreshold(static_cast<int>(ts::tk::cleaner::DebugLevel::Verbose));
    try {
        ts::tk::install::cleanEnvironment(threshold, nullptr);
    } catch (...) {
        appendLine(L"THROWN: " + ts::sys::toWide(ts::sys::describeCurrentException()) + L"\n");
        return 1;
    }
    return 0;
}
