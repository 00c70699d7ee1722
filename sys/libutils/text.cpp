#include "sys/libutils/text.h"

#include <sstream>

namespace ts { namespace sys {

std::string toNarrow(const std::wstring& wide)
{
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        wchar_t c = wide[i];
        if (c < 128) {
            out += static_cast<char>(c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF)
            ++i;
        out += '?';
    }
    return out;
}

std::wstring toWide(const std::string& narrow)
{
    // The "C" locale maps each byte to the character of the same value.
    std::wstring out(narrow.size(), L'\0');
    for (size_t i = 0; i < narrow.size(); ++i)
        out[i] = static_cast<unsigned char>(narrow[i]);
    return out;
}

void writeWide(std::ostream& out, const std::wstring& text)
{
    for (wchar_t c : text) {
        if (c < 128)
            out << static_cast<char>(c);
        else
            out << static_cast<unsigned>(c);
    }
}

std::string logText(const std::wstring& text)
{
    std::ostringstream out;
    writeWide(out, text);
    return out.str();
}

std::wstring quotedArgument(const std::wstring& text)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : text) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote.
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        out += c;
        backslashes = 0;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

}} // namespace ts::sys
