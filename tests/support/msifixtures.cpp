#include "support/msifixtures.h"

#include "support/registrytree.h"
#include "support/testsupport.h"
#include "sys/libutils/win32/win32nr.h"

#include <windows.h>
#include <cstdio>
#include <functional>

namespace ts { namespace test { namespace msi {

const wchar_t kSharedComponent[] = L"{F690A5B0-1323-4DB8-81F3-04B25A60DDFA}";
const wchar_t kCoreUpgradeCode[] = L"{7E7EEFE7-A4C9-45CF-8825-53F5B8FD24DA}";

const Fixture kCore73 = {L"core-7.3.1000", L"{0D1F9702-A86B-403E-9746-C24A3CF3E9BF}", kCoreUpgradeCode,
                         L"Tessaline Core Software", L"7.3.1000.0",
                         {L"{5C201890-3C45-4C48-BEC1-BA5D250B7E6E}", L"{3F6E5305-FE80-4C9F-9321-E7B1F00EF60F}",
                          kSharedComponent}};
const Fixture kCore750 = {L"core-7.5.0", L"{2E3DA8B3-100E-473D-8756-9746F031338B}", kCoreUpgradeCode,
                          L"Tessaline Core Software", L"7.5.0.0", {L"{0EA172B3-B400-4299-AD9A-89E162E7C580}"}};
const Fixture kCore751 = {L"core-7.5.1", L"{56BD8389-BD13-41DD-A9A2-2AE07D3A5B88}", kCoreUpgradeCode,
                          L"Tessaline Core Software", L"7.5.1", {L"{1FBBD7CF-1082-43CD-B890-C1708DABD507}"}};
const Fixture kOrvaneViewer = {L"orvane-viewer", L"{D84D8615-0047-497F-8C00-D76D68B50820}",
                               L"{62D7389D-1B19-48B2-92CE-3BF041163BE2}", L"Orvane Viewer", L"1.2.0.0",
                               {L"{DBA0E0A1-3D52-449F-868C-875CB406D841}", kSharedComponent}};
const Fixture kKeldorTools = {L"keldor-tools", L"{A759017E-EAEC-4B15-B42A-63532DAD6404}",
                              L"{5A479EC5-D4C1-4EE3-B296-6B55EC9E619A}", L"Keldor Tools", L"3.0.0.0",
                              {L"{6F9988B9-2F12-4BA1-BD36-6B35282C2C88}"}};

const wchar_t kInstallerKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const wchar_t kUserDataKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18";
const wchar_t kClassesInstallerKey[] = L"HKLM\\SOFTWARE\\Classes\\Installer";

namespace {

const wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
// Export paths of the 32-bit view of 64-bit Windows carry this root instead of "HKLM".
const wchar_t kHklm32[] = L"HKLM(32-bit view)";

std::wstring msiexec()
{
    return sys::win32::getSystemDirectory(false) + L"\\msiexec.exe";
}

// "HKLM\X" -> HKLM and "X" with the 64-bit view; the 32-bit view for kHklm32.
REGSAM splitPath(const std::wstring& path, std::wstring& subkey)
{
    size_t slash = path.find(L'\\');
    std::wstring root = path.substr(0, slash);
    subkey = slash == std::wstring::npos ? L"" : path.substr(slash + 1);
    return root == kHklm32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
}

HKEY openKey(const std::wstring& path, REGSAM access)
{
    std::wstring subkey;
    REGSAM view = splitPath(path, subkey);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, access | view, &key) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// Value name -> "type:hex bytes".
KeyValues valuesOf(HKEY key)
{
    KeyValues values;
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384;
        DWORD type = 0;
        std::vector<BYTE> data(65536);
        DWORD size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        std::string text = std::to_string(type) + ":";
        for (DWORD b = 0; b < size; ++b) {
            char hex[3];
            snprintf(hex, sizeof hex, "%02x", data[b]);
            text += hex;
        }
        values[std::wstring(name, nameLength)] = widen(text);
    }
    return values;
}

// Calls `visit` for the key and every key below it, parents first.
void walk(const std::wstring& path, const std::function<void(const std::wstring&, HKEY)>& visit)
{
    HKEY key = openKey(path, KEY_READ);
    if (!key)
        return;
    visit(path, key);
    std::vector<std::wstring> names = subkeyNames(key);
    RegCloseKey(key);
    for (const std::wstring& name : names)
        walk(path + L"\\" + name, visit);
}

std::wstring lastComponent(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

void deleteTree(const std::wstring& path)
{
    std::wstring subkey;
    REGSAM view = splitPath(path, subkey);
    size_t slash = subkey.rfind(L'\\');
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS | view, &parent) !=
        ERROR_SUCCESS)
        return;
    RegDeleteTreeW(parent, subkey.substr(slash + 1).c_str());
    RegCloseKey(parent);
}

} // namespace

std::wstring packagePath(const std::wstring& package)
{
    return buildDir() + L"\\testdata\\msi\\" + package + L".msi";
}

std::wstring packedGuid(const std::wstring& guid)
{
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": the first three groups reversed, then
    // each byte of the last two with its digits swapped.
    std::wstring hex;
    for (wchar_t c : guid)
        if (c != L'{' && c != L'}' && c != L'-')
            hex += c;
    if (hex.size() != 32)
        return L"";
    std::wstring packed;
    packed.append(hex.rbegin() + 24, hex.rend());
    packed.append(hex.rbegin() + 20, hex.rbegin() + 24);
    packed.append(hex.rbegin() + 16, hex.rbegin() + 20);
    for (size_t i = 16; i < 32; i += 2) {
        packed += hex[i + 1];
        packed += hex[i];
    }
    return packed;
}

uint32_t install(const std::wstring& package, const std::wstring& properties)
{
    std::wstring command = L"\"" + msiexec() + L"\" /qn /i \"" + packagePath(package) + L"\" ALLUSERS=1";
    if (!properties.empty())
        command += L" " + properties;
    ProcessResult result = runProcess(command, 600000);
    return result.started && !result.timedOut ? result.exitCode : 0xFFFFFFFF;
}

uint32_t uninstall(const std::wstring& productCode)
{
    ProcessResult result = runProcess(L"\"" + msiexec() + L"\" /qn /x " + productCode, 600000);
    return result.started && !result.timedOut ? result.exitCode : 0xFFFFFFFF;
}

std::wstring installProperty(const std::wstring& productCode, const std::wstring& name)
{
    HKEY key = openKey(std::wstring(kUserDataKey) + L"\\Products\\" + packedGuid(productCode) + L"\\InstallProperties",
                       KEY_READ);
    if (!key)
        return L"";
    wchar_t data[2048] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    DWORD type = 0;
    LONG error = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return error == ERROR_SUCCESS && type == REG_SZ ? std::wstring(data) : L"";
}

bool isRegistered(const std::wstring& productCode)
{
    HKEY key = openKey(std::wstring(kUserDataKey) + L"\\Products\\" + packedGuid(productCode) + L"\\InstallProperties",
                       KEY_READ);
    if (key)
        RegCloseKey(key);
    return key != nullptr;
}

void forgetProduct(const std::wstring& productCode, const std::wstring& localPackage,
                   const std::wstring& installFolder)
{
    const std::wstring packed = packedGuid(productCode);
    for (const wchar_t* root : {kInstallerKey, kClassesInstallerKey}) {
        std::vector<std::wstring> keys;
        std::vector<std::wstring> holders;
        walk(root, [&](const std::wstring& path, HKEY key) {
            if (lastComponent(path) == packed)
                keys.push_back(path);
            else if (RegQueryValueExW(key, packed.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
                holders.push_back(path);
        });
        for (const std::wstring& path : keys)
            deleteTree(path);
        for (const std::wstring& path : holders) {
            HKEY key = openKey(path, KEY_ALL_ACCESS);
            if (!key)
                continue;
            RegDeleteValueW(key, packed.c_str());
            DWORD subkeys = 0, values = 0;
            RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr);
            RegCloseKey(key);
            if (subkeys == 0 && values == 0)
                deleteTree(path);
        }
    }
    deleteTree(L"HKLM\\" + std::wstring(kUninstallKey) + productCode);
    deleteTree(kHklm32 + std::wstring(L"\\") + kUninstallKey + productCode);
    if (!localPackage.empty()) {
        SetFileAttributesW(localPackage.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(localPackage.c_str());
    }
    if (!installFolder.empty() && installFolder.size() > 3) {
        removeTree(installFolder);
        // msiexec leaves the emptied parent ("Tessaline") behind; a folder in use stays.
        std::wstring parent = installFolder.substr(0, installFolder.find_last_of(L'\\', installFolder.size() - 2));
        RemoveDirectoryW(parent.c_str());
    }
}

InstalledFixture::InstalledFixture(const Fixture& fixture) : m_fixture(fixture)
{
    // Left over from a run that died: start from a prefix without it.
    if (isRegistered(fixture.productCode))
        uninstall(fixture.productCode);
    m_installResult = install(fixture.package);
    m_localPackage = installProperty(fixture.productCode, L"LocalPackage");
    m_installLocation = installProperty(fixture.productCode, L"InstallLocation");
}

InstalledFixture::~InstalledFixture()
{
    if (isRegistered(m_fixture.productCode))
        uninstall(m_fixture.productCode);
    forgetProduct(m_fixture.productCode, m_localPackage, m_installLocation);
}

RegistryExport exportTree(const std::wstring& path)
{
    RegistryExport data;
    walk(path, [&](const std::wstring& keyPath, HKEY key) { data[keyPath] = valuesOf(key); });
    return data;
}

RegistryExport exportNamed(const std::wstring& path, const std::wstring& packedName)
{
    RegistryExport data;
    std::vector<std::wstring> named;
    walk(path, [&](const std::wstring& keyPath, HKEY key) {
        if (lastComponent(keyPath) == packedName) {
            named.push_back(keyPath);
            return;
        }
        KeyValues values = valuesOf(key);
        auto value = values.find(packedName);
        if (value != values.end())
            data[keyPath][value->first] = value->second;
    });
    for (const std::wstring& keyPath : named)
        for (auto& entry : exportTree(keyPath))
            data[entry.first] = entry.second;
    return data;
}

RegistryExport productRegistration(const std::wstring& productCode)
{
    const std::wstring packed = packedGuid(productCode);
    RegistryExport data = exportNamed(kInstallerKey, packed);
    for (auto& entry : exportNamed(kClassesInstallerKey, packed))
        data[entry.first] = entry.second;
    for (auto& entry : exportTree(L"HKLM\\" + std::wstring(kUninstallKey) + productCode))
        data[entry.first] = entry.second;
    for (auto& entry : exportTree(kHklm32 + std::wstring(L"\\") + kUninstallKey + productCode))
        data[entry.first] = entry.second;
    return data;
}

std::string compareExports(const RegistryExport& before, const RegistryExport& after)
{
    std::string out;
    for (const auto& key : before) {
        auto other = after.find(key.first);
        if (other == after.end()) {
            out += "- " + narrow(key.first) + "\n";
            continue;
        }
        for (const auto& value : key.second) {
            auto otherValue = other->second.find(value.first);
            if (otherValue == other->second.end())
                out += "- " + narrow(key.first) + "\\" + narrow(value.first) + "\n";
            else if (otherValue->second != value.second)
                out += "~ " + narrow(key.first) + "\\" + narrow(value.first) + ": " + narrow(value.second) +
                       " -> " + narrow(otherValue->second) + "\n";
        }
        for (const auto& value : other->second)
            if (!key.second.count(value.first))
                out += "+ " + narrow(key.first) + "\\" + narrow(value.first) + "\n";
    }
    for (const auto& key : after)
        if (!before.count(key.first))
            out += "+ " + narrow(key.first) + "\n";
    return out;
}

std::string exportText(const RegistryExport& data)
{
    std::string out;
    for (const auto& key : data) {
        out += "[" + narrow(key.first) + "]\n";
        for (const auto& value : key.second)
            out += "\"" + narrow(value.first) + "\"=" + narrow(value.second) + "\n";
    }
    return out;
}

}}} // namespace ts::test::msi
