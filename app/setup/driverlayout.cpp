#include "app/setup/driverlayout.h"

#include "sys/libutils/win32/osnames.h"

namespace ts { namespace app { namespace setupInstall {

namespace {

// One leading and one trailing quote removed, when present.
std::wstring unquoted(std::wstring text)
{
    if (!text.empty() && text.front() == L'"')
        text.erase(0, 1);
    if (!text.empty() && text.back() == L'"')
        text.pop_back();
    return text;
}

int32_t platformOf(const std::wstring& name)
{
    return static_cast<int32_t>(sys::win32::architectureFromName(name));
}

} // namespace

std::vector<std::wstring> layoutTokens(const std::wstring& line)
{
    std::vector<std::wstring> tokens;
    size_t at = 0;
    while (at < line.size()) {
        if (line[at] == L' ') {
            ++at;
            continue;
        }
        size_t end;
        if (line[at] == L'"') {
            end = line.find(L'"', at + 1);
            if (end == std::wstring::npos)
                break;
            ++end;
        } else {
            end = line.find(L' ', at);
            if (end == std::wstring::npos)
                end = line.size();
        }
        tokens.push_back(line.substr(at, end - at));
        at = end;
    }
    return tokens;
}

DriverLayout parseDriverLayout(const std::vector<std::wstring>& lines, int32_t platform, int32_t osVersion)
{
    const int32_t invalidPlatform = static_cast<int32_t>(sys::win32::Architecture::unknown);
    DriverLayout layout;
    for (const std::wstring& line : lines) {
        std::vector<std::wstring> tokens = layoutTokens(line);
        if (tokens.size() == 5 && tokens[0] == L"DRIVER") {
            DriverEntry entry;
            entry.description = unquoted(tokens[1]);
            entry.platform = platformOf(tokens[2]);
            entry.osVersion = tokens[3] == L"*" ? osVersion
                                                : static_cast<int32_t>(sys::win32::osVersionFromName(tokens[3]));
            entry.folder = unquoted(tokens[4]);
            if (entry.platform != invalidPlatform && entry.osVersion != 0 && entry.platform == platform &&
                entry.osVersion == osVersion)
                layout.drivers.push_back(entry);
        } else if (tokens.size() == 3 && tokens[0] == L"DPINST") {
            int32_t installerPlatform = platformOf(tokens[1]);
            if (installerPlatform == platform) {
                layout.installer.valid = true;
                layout.installer.path = tokens[2];
                layout.installer.platform = installerPlatform;
            }
        }
    }
    return layout;
}

}}} // namespace ts::app::setupInstall
