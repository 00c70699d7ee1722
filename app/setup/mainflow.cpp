#include "app/setup/mainflow.h"

#include "app/setup/applicationinstaller.h"
#include "app/setup/driversinstaller.h"
#include "app/setup/extendedpropertiesresource.h"
#include "app/setup/inprogressthread.h"
#include "app/setup/installsequence.h"
#include "app/setup/payload.h"
#include "app/setup/resource.h"
#include "app/setup/restart.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/option.h"
#include "sys/libutils/setuprunlog.h"
#include "sys/libutils/win32/commandline.h"
#include "sys/libutils/win32/device.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/registry.h"
#include "sys/libutils/win32/security.h"
#include "sys/libutils/win32/signature.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"
#include "tk/installer/libinstall/environmentcleanup.h"
#include "tk/installer/libinstall/system.h"
#include "tk/libgui/resourcefunctions.h"

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <stdexcept>

namespace ts { namespace app { namespace setupInstall {

using sys::LogLevel;
using sys::SetupRunLog;
using sys::Version;
using tk::gui::resource::formatMessage;
using tk::gui::resource::loadString;
using tk::gui::resource::toNarrow;

const Version kUpdateVersion(7, 9, 1488, 0);
const Version kCleanupThreshold(7, 4, 50415, 0);
const char* const kNoCorePackageError = "USB driver does not embed Core installer. Unable to stage drivers.";

namespace {

const std::wstring kInstallCompleteHost = L"https://www.tessaline.com";

// The library log of the front end: what went wrong, for support (tslog).
class SetupLogged : public sys::Logger::Logged {
public:
    SetupLogged() : sys::Identity("Setup", ""), sys::Logger::Logged(sys::Logger::instance(), "Setup", "") {}
};

// A box unless quiet; MessageBoxW with no owner window.
void showMessage(bool quiet, const std::wstring& text, const std::wstring& caption, UINT icon)
{
    if (!quiet)
        MessageBoxW(nullptr, text.c_str(), caption.c_str(), icon);
}

// User messages: a box unless quiet, then the same text at ERROR in the run log and
// in the library log.
class Messenger {
public:
    Messenger(SetupRunLog& log, bool quiet, std::wstring productName)
        : m_log(log), m_quiet(quiet), m_productName(std::move(productName))
    {
    }

    void error(uint32_t id, const wchar_t* fallback)
    {
        errorText(formatMessage(loadString(id, fallback, GetUserDefaultUILanguage()), m_productName));
    }

    // A text already in the user's words. Logged first: a box may wait for a click until
    // a deployment tool's time-out ends the run.
    void errorText(const std::wstring& text)
    {
        logError(toNarrow(text));
        showMessage(m_quiet, text,
                    formatMessage(loadString(IDS_CAPTION, L"Install Tessaline Software for %1", GetUserDefaultUILanguage()),
                                  m_productName),
                    MB_ICONERROR);
    }

    // An ERROR line in both logs (the run log mirrors to the library log), no box.
    void logError(const std::string& text) { m_log.write(LogLevel::Error, text); }
    // For support only: an ERROR line in the library log.
    void logLibraryError(const std::string& text) { TS_LOG(m_library, LogLevel::Error) << text; }

    void modified() { error(IDS_MODIFIED, kModifiedFallback); }
    const sys::Logger::Logged& library() const { return m_library; }

    static const wchar_t* const kModifiedFallback;

private:
    SetupRunLog& m_log;
    bool m_quiet;
    std::wstring m_productName;
    SetupLogged m_library;
};

const wchar_t* const Messenger::kModifiedFallback =
    L"The software package appears to have been modified. Installation aborted. Please contact your vendor for "
    L"assistance.";

// Installers of this run; one that does not verify is refused with message 37.
class SetupInstallerFactory : public IInstallerFactory {
public:
    SetupInstallerFactory(const std::wstring& folder, HMODULE module, const InstallSettings& settings,
                          uint16_t language, Messenger& messenger)
        : m_folder(folder), m_module(module), m_settings(settings), m_language(language), m_messenger(messenger)
    {
    }

    std::unique_ptr<Installer> createCore() override
    {
        return verified(makeCoreInstaller(m_folder, m_module, m_settings, m_language));
    }
    std::unique_ptr<Installer> createDrivers(uint32_t passMask) override
    {
        return createDriversInstaller(m_folder, m_module, m_settings, passMask,
                                      [this](const Installer::UnreadableFile& unreadable) { refused(unreadable); });
    }
    std::unique_ptr<Installer> createProduct() override
    {
        std::unique_ptr<Installer> installer = makeProductInstaller(m_folder, m_module, m_settings);
        if (!installer)
            m_messenger.logLibraryError("The product installer program could not be written into " +
                                        toNarrow(m_folder));
        return verified(std::move(installer));
    }

private:
    std::unique_ptr<Installer> verified(std::unique_ptr<Installer> installer)
    {
        if (installer && installer->verify() == Installer::Failed) {
            const Installer::UnreadableFile unreadable = installer->unreadableFile();
            installer.reset();
            refused(unreadable);
        }
        return installer;
    }

    // A file that could not be read is named as such; anything else failed its signature.
    void refused(const Installer::UnreadableFile& unreadable)
    {
        if (unreadable.error)
            m_messenger.errorText(
                unreadableFileText(unreadable.path, unreadable.error, sys::windowsErrorText(unreadable.error, true)));
        else
            m_messenger.modified();
    }

    std::wstring m_folder;
    HMODULE m_module;
    const InstallSettings& m_settings;
    uint16_t m_language;
    Messenger& m_messenger;
};

std::string versionLine(const char* name, const Version& version)
{
    return std::string(name) + ": " + sys::toNarrowString(version);
}

// What the option parser passed over (it ignores positional words) or did not know.
void logArguments(SetupRunLog& log, const sys::GroupOption& group)
{
    for (const std::string& word : group.ignoredArguments())
        log.write(LogLevel::Warn, "Ignored argument (options start with -): " + word);
    for (const std::string& token : group.unknownArguments())
        log.write(LogLevel::Error, "Unknown argument: " + token);
}

// Steps after the run log is open. Returns the exit code; errors go to runSetup, which
// closes the run log. Every exit releases the mutex and deletes the temporary folder
// through their owners.
int mainFlow(HINSTANCE instance, const std::string& commandLine, SetupOptions& options, SetupRunLog& log)
{
    const SetupOptionValues values = options.values();
    const bool quiet = values.silent && !values.mupLogFile.empty();
    log.open(sys::win32::fromUtf8(values.mupLogFile));
    log.write(LogLevel::Info, "Arguments: " + commandLine);
    logArguments(log, options.group);

    const std::wstring productName = loadString(IDS_PRODUCT_NAME);
    Messenger messenger(log, quiet, productName);

    std::wstring self;
    if (!sys::win32::getModuleFileName(nullptr, self) || !sys::win32::isSignedByMaker(self)) {
        messenger.modified();
        return ExitNotSigned;
    }
    if (!sys::win32::isAdministrator()) {
        messenger.error(IDS_NOT_ADMIN, L"Installing %1 requires Administrator privileges.  Please log on as an "
                                       L"Administrator to proceed with the installation.");
        return ExitNotAdministrator;
    }
    const std::wstring shortName = shortProductName(productName);

    sys::win32::Handle mutex(CreateMutexW(nullptr, TRUE, L"Local\\TessalineSetupPrevInstanceDetector"));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        messenger.logError("Tessaline Setup is already running");
        return ExitAlreadyRunning;
    }

    // Before anything is written or loaded: the installer API library's copy goes into
    // the working folder too. Killed runs' folders go first.
    sys::win32::removeStaleWorkingFolders();
    TemporaryFolder temporaryFolder;
    std::wstring folderPath;
    uint32_t folderError = 0;
    if (!temporaryFolder.create(folderPath, &folderError)) {
        PayloadFailure failure;
        failure.file = temporaryFolder.location();
        failure.systemError = folderError;
        messenger.errorText(
            describePayloadFailure(failure, folderError ? sys::windowsErrorText(folderError, true) : L""));
        return ExitFailure;
    }

    // The Core software's own answer through its installer API: what is installed and
    // working. It only names the previous version here; the up-to-date test below reads
    // the registry, which the package wrote.
    Version installed;
    if (tk::install::getInstalledCoreVersion(installed) && !installed.empty())
        log.write(LogLevel::Info, versionLine("Previous version", installed));
    else
        log.write(LogLevel::Info, "Previous version: Not installed");
    log.write(LogLevel::Info, versionLine("Update version", kUpdateVersion));

    InstallSettings settings = makeInstallSettings(values, loadString(IDS_SUPPRESS_EULA), loadString(IDS_SYSTEM_CHECK));

    if (int refused = checkOperatingSystem(sys::win32::WindowsNativeMachine(), log, quiet))
        return refused;

    const uint16_t language = GetUserDefaultUILanguage();

    ExtendedProperties properties;
    if (!loadExtendedProperties(instance, properties))
        throw std::runtime_error(kExtendedPropertiesError);
    // What to install trusts the "Version" values that the installed packages wrote, in
    // the native view where the packages of this Windows write them: they compare with
    // the package's versions whether or not the Core software answers.
    Version installedCore, installedProduct;
    bool coreRead = sys::win32::registry::readCoreVersion(installedCore);
    bool productRead = sys::win32::registry::readProductVersion(shortName.c_str(), installedProduct);
    applyUpToDate(settings, isUpToDate(properties.coreVersion, coreRead, installedCore),
                  isUpToDate(properties.productVersion, productRead, installedProduct));

    if (nothingToDo(settings)) {
        std::wstring text = formatMessage(loadString(IDS_UP_TO_DATE, L"%1 software is already up to date", language),
                                          shortName);
        log.write(LogLevel::Info, toNarrow(text));
        showMessage(quiet, text, formatMessage(loadString(IDS_CAPTION, L"Install %1 software", language), shortName),
                    MB_ICONINFORMATION);
        return ExitUpToDate;
    }

    InProgressThread progress;
    if (!values.silent)
        progress.start();
    PayloadFailure failure;
    if (!extractPayload(instance, temporaryFolder, &failure)) {
        progress.stop();
        // What was unpacked goes first: on a full disk the library log needs the room.
        temporaryFolder.remove();
        messenger.errorText(describePayloadFailure(
            failure, failure.systemError ? sys::windowsErrorText(failure.systemError, true) : L""));
        return ExitFailure;
    }
    const std::wstring& folder = temporaryFolder.path();
    if (values.stageDrivers && !hasCorePackage(folder))
        throw std::runtime_error(kNoCorePackageError);

    if (!values.extractAsDriver.empty()) {
        log.write(LogLevel::Info, "Extracting drivers.");
        if (!hasCorePackage(folder))
            throw std::runtime_error(kNoCorePackageError);
        extractDrivers(folder, sys::win32::fromUtf8(values.extractAsDriver));
        progress.stop();
        return ExitSuccess;
    }

    tk::install::cleanEnvironment(kCleanupThreshold, nullptr);
    progress.stop();

    bool restartRequired = false;
    SetupInstallerFactory factory(folder, instance, settings, language, messenger);
    std::vector<std::string> runs;
    int result = runInstallSequence(factory, settings, restartRequired, &runs);

    tk::install::RebootProperties reboot;
    RestartService restart(productName, language);
    auto openPage = [&] {
        sys::win32::DevicesReader devices;
        tk::gui::resource::OpenURL(&messenger.library(), installCompleteAddress(loadString(IDS_INSTALL_COMPLETE_SITE),
                                                                   sys::toString(properties.productVersion),
                                                                   loadString(IDS_PRODUCT_ID),
                                                                   deviceSuffix(devices.getUsbHardwareIds())));
    };
    const InstallationOutcome outcome =
        finishInstallation(result, restartRequired, settings, values.disableInstallCompleteNotification,
                           loadString(IDS_INSTALL_COMPLETE_PAGE) == L"Yes", reboot, restart, openPage, log);
    for (const std::string& run : runs)
        log.write(LogLevel::Info, run);
    log.write(LogLevel::Info, restartDecisionText(outcome.restart));
    return outcome.exitCode;
}

} // namespace

int checkOperatingSystem(const sys::win32::INativeMachine& machine, SetupRunLog& log, bool quiet)
{
    if (sys::win32::isOsSupported(machine))
        return ExitSuccess;
    Messenger(log, quiet, loadString(IDS_PRODUCT_NAME))
        .error(IDS_UNSUPPORTED_OS, L"%1 cannot be installed on this operating system.");
    return ExitUnsupportedOs;
}

std::string logCode(const char* prefix, unsigned number)
{
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%s%04X", prefix, number & 0xFFFF);
    return buffer;
}

std::wstring unreadableFileText(const std::wstring& path, uint32_t error, const std::wstring& systemText)
{
    return L"The installation file " + path + L" is missing or cannot be read: system error " +
           std::to_wstring(error) + L": " + systemText;
}

std::wstring shortProductName(const std::wstring& productName)
{
    return productName.substr(0, productName.find(L'\\'));
}

InstallSettings makeInstallSettings(const SetupOptionValues& options, const std::wstring& suppressEulaText,
                                    const std::wstring& systemCheckText)
{
    InstallSettings settings;
    settings.suppressEula = suppressEulaText == L"Yes" || options.stageDrivers;
    settings.noReboot = options.noreboot;
    settings.ignoreUpToDate = options.suppressUpToDateInfo || options.silent;
    settings.silent = options.silent;
    settings.stageDrivers = options.stageDrivers;
    if (options.ignoreCompatibility)
        settings.systemCheck = SystemCheck::Ignore;
    else if (systemCheckText != L"Yes")
        settings.systemCheck = SystemCheck::Skip;
    return settings;
}

bool isUpToDate(const Version& packaged, bool installedRead, const Version& installed)
{
    return packaged.empty() || (installedRead && installed >= packaged);
}

void applyUpToDate(InstallSettings& settings, bool coreUpToDate, bool productUpToDate)
{
    settings.coreOutdated = !coreUpToDate;
    settings.installCore = !settings.stageDrivers && !coreUpToDate;
    settings.installProduct = !settings.stageDrivers && !productUpToDate;
}

bool nothingToDo(const InstallSettings& s)
{
    return !s.installCore && !s.coreOutdated && !s.installProduct && !s.ignoreUpToDate;
}

std::wstring deviceSuffix(const std::vector<std::wstring>& hardwareIds)
{
    static const std::wstring prefix = L"USB\\VID_2F1C&PID_";
    std::set<unsigned long> ids;
    for (const std::wstring& id : hardwareIds) {
        if (id.size() <= prefix.size() || _wcsnicmp(id.c_str(), prefix.c_str(), prefix.size()) != 0)
            continue;
        // Only hexadecimal digits up to the end or the next "&": no sign, blank or "0x".
        const std::wstring digits = id.substr(prefix.size(), id.find(L'&', prefix.size()) - prefix.size());
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos)
            continue;
        ids.insert(wcstoul(digits.c_str(), nullptr, 16));
    }
    std::wstring suffix;
    for (unsigned long id : ids) {
        wchar_t hex[16];
        swprintf(hex, 16, L"%lx", id);
        suffix += (suffix.empty() ? L"&pid=" : L",") + std::wstring(hex);
    }
    return suffix;
}

std::wstring installCompleteAddress(const std::wstring& site, const std::wstring& versionText,
                                    const std::wstring& productId, const std::wstring& deviceSuffix)
{
    return (site.empty() ? kInstallCompleteHost : site) + L"/support/installcomplete.php?version=" + versionText +
           L"&productId=" + productId + deviceSuffix;
}

const char* restartDecisionText(RestartDecision decision)
{
    switch (decision) {
    case RestartDecision::NotNeeded: return "Restart: not needed";
    case RestartDecision::Started: return "Restart: started, as the Core software asked";
    case RestartDecision::Suppressed: return "Restart: needed, not started (-noreboot)";
    case RestartDecision::Declined: return "Restart: needed, the user chose not now";
    case RestartDecision::NotStarted: return "Restart: needed, could not be started";
    case RestartDecision::LeftPending: return "Restart: needed by an installer, left to the user";
    case RestartDecision::AfterFailure: return "Restart: needed, not started because the installation failed";
    }
    return "Restart: unknown";
}

InstallationOutcome finishInstallation(int result, bool restartRequired, const InstallSettings& settings,
                                       bool disableInstallCompleteNotification, bool pageWanted,
                                       tk::install::IRebootProperties& reboot, IRestartService& restart,
                                       const std::function<void()>& openPage, SetupRunLog& log)
{
    const bool now = reboot.isRebootNeededNow();
    const bool pending = restartRequired || now;
    if (result != 0) {
        // A deployment tool reads 3010 as success: the failure is what it must see.
        if (pending)
            reboot.setSoftwareRequiresReboot(true);
        log.write(LogLevel::Error, "Installation failed.");
        return {ExitFailure, pending ? RestartDecision::AfterFailure : RestartDecision::NotNeeded};
    }
    RestartDecision decision = pending ? RestartDecision::LeftPending : RestartDecision::NotNeeded;
    if (now) {
        if (settings.noReboot)
            decision = RestartDecision::Suppressed;
        else if (!settings.silent && !restart.askToRestart())
            decision = RestartDecision::Declined;
        else if (restart.restart(settings.silent))
            return {result, RestartDecision::Started};
        else
            decision = RestartDecision::NotStarted;
    }
    if (!settings.silent && !disableInstallCompleteNotification && pageWanted)
        openPage();
    if (pending) {
        reboot.setSoftwareRequiresReboot(true);
        return {ExitRestartRequired, decision};
    }
    log.write(LogLevel::Info, "Installation completed successfully.");
    return {result, decision};
}

int runSetup(HINSTANCE instance, const char* commandLine)
{
    SetupRunLog log;
    SetupOptions options;
    const std::string arguments = commandLine ? commandLine : "";
    int exitCode = ExitFailure;
    try {
        srand(GetTickCount());
        sys::Logger::create(logCode("TSS", static_cast<unsigned>(rand()) & 0xFFFF), LogLevel::Verbose, 1, true);
        log.mirrorToLibraryLog();
        // The wide command line in UTF-8: a run log or folder path outside the ANSI code
        // page stays whole (the narrow one has "?" there).
        options.group.parseCommandLine(sys::win32::toUtf8(sys::win32::processArguments()));
        exitCode = mainFlow(instance, arguments, options, log);
    } catch (...) {
        std::string description = sys::describeCurrentException();
        // A bad command line fails before the run log is open: open it now, so that a
        // silent deployment still finds why it ended.
        if (!log.isStarted()) {
            log.open(sys::win32::fromUtf8(options.mupLogFile.getValue()));
            log.write(LogLevel::Info, "Arguments: " + arguments);
            logArguments(log, options.group);
        }
        log.write(LogLevel::Error, description);
        exitCode = ExitFailure;
    }
    log.write(LogLevel::Info, "Exit code: " + std::to_string(exitCode));
    return exitCode;
}

}}} // namespace ts::app::setupInstall
