// The version parser on any text, each byte one character as the INF readers and the
// registry hand it over: what it accepts prints back to the same version.
#include "sys/libutils/version.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <string>

using ts::sys::Version;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i < size; ++i)
        text += static_cast<wchar_t>(data[i]);
    const Version unset(0x1111222233334444ull);
    Version out = unset;
    if (!ts::sys::parseVersion(text, out)) {
        ts::fuzz::check(out == unset, "a refused text changed the version");
        return 0;
    }
    const std::wstring printed = ts::sys::toString(out);
    Version again;
    ts::fuzz::check(ts::sys::parseVersion(printed, again) && again == out &&
                        ts::sys::toNarrowString(out) == std::string(printed.begin(), printed.end()),
                    "a version does not print back to itself");
    return 0;
}
