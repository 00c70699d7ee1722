// The extended-properties record on any bytes.
#include "app/setup/extendedproperties.h"
#include "fuzzsupport.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A copy of exactly `size` bytes, so that a read past the record is caught.
    std::vector<uint8_t> record(data, data + size);
    ts::app::setupInstall::ExtendedProperties out;
    const bool parsed = ts::app::setupInstall::parseExtendedProperties(record.data(), record.size(), out);
    ts::fuzz::check(!parsed || (size >= 59 && data[0] != 0 && (data[17] || out.coreVersion.empty()) &&
                                (data[26] || out.productVersion.empty())),
                    "a record taken that should be refused, or a version without its marker");
    return 0;
}
