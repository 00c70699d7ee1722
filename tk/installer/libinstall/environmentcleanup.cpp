#include "tk/installer/libinstall/environmentcleanup.h"

#include "sys/libutils/option.h"
#include "sys/libutils/text.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/registrydatastore.h"
#include "sys/libutils/win32/thread.h"
#include "sys/libutils/win32/win32nr.h"
#include "tk/installer/libinstall/installerapi.h"
#include "tk/installer/libinstall/productdata.h"
#include "tk/installer/libinstall/productregistry.h"
#include "tk/libcleaner/debuglog.h"
#include "tk/libcleaner/systemio.h"
#include "tk/libcleaner/tssetupapi.h"
#include "tk/libcleaner/windowsinstaller.h"

#include <msi.h>

#include <algorithm>

namespace ts { namespace tk { namespace install {

namespace reg = sys::win32::registry;

namespace {

const wchar_t kUninstallKey[] = L"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const WORD kEnumRelatedProductsOrdinal = 205; // MsiEnumRelatedProductsW
const DWORD kRebootInitiated = 1641;          // ERROR_SUCCESS_REBOOT_INITIATED
const DWORD kRebootRequired = 3010;           // ERROR_SUCCESS_REBOOT_REQUIRED

// Windows' Uninstall key and the product's registration alike: full access, native view.
reg::RegistryKeyFactory keyAccess()
{
    return reg::RegistryKeyFactory(KEY_ALL_ACCESS | reg::nativeViewFlag());
}

// A String option of the Core settings group (machine scope only); empty when absent.
std::wstring readCoreSetting(const char* name)
{
    sys::option::String option(name, "", "", "");
    sys::option::loadSetting(option, kCoreSettings, false);
    return sys::toWide(option.getValue());
}

bool isWindows81()
{
    try {
        return sys::win32::getOsVersion() == sys::win32::OsVersion::win8_1;
    } catch (const sys::Exception&) {
        return false;
    }
}

} // namespace

// --- WindowsCleanupSystem ----------------------------------------------------

bool WindowsCleanupSystem::runProcess(const std::wstring& commandLine, const std::wstring& program, DWORD& exitCode)
{
    return sys::win32::runProcess(commandLine, exitCode, program);
}

bool WindowsCleanupSystem::startProcess(const std::wstring& commandLine, const std::wstring& program)
{
    return sys::win32::startProcess(commandLine, program) == 0;
}

std::vector<std::wstring> WindowsCleanupSystem::relatedProducts(const std::wstring& upgradeCode)
{
    using EnumRelatedProducts = UINT(WINAPI*)(LPCWSTR, DWORD, DWORD, LPWSTR);
    // msi.dll is no known DLL: never imported, so that none beside Setup.exe is loaded.
    auto enumerate = sys::win32::systemFunction<EnumRelatedProducts>("msi.dll", kEnumRelatedProductsOrdinal);
    std::vector<std::wstring> products;
    if (!enumerate) {
        TS_CLEANER_LOG(Error, L"Windows Installer is not available: error ", GetLastError());
        return products;
    }
    for (DWORD index = 0;; ++index) {
        wchar_t productCode[39] = L"";
        if (enumerate(upgradeCode.c_str(), 0, index, productCode) != ERROR_SUCCESS)
            break;
        products.push_back(productCode);
    }
    return products;
}

bool WindowsCleanupSystem::installedPerMachine(const std::wstring& productCode)
{
    using GetProductInfoEx = UINT(WINAPI*)(LPCWSTR, LPCWSTR, MSIINSTALLCONTEXT, LPCWSTR, LPWSTR, LPDWORD);
    auto getInfo = sys::win32::systemFunction<GetProductInfoEx>("msi.dll", "MsiGetProductInfoExW");
    if (!getInfo) {
        TS_CLEANER_LOG(Error, L"Windows Installer is not available: error ", GetLastError());
        return false;
    }
    wchar_t state[16] = L"";
    DWORD size = 16;
    return getInfo(productCode.c_str(), nullptr, MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_PRODUCTSTATE, state,
                   &size) == ERROR_SUCCESS;
}

// --- Decisions -----------------------------------------------------------------

CleanupBranch chooseCleanupBranch(const std::wstring& registeredVersion, const sys::Version& threshold)
{
    if (registeredVersion.empty())
        return CleanupBranch::BrokenCore;
    sys::Version version;
    if (sys::parseVersion(registeredVersion, version) && version < threshold)
        return CleanupBranch::OutdatedCore;
    return CleanupBranch::None;
}

int installerResultFromExit(bool started, DWORD exitCode)
{
    if (!started)
        return InstallerFailed;
    if (exitCode == ERROR_SUCCESS)
        return InstallerSucceeded;
    if (exitCode == kRebootInitiated || exitCode == kRebootRequired)
        return InstallerNeedsRestart;
    return InstallerFailed;
}

std::wstring uninstallCommandLine(const std::wstring& productCode)
{
    return L"msiexec /qn /norestart /x " + productCode + L" REBOOT=ReallySuppress";
}

std::wstring driverPackageDeleteCommandLine(const std::wstring& systemFolder, const std::wstring& infPath)
{
    return systemFolder + L"\\pnputil.exe -f -d " + infPath;
}

// --- Steps ---------------------------------------------------------------------

int runInstallerCommand(const std::wstring& commandLine, bool wait, ICleanupSystem& system)
{
    // The command names msiexec bare; the file that runs is the system folder's, never
    // one planted beside Setup.exe.
    const std::wstring program = sys::win32::systemProgramPath(L"msiexec.exe");
    if (!wait)
        return system.startProcess(commandLine, program) ? InstallerStarted : InstallerFailed;
    DWORD exitCode = 0;
    bool started = system.runProcess(commandLine, program, exitCode);
    return installerResultFromExit(started, exitCode);
}

std::optional<reg::RegistryKey> findUninstallEntry(const std::wstring& displayName)
{
    try {
        reg::RegistryKey uninstall = keyAccess().open(kUninstallKey);
        std::unique_ptr<reg::SubkeyList> entries = uninstall.subkeys();
        for (reg::RegistryKey& entry : entries->keys) {
            if (!entry.hasValue(L"DisplayName"))
                continue;
            if (reg::RegistryValue(entry, L"DisplayName").getString() == displayName)
                return std::move(entry);
        }
    } catch (const reg::RegistryException&) {
        TS_CLEANER_LOG(Error, L"Exception reading registry.");
    }
    return std::nullopt;
}

void removeCoreUninstallEntry()
{
    try {
        std::optional<reg::RegistryKey> entry = findUninstallEntry(kCoreDisplayName);
        if (!entry)
            return;
        TS_CLEANER_LOG(Info, L"Tessaline Core Software key found. Will try to delete.");
        entry->deleteKey();
    } catch (const reg::RegistryException&) {
        TS_CLEANER_LOG(Error, L"Exception deleting core key");
    }
}

std::wstring findOldDriverInf()
{
    cleaner::TsSetupApi setupApi(sys::Version(0), "Setup");
    std::vector<wchar_t> infList;
    setupApi.getCachedInfList(infList);
    std::vector<std::wstring> found;
    setupApi.findInfFiles(infList.data(), kProductDeviceClassGuid, false, {}, L"Tessaline", found);
    return found.empty() ? std::wstring() : found.front();
}

void deleteDriverPackage(const std::wstring& infPath, ICleanupSystem& system)
{
    // 64-bit Windows keeps pnputil.exe in its own system folder only.
    const std::wstring folder = sys::win32::getNativeSystemDirectory();
    DWORD exitCode = 0;
    system.runProcess(driverPackageDeleteCommandLine(folder, infPath), folder + L"\\pnputil.exe", exitCode);
}

void uninstallProduct(const std::wstring& productCode, ICleanupSystem& system)
{
    TS_CLEANER_LOG(Info, L"Uninstalling product. Product code: ", productCode);
    int result = runInstallerCommand(uninstallCommandLine(productCode), true, system);
    TS_CLEANER_LOG(Info, L"Uninstall complete. Result: ", result);
}

// --- RegistryMock ----------------------------------------------------------------

RegistryMock::RegistryMock()
{
    try {
        const RegistryFact code = coreValue(kCoreProductCode);
        const RegistryFact count = productsValue(kProductCount);
        createKey(tessalineKey().keyPath());
        createKey(code.keyPath());
        createKey(count.keyPath());
        saveValue(code.keyPath(), code.value);
        keyAccess().open(code.keyPath()).createValue(code.value, L"0");
        saveValue(count.keyPath(), count.value);
        keyAccess().open(count.keyPath()).createValue(count.value, DWORD(1));
    } catch (const reg::RegistryException&) {
        TS_CLEANER_LOG(Error, L"Exception while mocking registry");
    }
}

RegistryMock::~RegistryMock()
{
    restore();
}

void RegistryMock::createKey(const std::wstring& path)
{
    reg::RegistryKeyFactory factory = keyAccess();
    if (factory.exists(path))
        return;
    factory.create(path);
    m_createdKeys.push_back(path);
}

void RegistryMock::saveValue(const std::wstring& keyPath, const std::wstring& name)
{
    SavedValue saved;
    saved.keyPath = keyPath;
    saved.name = name;
    reg::RegistryKey key = keyAccess().open(keyPath);
    saved.existed = reg::readRawValue(key.handle(), name, saved.type, saved.data) == ERROR_SUCCESS;
    m_savedValues.push_back(std::move(saved));
}

void RegistryMock::restore()
{
    auto created = [this](const std::wstring& path) {
        return std::find(m_createdKeys.begin(), m_createdKeys.end(), path) != m_createdKeys.end();
    };
    // Values of keys that existed before: their old data back, or gone again.
    for (auto saved = m_savedValues.rbegin(); saved != m_savedValues.rend(); ++saved) {
        if (created(saved->keyPath))
            continue;
        try {
            reg::RegistryKey key = keyAccess().open(saved->keyPath);
            if (saved->existed)
                reg::writeRawValue(key.handle(), saved->name, saved->type, saved->data);
            else if (key.hasValue(saved->name))
                reg::RegistryValue(key, saved->name).deleteValue();
        } catch (const reg::KeyDoesNotExistException&) {
            // The uninstaller removed the key itself; it is not brought back.
        } catch (const reg::RegistryException&) {
            TS_CLEANER_LOG(Error, L"Exception while deleting the mock registry key.");
        }
    }
    // Keys it created, with whatever was written below them since; deepest first.
    for (auto path = m_createdKeys.rbegin(); path != m_createdKeys.rend(); ++path) {
        try {
            reg::RegistryKeyFactory factory = keyAccess();
            if (factory.exists(*path))
                factory.open(*path).deleteTree(nullptr);
        } catch (const reg::RegistryException&) {
            TS_CLEANER_LOG(Error, L"Exception while deleting the mock registry key.");
        }
    }
}

void uninstallWithMock(const std::wstring& productCode, ICleanupSystem& system)
{
    RegistryMock mock;
    uninstallProduct(productCode, system);
}

namespace {

void uninstallIfPerMachine(const std::wstring& productCode, ICleanupSystem& system)
{
    if (system.installedPerMachine(productCode)) {
        uninstallWithMock(productCode, system);
        return;
    }
    TS_CLEANER_LOG(Info, L"Product not installed per machine, left to its user. Product code: ", productCode);
}

} // namespace

void uninstallListedProducts(ICleanupSystem& system)
{
    for (const wchar_t* const* upgradeCode = kLegacyUpgradeCodes; **upgradeCode; ++upgradeCode) {
        for (const std::wstring& productCode : system.relatedProducts(*upgradeCode))
            uninstallIfPerMachine(productCode, system);
    }
    for (const wchar_t* displayName : kLegacyDisplayNames) {
        std::optional<reg::RegistryKey> entry = findUninstallEntry(displayName);
        if (entry && !entry->getKeyName().empty())
            uninstallIfPerMachine(entry->getKeyName(), system);
    }
}

void uninstallRegisteredCore(ICleanupSystem& system)
{
    const std::wstring productCode = readCoreSetting(kCoreSettingProductCode);
    if (!productCode.empty())
        uninstallProduct(productCode, system);
}

// --- cleanEnvironment ----------------------------------------------------------

void cleanEnvironment(const sys::Version& thresholdVersion, sys::Thread* progressThread)
{
    WindowsCleanupSystem system;
    cleanEnvironment(thresholdVersion, progressThread, system);
}

void cleanEnvironment(const sys::Version& thresholdVersion, sys::Thread* progressThread, ICleanupSystem& system)
{
    // What to clean follows the "Version" of the Core settings group, read through the
    // settings tree like all the product's settings (so in the 32-bit view): none means a
    // broken Core software, an older one an outdated one. It counts only when the
    // installer API below, the Core software's own word, gives no version.
    const std::wstring registeredVersion = readCoreSetting(kCoreSettingVersion);
    if (!isWindows81())
        return;
    // A Core software that answers through its API with a version is installed and
    // sound: it is left to its own installer.
    sys::Version installedCore;
    if (!getInstalledCoreVersion(installedCore) || !installedCore.empty())
        return;

    switch (chooseCleanupBranch(registeredVersion, thresholdVersion)) {
    case CleanupBranch::BrokenCore: {
        if (progressThread)
            progressThread->start();
        // Its queued removals are carried out when it goes, after the steps below.
        cleaner::WindowsInstallerCleaner cleaner(nullptr);
        cleaner.cleanProduct(kCoreDisplayName, thresholdVersion, true);
        removeCoreUninstallEntry();
        std::wstring inf = findOldDriverInf();
        if (!inf.empty() && cleaner::readInfDriverVersion(inf) < thresholdVersion)
            deleteDriverPackage(inf, system);
        uninstallListedProducts(system);
        break;
    }
    case CleanupBranch::OutdatedCore:
        if (progressThread)
            progressThread->start();
        uninstallRegisteredCore(system);
        uninstallListedProducts(system);
        break;
    case CleanupBranch::None:
        break;
    }
}

}}} // namespace ts::tk::install
