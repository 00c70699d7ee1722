// Removal of what older installations left behind, before the Core installer runs
// (Windows 8.1 only). Every message goes to the cleaner debug log.
#pragma once
#include "sys/libutils/version.h"
#include "sys/libutils/win32/registry.h"

#include <windows.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ts { namespace sys { class Thread; } }

namespace ts { namespace tk { namespace install {

// What the cleanup starts and asks Windows Installer. Tests put a double in where Wine
// cannot be made to answer what a case needs.
class ICleanupSystem {
public:
    virtual ~ICleanupSystem() = default;
    // Runs `commandLine` with `program` as the file that runs (empty: the command line's
    // own first token) and waits without limit. False when nothing started.
    virtual bool runProcess(const std::wstring& commandLine, const std::wstring& program, DWORD& exitCode) = 0;
    // Starts without waiting; false when nothing started.
    virtual bool startProcess(const std::wstring& commandLine, const std::wstring& program) = 0;
    // The product codes related to an upgrade code, in enumeration order.
    virtual std::vector<std::wstring> relatedProducts(const std::wstring& upgradeCode) = 0;
    // Windows Installer has the product installed per machine (not only for a user).
    virtual bool installedPerMachine(const std::wstring& productCode) = 0;
};

// Real processes, and msi.dll's related-products enumeration (export ordinal 205).
class WindowsCleanupSystem : public ICleanupSystem {
public:
    bool runProcess(const std::wstring& commandLine, const std::wstring& program, DWORD& exitCode) override;
    bool startProcess(const std::wstring& commandLine, const std::wstring& program) override;
    std::vector<std::wstring> relatedProducts(const std::wstring& upgradeCode) override;
    // MsiGetProductInfoExW in MSIINSTALLCONTEXT_MACHINE.
    bool installedPerMachine(const std::wstring& productCode) override;
};

enum class CleanupBranch {
    None,
    // No registered Core version: scrub the old Core's registrations and leftovers.
    BrokenCore,
    // A registered Core version below the threshold: uninstall that Core.
    OutdatedCore,
};

// The branch for the Core settings group's `Version` text: BrokenCore when empty,
// OutdatedCore when it parses to a version below `threshold`, else None.
CleanupBranch chooseCleanupBranch(const std::wstring& registeredVersion, const sys::Version& threshold);

// Results of runInstallerCommand.
enum InstallerCommandResult : int {
    InstallerSucceeded = 0,
    InstallerNeedsRestart = 1,
    InstallerFailed = 2,
    InstallerStarted = 3,
};
// The result of a waited-for installer run: 0 for exit code 0, 1 for 1641 and 3010, 2
// for anything else or when it did not start.
int installerResultFromExit(bool started, DWORD exitCode);

// "msiexec /qn /norestart /x <code> REBOOT=ReallySuppress".
std::wstring uninstallCommandLine(const std::wstring& productCode);
// pnputil.exe of `systemFolder` forcing the removal of a driver package.
std::wstring driverPackageDeleteCommandLine(const std::wstring& systemFolder, const std::wstring& infPath);

// Runs `commandLine` with the system folder's msiexec.exe as the program. With `wait`:
// installerResultFromExit; without: 3 when it started, else 2.
int runInstallerCommand(const std::wstring& commandLine, bool wait, ICleanupSystem& system);

// The Add/Remove Programs entry (HKLM ...\CurrentVersion\Uninstall, native view) whose
// DisplayName is exactly `displayName`; none when nothing matches or the registry fails.
std::optional<sys::win32::registry::RegistryKey> findUninstallEntry(const std::wstring& displayName);
// Deletes the entry of "Tessaline Core Software", if any.
void removeCoreUninstallEntry();
// The first OEM INF of the product's device setup class; empty when there is none.
// Throws what the INF list retrieval throws.
std::wstring findOldDriverInf();
// Runs the native system folder's pnputil.exe (getNativeSystemDirectory) on it.
void deleteDriverPackage(const std::wstring& infPath, ICleanupSystem& system);
// Uninstalls silently through msiexec; the result is only logged.
void uninstallProduct(const std::wstring& productCode, ICleanupSystem& system);

// While it lives, HKLM\Software\Tessaline holds a minimal product registration (Core\GUID
// "0", Products\ProductCount 1), which the uninstallers of older products require. Its
// destruction leaves the tree as it was found: what it created is removed, what it
// overwrote is written back. Never throws.
class RegistryMock {
public:
    RegistryMock();
    ~RegistryMock();
    RegistryMock(const RegistryMock&) = delete;
    RegistryMock& operator=(const RegistryMock&) = delete;

private:
    // A value as it was before the mock wrote it.
    struct SavedValue {
        std::wstring keyPath;
        std::wstring name;
        bool existed = false;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };
    void createKey(const std::wstring& path);
    void saveValue(const std::wstring& keyPath, const std::wstring& name);
    void restore();

    std::vector<std::wstring> m_createdKeys; // in creation order
    std::vector<SavedValue> m_savedValues;
};

void uninstallWithMock(const std::wstring& productCode, ICleanupSystem& system);
// Every product of the legacy upgrade codes, then every Add/Remove Programs entry of the
// legacy display names, each uninstalled under a RegistryMock when it is installed per
// machine. A per-user product is left to its user: a user can install one without
// administrator rights, and its uninstaller would run elevated.
void uninstallListedProducts(ICleanupSystem& system);
// Uninstalls the Core software whose product code the Core settings group holds.
void uninstallRegisteredCore(ICleanupSystem& system);

// Never throws, except what the INF list retrieval throws. `progressThread` (may be
// null) is started before the first removal step.
void cleanEnvironment(const sys::Version& thresholdVersion, sys::Thread* progressThread);
void cleanEnvironment(const sys::Version& thresholdVersion, sys::Thread* progressThread, ICleanupSystem& system);

}}} // namespace ts::tk::install
