// Product data of the cleanup: the upgrade codes of the product's earlier packages and
// the device setup class of its USB display devices.
#pragma once
#include <guiddef.h>

namespace ts { namespace tk { namespace install {

// 35 upgrade codes in registry text form, then an empty entry that ends the table.
extern const wchar_t* const kLegacyUpgradeCodes[36];
// The names of earlier products as Add/Remove Programs shows them.
extern const wchar_t* const kLegacyDisplayNames[2];
extern const wchar_t kCoreDisplayName[];
// Device setup class of the product's USB display devices.
extern const GUID kProductDeviceClassGuid;
extern const wchar_t kProductDeviceClassGuidText[];

}}} // namespace ts::tk::install
