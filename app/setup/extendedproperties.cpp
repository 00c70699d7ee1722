#include "app/setup/extendedproperties.h"

namespace ts { namespace app { namespace setupInstall {

const char* const kExtendedPropertiesError = "Installer Extended Properties could not be loaded";

namespace {
uint64_t read64(const uint8_t* p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return v;
}
uint32_t read32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
} // namespace

bool parseExtendedProperties(const uint8_t* data, size_t size, ExtendedProperties& out)
{
    if (!data || size < 59 || data[0] == 0)
        return false;
    uint32_t count = read32(data + 51);
    uint32_t offset = read32(data + 55);
    // 64-bit arithmetic: a huge count or offset must not wrap around.
    if (count != 0 && uint64_t(offset) + 4 * uint64_t(count) > size)
        return false;
    out.coreVersion = sys::Version(data[17] ? read64(data + 18) : 0);
    out.productVersion = sys::Version(data[26] ? read64(data + 27) : 0);
    return true;
}

}}} // namespace ts::app::setupInstall
