// The driver configuration text: its lines' tokens and the layout chosen from them for
// one platform and Windows version. The first byte picks the system; the rest is UTF-16
// little-endian text, one line per line feed.
#include "app/setup/driverlayout.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace ts::app::setupInstall;

using ts::fuzz::check;

namespace {

void checkTokens(const std::wstring& line)
{
    size_t from = 0;
    for (const std::wstring& token : layoutTokens(line)) {
        check(!token.empty(), "an empty token");
        const bool quoted = token.front() == L'"';
        check(!quoted || (token.size() >= 2 && token.back() == L'"'), "a quoted token without its closing quote");
        check(quoted || token.find(L' ') == std::wstring::npos, "a space in a plain token");
        // Tokens are pieces of the line, in order.
        size_t at = line.find(token, from);
        check(at != std::wstring::npos, "a token that is not in the line");
        from = at + token.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t platform = data[0] & 1;
    const int32_t osVersion = data[0] >> 1 & 15;
    std::vector<std::wstring> lines(1);
    for (size_t i = 1; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        if (unit == L'\n')
            lines.emplace_back();
        else
            lines.back() += unit;
    }
    for (const std::wstring& line : lines)
        checkTokens(line);
    const DriverLayout layout = parseDriverLayout(lines, platform, osVersion);
    check(layout.drivers.size() <= lines.size(), "more drivers than lines");
    for (const DriverEntry& entry : layout.drivers)
        check(entry.platform == platform && entry.osVersion == osVersion && osVersion != 0,
              "a driver for another system");
    check(!layout.installer.valid || (layout.installer.platform == platform && !layout.installer.path.empty()),
          "an installer for another platform");
    return 0;
}
