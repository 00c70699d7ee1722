#include "tk/libcleaner/inftext.h"

#include <cstdint>
#include <iterator>

namespace ts { namespace tk { namespace cleaner {

namespace {

// UTF-8 to UTF-16 from `from` on; a byte that starts no valid sequence stands for itself.
void appendUtf8(const std::string& bytes, size_t from, std::wstring& out)
{
    static const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    for (size_t i = from; i < bytes.size();) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                            : (lead & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
        bool valid = length > 0 && i + length <= bytes.size();
        for (size_t k = 1; valid && k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(bytes[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are no valid sequences.
        valid = valid && code >= smallest[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (!valid) {
            out += static_cast<wchar_t>(lead);
            ++i;
            continue;
        }
        if (code > 0xFFFF) {
            out += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
        i += length;
    }
}

// The lines of a text without their line feeds.
class Lines {
public:
    explicit Lines(std::istream& in) : m_text(readInfText(in)) {}
    bool next(std::wstring& line)
    {
        if (m_position >= m_text.size())
            return false;
        size_t end = m_text.find(L'\n', m_position);
        if (end == std::wstring::npos)
            end = m_text.size();
        line.assign(m_text, m_position, end - m_position);
        m_position = end + 1;
        return true;
    }

private:
    std::wstring m_text;
    size_t m_position = 0;
};

bool contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

} // namespace

std::wstring readInfText(std::istream& in)
{
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::wstring text;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        text.reserve(bytes.size() / 2);
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8);
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        appendUtf8(bytes, 3, text);
    } else {
        text.reserve(bytes.size());
        for (char byte : bytes)
            text += static_cast<wchar_t>(static_cast<unsigned char>(byte));
    }
    return text;
}

bool textMentionsAny(std::istream& in, const std::vector<std::wstring>& names)
{
    Lines lines(in);
    for (std::wstring line; lines.next(line);)
        for (const std::wstring& name : names)
            if (contains(line, name))
                return true;
    return false;
}

InfProviderText findProviderText(std::istream& in)
{
    InfProviderText result;
    std::wstring key = L"Provider";
    Lines lines(in);
    for (std::wstring line; lines.next(line);) {
        if (!contains(line, key))
            continue;
        const size_t percent = line.find(L'%');
        if (percent != std::wstring::npos) {
            const size_t end = line.find(L'%', percent + 1);
            if (end == std::wstring::npos) {
                result.unresolved = true;
                return result;
            }
            // Provider=%MfgName%: the value is that of the string token, in a later line.
            key = line.substr(percent + 1, end - percent - 1);
            continue;
        }
        const size_t equals = line.find(L'=');
        if (equals == std::wstring::npos)
            result.unresolved = true;
        else
            result.text = line.substr(equals + 1);
        return result;
    }
    return result;
}

sys::Version findDriverVersionText(std::istream& in)
{
    Lines lines(in);
    for (std::wstring line; lines.next(line);) {
        const size_t end = line.find_last_not_of(L" \t\r\n");
        line.erase(end == std::wstring::npos ? 0 : end + 1);
        if (!contains(line, L"DriverVer"))
            continue;
        const size_t comma = line.rfind(L',');
        sys::Version version;
        if (comma != std::wstring::npos)
            sys::parseShortVersion(line.substr(comma + 1), version);
        return version;
    }
    return sys::Version();
}

}}} // namespace ts::tk::cleaner
