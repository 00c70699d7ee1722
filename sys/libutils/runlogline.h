// The lines of the run log and of the logger's plain form: elapsed time and level name.
// Plain code: the host's fuzz targets build it too.
#pragma once
#include <cstdint>
#include <string>

namespace ts { namespace sys {

// "HH:MM:SS.mmm" of a millisecond count; hours are not wrapped.
std::string formatElapsed(uint64_t milliseconds);
// "[" + elapsed + "] " + level name padded to 7 + "\t" + text (no line end).
std::string formatRunLogLine(uint64_t elapsedMs, int level, const std::string& text);

}} // namespace ts::sys
