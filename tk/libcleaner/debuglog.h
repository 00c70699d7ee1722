// The cleanup's own debug log: lines go to the debugger output, and only once somebody
// raises the threshold (Setup never does, so the cleanup is silent there).
#pragma once
#include "sys/libutils/version.h"

#include <cstdint>
#include <string>
#include <type_traits>

namespace ts { namespace tk { namespace cleaner {

enum class DebugLevel { Never = 0, Always, Fatal, Error, Warn, Info, Debug, Verbose };

// 0 switches the log off; otherwise lines up to this level are written.
int debugLogThreshold();
void setDebugLogThreshold(int threshold);
bool debugLogEnabled(DebugLevel level);

// Receives each finished line ("DEBUG: text\n"). The default writes to the debugger
// output; tests put their own in. Returns the previous one.
using DebugLogSink = void (*)(const std::wstring& line);
DebugLogSink setDebugLogSink(DebugLogSink sink);

// "LOGNEVER", "ALWAYS", ... "VERBOSE".
const wchar_t* debugLevelName(DebugLevel level);
// Writes one line; the file and line travel with it but are not written.
void writeDebugLine(DebugLevel level, const std::wstring& text, const char* file, int line);

namespace detail {
inline void append(std::wstring& out, const std::wstring& text) { out += text; }
inline void append(std::wstring& out, const wchar_t* text) { out += text; }
void append(std::wstring& out, const std::string& text);
inline void append(std::wstring& out, const char* text) { append(out, std::string(text)); }
inline void append(std::wstring& out, const sys::Version& version) { out += sys::toString(version); }
template <typename Number, typename = std::enable_if_t<std::is_integral<Number>::value>>
void append(std::wstring& out, Number number)
{
    out += std::to_wstring(number);
}
} // namespace detail

template <typename... Parts>
std::wstring debugText(const Parts&... parts)
{
    std::wstring text;
    (detail::append(text, parts), ...);
    return text;
}

}}} // namespace ts::tk::cleaner

// TS_CLEANER_LOG(Debug, L"Patch to remove: ", patchCode): nothing is built when the
// level is off.
#define TS_CLEANER_LOG(level, ...) \
    do { \
        if (::ts::tk::cleaner::debugLogEnabled(::ts::tk::cleaner::DebugLevel::level)) \
            ::ts::tk::cleaner::writeDebugLine(::ts::tk::cleaner::DebugLevel::level, \
                ::ts::tk::cleaner::debugText(__VA_ARGS__), __FILE__, __LINE__); \
    } while (0)
