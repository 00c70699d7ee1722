#include "tk/libcleaner/debuglog.h"

#include "sys/libutils/text.h"
#include "sys/libutils/win32/win32nr.h"

#include <atomic>

namespace ts { namespace tk { namespace cleaner {

namespace {

std::atomic<int> g_threshold{0};

void writeToDebugger(const std::wstring& line)
{
    sys::win32::writeDebugOutput(line);
}

std::atomic<DebugLogSink> g_sink{&writeToDebugger};

} // namespace

int debugLogThreshold() { return g_threshold.load(); }

void setDebugLogThreshold(int threshold) { g_threshold.store(threshold); }

bool debugLogEnabled(DebugLevel level)
{
    const int threshold = g_threshold.load();
    return threshold != 0 && static_cast<int>(level) <= threshold;
}

DebugLogSink setDebugLogSink(DebugLogSink sink)
{
    return g_sink.exchange(sink ? sink : &writeToDebugger);
}

const wchar_t* debugLevelName(DebugLevel level)
{
    static const wchar_t* const names[] = {L"LOGNEVER", L"ALWAYS", L"FATAL", L"ERROR",
                                           L"WARN",     L"INFO",   L"DEBUG", L"VERBOSE"};
    const auto index = static_cast<unsigned>(level);
    return index < sizeof names / sizeof names[0] ? names[index] : L"?";
}

void writeDebugLine(DebugLevel level, const std::wstring& text, const char*, int)
{
    g_sink.load()(std::wstring(debugLevelName(level)) + L": " + text + L"\n");
}

namespace detail {
void append(std::wstring& out, const std::string& text) { out += sys::toWide(text); }
} // namespace detail

}}} // namespace ts::tk::cleaner
