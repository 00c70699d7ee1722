// The extended-properties record (resource RT_RCDATA 1): the package's Core and product versions.
#pragma once
#include "sys/libutils/version.h"

#include <cstddef>
#include <cstdint>

namespace ts { namespace app { namespace setupInstall {

struct ExtendedProperties {
    sys::Version coreVersion;    // 0 when the record carries none
    sys::Version productVersion; // 0 when the record carries none
};

// Parses a record of `size` bytes. False when it is shorter than 59 bytes, its valid
// marker is 0, or its table does not lie inside the record.
bool parseExtendedProperties(const uint8_t* data, size_t size, ExtendedProperties& out);

// The error text of a record that does not load.
extern const char* const kExtendedPropertiesError;

}}} // namespace ts::app::setupInstall
