// Removes what Windows Installer keeps of one product, found by its display name, without
// running its uninstaller: for installations too broken to be uninstalled. Scanning only
// reads and queues; the destructor removes files, folders, values and keys, in that order.
#pragma once
#include "sys/libutils/version.h"
#include "sys/libutils/win32/registry.h"

#include <string>
#include <utility>
#include <vector>

namespace ts { namespace tk { namespace cleaner {

// The folder text the shell is given: trailing backslashes and double quotes removed.
std::wstring stripDirectoryPath(const std::wstring& path);

class WindowsInstallerCleaner : public virtual sys::win32::registry::RegistryKey::DeleteObserver {
public:
    // `reportingContext` travels with the debug-log messages; not owned.
    explicit WindowsInstallerCleaner(void* reportingContext);
    // Carries out everything queued.
    ~WindowsInstallerCleaner() override;
    WindowsInstallerCleaner(const WindowsInstallerCleaner&) = delete;
    WindowsInstallerCleaner& operator=(const WindowsInstallerCleaner&) = delete;

    // Queues the registration of every product of every user with exactly this display
    // name and a version not higher than `version`. True only when every user's pass worked.
    bool cleanProduct(const std::wstring& displayName, const sys::Version& version, bool keepInstallLocation);

    // Logs each key deleteTree removed.
    bool keyDeleted(const std::wstring& keyPath) override;

    // What is queued so far.
    const std::vector<std::wstring>& keysToRemove() const { return m_keysToRemove; }
    const std::vector<std::wstring>& keysToRemoveWhenEmpty() const { return m_keysToRemoveWhenEmpty; }
    const std::vector<std::pair<std::wstring, std::wstring>>& valuesToRemove() const { return m_valuesToRemove; }
    const std::vector<std::wstring>& filesToRemove() const { return m_filesToRemove; }
    const std::vector<std::wstring>& directoriesToRemove() const { return m_directoriesToRemove; }

private:
    using RegistryKey = sys::win32::registry::RegistryKey;

    // The scan: cleanUserProducts and the remove* functions below only read and queue;
    // commit (run by the destructor) and its removeKey/removeValue delete.
    bool cleanUserProducts(const std::wstring& user, const std::wstring& displayName, const sys::Version& version,
                           bool keepInstallLocation);
    bool removeProduct(const RegistryKey& productKey, const std::wstring& displayName, const std::wstring& user,
                       bool keepInstallLocation);
    bool removeComponents(const std::wstring& user, const std::wstring& productCode);
    bool removePatch(const std::wstring& user, const std::wstring& patchCode);
    bool removeUpgradeCodes(const std::wstring& productCode);
    bool removeFeatures(const std::wstring& productCode);
    bool removeFolders(const std::wstring& installLocation);
    void queueValue(const std::wstring& keyPath, const std::wstring& valueName);
    // Queues this product's value of a key that other products may share, and the key for
    // removal once no value or subkey is left in it.
    void queueSharedValue(const std::wstring& keyPath, const std::wstring& productCode);

    void commit();
    bool removeKey(const std::wstring& path);
    bool removeValue(const std::wstring& keyPath, const std::wstring& name);
    // Removes the key when nothing is left in it; false when it is kept or cannot be removed.
    bool removeKeyWhenEmpty(const std::wstring& path);

    sys::win32::registry::RegistryKeyFactory m_keyAccess;
    std::vector<std::wstring> m_keysToRemove;
    std::vector<std::pair<std::wstring, std::wstring>> m_valuesToRemove;
    std::vector<std::wstring> m_filesToRemove;
    std::vector<std::wstring> m_directoriesToRemove;
    std::vector<std::wstring> m_keysToRemoveWhenEmpty;
    void* m_reportingContext;
};

}}} // namespace ts::tk::cleaner
