#include "tk/libcleaner/windowsinstaller.h"

#include "sys/libutils/win32/win32nr.h"
#include "tk/libcleaner/debuglog.h"

#include <memory>

namespace ts { namespace tk { namespace cleaner {

using sys::win32::registry::RegistryException;
using sys::win32::registry::RegistryKey;
using sys::win32::registry::RegistryValue;

namespace {

const wchar_t kInstallerKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const wchar_t kUserDataKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData";
const wchar_t kFoldersKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Folders";
const wchar_t kUpgradeCodesKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UpgradeCodes";
const wchar_t kClassesInstallerKey[] = L"HKLM\\SOFTWARE\\Classes\\Installer";

// KEY_ALL_ACCESS | KEY_WOW64_64KEY: Windows Installer keeps its data in the 64-bit view.
const REGSAM kKeyAccess = 0xF013F;

std::wstring userDataPath(const std::wstring& user)
{
    return std::wstring(kUserDataKey) + L"\\" + user;
}

std::wstring readString(const RegistryKey& key, const std::wstring& name)
{
    return RegistryValue(key, name).getString();
}

} // namespace

std::wstring stripDirectoryPath(const std::wstring& path)
{
    std::wstring stripped = path;
    while (!stripped.empty() && (stripped.back() == L'\\' || stripped.back() == L'"'))
        stripped.pop_back();
    return stripped;
}

WindowsInstallerCleaner::WindowsInstallerCleaner(void* reportingContext)
    : m_keyAccess(kKeyAccess, nullptr, false), m_reportingContext(reportingContext)
{
}

WindowsInstallerCleaner::~WindowsInstallerCleaner()
{
    try {
        commit();
    } catch (...) {
        // The commit logs its own failures; nothing may leave a destructor.
    }
}

bool WindowsInstallerCleaner::cleanProduct(const std::wstring& displayName, const sys::Version& version,
                                           bool keepInstallLocation)
{
    std::vector<std::wstring> users;
    try {
        users = m_keyAccess.open(kUserDataKey).subkeys()->names();
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Error, L"Cannot query user IDs for the system.");
        return false;
    }
    bool result = true;
    for (const std::wstring& user : users) {
        TS_CLEANER_LOG(Debug, L"Checking if '", displayName, L"' is present for user ", user);
        result = cleanUserProducts(user, displayName, version, keepInstallLocation) && result;
    }
    return result;
}

bool WindowsInstallerCleaner::cleanUserProducts(const std::wstring& user, const std::wstring& displayName,
                                                const sys::Version& version, bool keepInstallLocation)
{
    std::unique_ptr<sys::win32::registry::SubkeyList> products;
    try {
        products = m_keyAccess.open(userDataPath(user) + L"\\Products").subkeys();
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read Products key for user id ", user);
        return false;
    }
    bool result = true;
    for (const RegistryKey& product : products->keys) {
        try {
            if (!product.hasSubkey(L"InstallProperties"))
                continue;
            RegistryKey properties(product, L"InstallProperties");
            if (readString(properties, L"DisplayName") != displayName)
                continue;
            std::wstring displayVersion = readString(properties, L"DisplayVersion");
            sys::Version installed;
            // Windows Installer versions have three parts or four; a text that is no
            // version cannot be compared: it is removed.
            if (sys::parseShortVersion(displayVersion, installed) && installed > version) {
                TS_CLEANER_LOG(Debug, L"Skipping ", displayName, L" version ", displayVersion, L" for ", user);
                continue;
            }
        } catch (const RegistryException&) {
            continue;
        }
        result = removeProduct(product, displayName, user, keepInstallLocation) && result;
    }
    return result;
}

bool WindowsInstallerCleaner::removeProduct(const RegistryKey& productKey, const std::wstring& displayName,
                                            const std::wstring& user, bool keepInstallLocation)
{
    const std::wstring productCode = productKey.getKeyName();
    TS_CLEANER_LOG(Info, L"Starting to remove product ", productCode, L" (", displayName, L") for user ", user);

    bool folders = true;
    if (!keepInstallLocation) {
        try {
            std::wstring installLocation = readString(RegistryKey(productKey, L"InstallProperties"), L"InstallLocation");
            if (!installLocation.empty()) {
                m_directoriesToRemove.push_back(installLocation);
                folders = removeFolders(installLocation);
            }
        } catch (const RegistryException&) {
            TS_CLEANER_LOG(Warn, L"Unable to read InstallLocation for product ", productCode);
            folders = false;
        }
    }
    try {
        m_filesToRemove.push_back(readString(RegistryKey(productKey, L"InstallProperties"), L"LocalPackage"));
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read LocalPackage for product ", productCode);
    }

    bool components = removeComponents(user, productCode);
    bool features = removeFeatures(productCode);
    bool patches = true;
    if (productKey.hasSubkey(L"Patches")) {
        try {
            for (const std::wstring& patchCode : RegistryKey(productKey, L"Patches").subkeys()->names())
                patches = removePatch(user, patchCode) && patches;
        } catch (const RegistryException&) {
            TS_CLEANER_LOG(Warn, L"Unable to enumerate patches for product ", productCode);
            patches = false;
        }
    }
    m_keysToRemove.push_back(userDataPath(user) + L"\\Products\\" + productCode);
    m_keysToRemove.push_back(std::wstring(kClassesInstallerKey) + L"\\Products\\" + productCode);
    bool upgradeCodes = removeUpgradeCodes(productCode);
    return folders && components && features && patches && upgradeCodes;
}

bool WindowsInstallerCleaner::removeComponents(const std::wstring& user, const std::wstring& productCode)
{
    std::unique_ptr<sys::win32::registry::SubkeyList> components;
    try {
        components = m_keyAccess.open(userDataPath(user) + L"\\Components").subkeys();
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read Components key for user id ", user);
        return false;
    }
    TS_CLEANER_LOG(Info, L"Removing components for product ", productCode, L" for user ", user);
    bool result = true;
    for (const RegistryKey& component : components->keys) {
        try {
            std::unique_ptr<sys::win32::registry::ValueList> values = component.values();
            for (const RegistryValue& value : *values) {
                if (value.getValueName() == productCode) {
                    // Other products may use the component too: only this product's
                    // value goes, and the key once nothing else is left in it.
                    queueSharedValue(userDataPath(user) + L"\\Components\\" + component.getKeyName(), productCode);
                    break;
                }
            }
        } catch (const RegistryException&) {
            TS_CLEANER_LOG(Warn, L"Unable to read values for component ", component.getKeyName());
            result = false;
        }
    }
    return result;
}

bool WindowsInstallerCleaner::removePatch(const std::wstring& user, const std::wstring& patchCode)
{
    std::unique_ptr<RegistryKey> patches;
    try {
        patches = std::make_unique<RegistryKey>(m_keyAccess.open(userDataPath(user) + L"\\Patches"));
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read Patches key for user id ", user);
        return false;
    }
    TS_CLEANER_LOG(Info, L"Removing patches for user ", user);
    if (patches->hasSubkey(patchCode)) {
        TS_CLEANER_LOG(Debug, L"Patch to remove: ", patchCode);
        try {
            std::wstring localPackage = readString(RegistryKey(*patches, patchCode), L"LocalPackage");
            if (!localPackage.empty())
                m_filesToRemove.push_back(localPackage);
        } catch (const RegistryException&) {
            TS_CLEANER_LOG(Warn, L"Unable to read LocalPackage value for patch ", patchCode, L" for user ", user);
        }
        m_keysToRemove.push_back(userDataPath(user) + L"\\Patches\\" + patchCode);
        m_keysToRemove.push_back(std::wstring(kClassesInstallerKey) + L"\\Patches\\" + patchCode);
    }
    return true;
}

bool WindowsInstallerCleaner::removeUpgradeCodes(const std::wstring& productCode)
{
    std::unique_ptr<sys::win32::registry::SubkeyList> upgradeCodes;
    try {
        upgradeCodes = RegistryKey(m_keyAccess.open(kInstallerKey), L"UpgradeCodes").subkeys();
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read UpgradeCodes");
        return false;
    }
    for (const RegistryKey& upgradeCode : upgradeCodes->keys) {
        if (!upgradeCode.hasValue(productCode))
            continue;
        const std::wstring code = upgradeCode.getKeyName();
        TS_CLEANER_LOG(Debug, L"Removing upgrade code for the product ", productCode, L": ", code);
        // The other products of the same upgrade code keep their entries.
        queueSharedValue(std::wstring(kUpgradeCodesKey) + L"\\" + code, productCode);
        queueSharedValue(std::wstring(kClassesInstallerKey) + L"\\UpgradeCodes\\" + code, productCode);
        return true;
    }
    return false;
}

bool WindowsInstallerCleaner::removeFeatures(const std::wstring& productCode)
{
    std::unique_ptr<RegistryKey> features;
    try {
        features = std::make_unique<RegistryKey>(RegistryKey(m_keyAccess.open(kClassesInstallerKey), L"Features"));
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read Features key");
        return false;
    }
    TS_CLEANER_LOG(Info, L"Removing features for product ", productCode);
    if (!features->hasSubkey(productCode))
        return false;
    m_keysToRemove.push_back(std::wstring(kClassesInstallerKey) + L"\\Features\\" + productCode);
    return true;
}

bool WindowsInstallerCleaner::removeFolders(const std::wstring& installLocation)
{
    std::unique_ptr<sys::win32::registry::ValueList> folders;
    try {
        folders = m_keyAccess.open(kFoldersKey).values();
    } catch (const RegistryException&) {
        TS_CLEANER_LOG(Warn, L"Unable to read Folders");
        return false;
    }
    for (const RegistryValue& folder : *folders) {
        const std::wstring name = folder.getValueName();
        if (name.find(installLocation) == std::wstring::npos)
            continue;
        queueValue(kFoldersKey, name);
        m_directoriesToRemove.push_back(name);
    }
    return true;
}

void WindowsInstallerCleaner::queueValue(const std::wstring& keyPath, const std::wstring& valueName)
{
    m_valuesToRemove.emplace_back(keyPath, valueName);
}

void WindowsInstallerCleaner::queueSharedValue(const std::wstring& keyPath, const std::wstring& productCode)
{
    queueValue(keyPath, productCode);
    m_keysToRemoveWhenEmpty.push_back(keyPath);
}

void WindowsInstallerCleaner::commit()
{
    for (const std::wstring& file : m_filesToRemove) {
        TS_CLEANER_LOG(Debug, L"Removing file: ", file);
        sys::win32::deleteFileForced(file);
    }
    m_filesToRemove.clear();

    for (const std::wstring& directory : m_directoriesToRemove) {
        TS_CLEANER_LOG(Debug, L"Cleaning directory: ", directory);
        std::wstring stripped = stripDirectoryPath(directory);
        if (stripped.empty())
            continue;
        int code = sys::win32::shellDelete(stripped);
        if (code != 0)
            TS_CLEANER_LOG(Debug, L"Removing directory '", stripped, L"' ended with code: ", code);
    }
    m_directoriesToRemove.clear();

    for (const auto& value : m_valuesToRemove)
        removeValue(value.first, value.second);
    m_valuesToRemove.clear();

    for (const std::wstring& key : m_keysToRemove)
        removeKey(key);
    m_keysToRemove.clear();

    // Only now, with this product's values gone, is it known whether anything else is left.
    for (const std::wstring& key : m_keysToRemoveWhenEmpty)
        removeKeyWhenEmpty(key);
    m_keysToRemoveWhenEmpty.clear();
}

bool WindowsInstallerCleaner::removeKey(const std::wstring& path)
{
    try {
        m_keyAccess.open(path).deleteTree(this);
    } catch (const RegistryException& e) {
        TS_CLEANER_LOG(Verbose, L"Failed to remove key: ", path, L". ", e.getText());
        return false;
    }
    return true;
}

bool WindowsInstallerCleaner::removeKeyWhenEmpty(const std::wstring& path)
{
    try {
        RegistryKey key = m_keyAccess.open(path);
        if (!key.values()->empty() || !key.subkeys()->keys.empty()) {
            TS_CLEANER_LOG(Verbose, L"Kept key still in use: ", path);
            return false;
        }
    } catch (const RegistryException& e) {
        TS_CLEANER_LOG(Verbose, L"Failed to remove key: ", path, L". ", e.getText());
        return false;
    }
    return removeKey(path);
}

bool WindowsInstallerCleaner::removeValue(const std::wstring& keyPath, const std::wstring& name)
{
    try {
        RegistryValue(m_keyAccess.open(keyPath), name).deleteValue();
    } catch (const RegistryException& e) {
        TS_CLEANER_LOG(Warn, L"Failed to remove value: ", keyPath, L"\\", name, L". ", e.getText());
        return false;
    }
    TS_CLEANER_LOG(Verbose, L"Removed value: ", keyPath, L"\\", name);
    return true;
}

bool WindowsInstallerCleaner::keyDeleted(const std::wstring& keyPath)
{
    TS_CLEANER_LOG(Verbose, L"Removed key: ", keyPath);
    return true;
}

}}} // namespace ts::tk::cleaner
