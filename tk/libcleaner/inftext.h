// The line rules of the INF readers: lines end at line feeds, searches are case-sensitive
// substring searches, and nothing of the INF syntax (sections, comments, quoting) is
// understood. Plain C++ without Windows, so that it also builds for the host.
#pragma once
#include "sys/libutils/version.h"

#include <istream>
#include <string>
#include <vector>

namespace ts { namespace tk { namespace cleaner {

// The characters of an INF file: after a UTF-16LE byte-order mark one per 16-bit unit,
// after a UTF-8 one as decoded (a byte that starts no valid sequence stands for itself),
// else one per byte. Either way the text is the one the file's ANSI form gives.
std::wstring readInfText(std::istream& in);

// True at the first line that contains any of `names`; false at the end of the text.
bool textMentionsAny(std::istream& in, const std::vector<std::wstring>& names);

// What the provider search found.
struct InfProviderText {
    // Everything after the first "=" of the provider line, unchanged (blanks, quotes and
    // a carriage return included); empty when not found.
    std::wstring text;
    // A line held the key, but neither a complete %token% nor a "=" value.
    bool unresolved = false;
};

// The first line holding "Provider" gives the value after its "="; a %token% in that
// line names the key to look for in the lines after it instead.
InfProviderText findProviderText(std::istream& in);

// The version after the last comma of the first line that mentions "DriverVer"
// (trailing blanks, tabs and line ends removed), missing parts 0; 0 when there is none,
// no comma, or the text does not parse.
sys::Version findDriverVersionText(std::istream& in);

}}} // namespace ts::tk::cleaner
