#include "tk/libcleaner/inftext.h"

namespace ts { namespace tk { namespace cleaner {

namespace {

// The next line without its line feed, each byte widened to the character of its value.
bool readLine(std::istream& in, std::wstring& line)
{
    std::string bytes;
    if (!std::getline(in, bytes))
        return false;
    line.assign(bytes.size(), L'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        line[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    return true;
}

bool contains(const std::wstring& text, const std::wstring& part)
{
    return text.find(part) != std::wstring::npos;
}

} // namespace

bool textMentionsAny(std::istream& in, const std::vector<std::wstring>& names)
{
    for (std::wstring line; readLine(in, line);)
        for (const std::wstring& name : names)
            if (contains(line, name))
                return true;
    return false;
}

InfProviderText findProviderText(std::istream& in)
{
    InfProviderText result;
    std::wstring key = L"Provider";
    for (std::wstring line; readLine(in, line);) {
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
    for (std::wstring line; readLine(in, line);) {
        const size_t end = line.find_last_not_of(L" \t\r\n");
        line.erase(end == std::wstring::npos ? 0 : end + 1);
        if (!contains(line, L"DriverVer"))
            continue;
        const size_t comma = line.rfind(L',');
        sys::Version version;
        if (comma != std::wstring::npos)
            sys::parseVersion(line.substr(comma + 1), version);
        return version;
    }
    return sys::Version();
}

}}} // namespace ts::tk::cleaner
