// Conversions between wide (UTF-16) and narrow text, and wide text in narrow log lines.
#pragma once
#include <ostream>
#include <string>

namespace ts { namespace sys {

// Characters below 128 are copied, any other code point (a surrogate pair counts
// as one) becomes "?".
std::string toNarrow(const std::wstring& wide);
// Each byte becomes the character of the same value.
std::wstring toWide(const std::string& narrow);

// Wide text into a narrow log line: non-ASCII UTF-16 units as their decimal values.
void writeWide(std::ostream& out, const std::wstring& text);
std::string logText(const std::wstring& text);

// One argument of a child command line, in double quotes, such that CommandLineToArgvW
// (and the C runtime) gives back exactly `text`: a quote inside becomes \" and the
// backslashes before it or before the closing quote are doubled. Other backslashes stay
// as they are, so a plain path reads as itself.
std::wstring quotedArgument(const std::wstring& text);

}} // namespace ts::sys
