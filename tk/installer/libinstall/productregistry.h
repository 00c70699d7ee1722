// The product's own registry facts, each stated once: root, key, value name and the
// registry view it is read or written in, with why that view. The installed versions,
// "Version" of the Core key and of a product's key, are read by
// sys::win32::registry::readCoreVersion and readProductVersion (native view), which own
// those two key paths; the keys below are built on the same paths.
#pragma once
#include "sys/libutils/win32/registry.h"

#include <windows.h>
#include <string>

namespace ts { namespace tk { namespace install {

enum class RegistryView {
    Default, // what a 32-bit program opens without view bits: the 32-bit view on 64-bit Windows
    Native,  // the operating system's own view
};

struct RegistryFact {
    const wchar_t* root;  // a root name of the key-path syntax: "HKLM"
    std::wstring key;     // below the root
    std::wstring value;   // value name; empty for a key
    RegistryView view;

    HKEY rootKey() const;
    // The bits to add to an access mask: 0, or KEY_WOW64_64KEY on 64-bit Windows.
    REGSAM viewBits() const;
    // root + "\" + key, the form the key-path classes open.
    std::wstring keyPath() const;
};

// The fact's text, read in its view by the registry's one string reader.
sys::win32::registry::StringRead readFact(const RegistryFact& fact,
                                          const sys::win32::registry::StringReadRule& rule = {});

// Keys that the installed Core software and the product installers write: on 64-bit
// Windows the 64-bit packages are the ones installed, and they write the native view.
constexpr RegistryView kInstalledView = RegistryView::Native;

// HKLM\SOFTWARE\Tessaline\Core, the Core software's key (kInstalledView).
RegistryFact coreValue(const wchar_t* name);
const wchar_t kCoreProductCode[] = L"GUID";                           // its Windows Installer product code
const wchar_t kInstallerApiLocation[] = L"InstallerApiFileLocation";  // full path of its installer API library

// HKLM\SOFTWARE\Tessaline\Core\Volatile, the reboot flags (REG_SZ), gone at the next
// restart. Default view: the flags are agreed with the Core software in the view that a
// 32-bit program opens without view bits.
const wchar_t kVolatileSubkeyName[] = L"Volatile";
RegistryFact rebootFlag(const std::wstring& name);
const wchar_t kSuppressReboot[] = L"SuppressReboot";   // exactly "yes": suppress a needed reboot
const wchar_t kRebootNeededNow[] = L"RebootNeededNow"; // exactly "1": restart now

// HKLM\SOFTWARE\Tessaline\Products\<product>, a product's key (kInstalledView).
RegistryFact productValue(const std::wstring& product, const wchar_t* name);
const wchar_t kProductCode[] = L"ProductCode";

// The Core software's entries in the settings tree (Software\Tessaline\Core, machine
// scope), read through the option framework. Default view: the settings tree opens its
// keys without view bits, as every settings reader of this program does.
const char kCoreSettings[] = "Core";
const char kCoreSettingVersion[] = "Version";
const char kCoreSettingProductCode[] = "GUID";

// The registration that the cleanup fakes around an uninstall: HKLM\SOFTWARE\Tessaline
// with its Core and Products keys, Core "GUID" and Products "ProductCount". Native view:
// it stands in for the installed Core software's own registration.
RegistryFact tessalineKey();
RegistryFact productsValue(const wchar_t* name);
const wchar_t kProductCount[] = L"ProductCount"; // REG_DWORD

}}} // namespace ts::tk::install
