// Real Windows Installer packages for the tests (built from tests/testdata/msi/*.wxs into
// <build>\testdata\msi), installed and removed with the prefix's own msiexec, and
// registry exports to compare what they left before and after a test.
// What Wine's msiexec writes: tests/testdata/msi/README.md.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ts { namespace test { namespace msi {

// One fixture package: its file name (without ".msi") and the codes of its .wxs.
struct Fixture {
    std::wstring package;      // "core-7.3.1000"
    std::wstring productCode;  // "{0D1F9702-...}", as in the .wxs
    std::wstring upgradeCode;
    std::wstring displayName;
    std::wstring version;      // as in the .wxs, also the DisplayVersion
    std::vector<std::wstring> componentCodes;
};

// The fixtures of tests/testdata/msi.
extern const Fixture kCore73;      // "Tessaline Core Software" 7.3.1000.0, three components
extern const Fixture kCore750;     // the same name, 7.5.0.0
extern const Fixture kCore751;     // the same name, three-part version 7.5.1
extern const Fixture kOrvaneViewer; // unrelated, shares kSharedComponent with kCore73
extern const Fixture kKeldorTools;  // unrelated, shares nothing
extern const wchar_t kSharedComponent[];
// The three Core packages share this upgrade code.
extern const wchar_t kCoreUpgradeCode[];

// "<build>\testdata\msi\<package>.msi".
std::wstring packagePath(const std::wstring& package);
// The packed form Windows Installer uses in key and value names:
// "{0D1F9702-A86B-403E-9746-C24A3CF3E9BF}" -> "2079F1D0B68AE30479642CA4C33F9EFB".
std::wstring packedGuid(const std::wstring& guid);

// The machine keys Windows Installer writes to, as the cleaner names them.
extern const wchar_t kInstallerKey[];   // HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer
extern const wchar_t kUserDataKey[];    // ...\Installer\UserData\S-1-5-18
extern const wchar_t kClassesInstallerKey[]; // HKLM\SOFTWARE\Classes\Installer

// "msiexec /qn /i <package> ALLUSERS=1 <properties>" with the system folder's msiexec;
// the full exit code.
uint32_t install(const std::wstring& package, const std::wstring& properties = L"");
// "msiexec /qn /x <productCode>"; the full exit code.
uint32_t uninstall(const std::wstring& productCode);
// Whether Windows Installer has the product registered (its InstallProperties key).
bool isRegistered(const std::wstring& productCode);

// Text values of the product's InstallProperties ("" when missing).
std::wstring installProperty(const std::wstring& productCode, const std::wstring& name);

// Removes by hand whatever registration of the product is left (keys named by its packed
// code, its values in shared Components and UpgradeCodes keys, which are deleted when
// nothing else is left in them, its Uninstall entry in both views), its cached package
// and `installFolder` (when not empty). For tests that broke a registration.
void forgetProduct(const std::wstring& productCode, const std::wstring& localPackage,
                   const std::wstring& installFolder);

// Installs a fixture for the time of a test (one left registered by an earlier run is
// uninstalled first). The destructor uninstalls it with msiexec
// and then removes anything left (forgetProduct), also when the test failed early or
// the product's registration was damaged on purpose.
class InstalledFixture {
public:
    explicit InstalledFixture(const Fixture& fixture);
    ~InstalledFixture();
    InstalledFixture(const InstalledFixture&) = delete;
    InstalledFixture& operator=(const InstalledFixture&) = delete;

    // msiexec's exit code of the installation (0 when it worked).
    uint32_t installResult() const { return m_installResult; }
    const Fixture& fixture() const { return m_fixture; }
    std::wstring packed() const { return packedGuid(m_fixture.productCode); }
    // As registered right after the installation.
    const std::wstring& localPackage() const { return m_localPackage; }
    const std::wstring& installLocation() const { return m_installLocation; }

private:
    const Fixture& m_fixture;
    uint32_t m_installResult;
    std::wstring m_localPackage;
    std::wstring m_installLocation;
};

// A registry export: key path -> (value name -> "type:hex bytes"), in the 64-bit view on
// 64-bit Windows. Keys without values are present with an empty map.
using KeyValues = std::map<std::wstring, std::wstring>;
using RegistryExport = std::map<std::wstring, KeyValues>;

// The key `path` ("HKLM\...") with everything below it; empty when it does not exist.
RegistryExport exportTree(const std::wstring& path);
// Only the keys whose last component is `packedName`, wherever they are below `path`,
// with their trees, plus the values named `packedName` of every key below `path`.
RegistryExport exportNamed(const std::wstring& path, const std::wstring& packedName);
// Everything the product has in the registry: its keys and values below the Installer
// trees and its Uninstall entries (both views).
RegistryExport productRegistration(const std::wstring& productCode);
// One line per key and value that differs, key by key ("+ key", "- key\value",
// "~ key\value: before -> after"); empty when both are the same.
std::string compareExports(const RegistryExport& before, const RegistryExport& after);
// The export as sorted text (for messages and for files).
std::string exportText(const RegistryExport& data);

}}} // namespace ts::test::msi
