#include "app/setup/applicationinstaller.h"

#include "app/setup/payload.h"
#include "app/setup/resource.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/text.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/registry.h"
#include "sys/libutils/win32/safefile.h"
#include "sys/libutils/win32/signature.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"
#include "tk/installer/libinstall/environmentcleanup.h"
#include "tk/installer/libinstall/productregistry.h"
#include "tk/installer/libinstall/system.h"
#include "tk/libgui/resourcefunctions.h"

#include <cwctype>

namespace ts { namespace app { namespace setupInstall {

using sys::quotedArgument;
using tk::gui::resource::loadString;

namespace {

// A value in the installers' property syntax: in quotes, nothing escaped. Windows
// Installer reads it so, and the Core installer hands it on; it is no argument for a
// program's own command-line splitter.
std::wstring propertyValue(const std::wstring& text)
{
    return L"\"" + text + L"\"";
}

} // namespace

std::wstring programCommandLine(const std::wstring& program, const std::wstring& arguments)
{
    return quotedArgument(program) + L" " + arguments;
}

// The cleanup's installer runs and these share one reading of an installer's exit code.
static_assert(int(Installer::Succeeded) == int(tk::install::InstallerSucceeded) &&
                  int(Installer::RebootRequired) == int(tk::install::InstallerNeedsRestart) &&
                  int(Installer::Failed) == int(tk::install::InstallerFailed),
              "installer results must match");

Installer::Result mapInstallerExitCode(bool started, uint32_t exitCode)
{
    return static_cast<Installer::Result>(tk::install::installerResultFromExit(started, exitCode));
}

std::wstring coreArgumentText(const CoreArguments& in)
{
    std::wstring text = L"/exelang " + std::to_wstring(in.language);
    text += in.is64BitWindows ? L" ALLOW64BIT=Yes" : L" ALLOW64BIT=No";
    if (in.settings.suppressEula)
        text += L" TS_NO_EULA=Yes";
    text += L" TS_PRODUCT_NAME=" + propertyValue(in.productName);
    if (in.settings.systemCheck == SystemCheck::Ignore)
        text += L" TS_IGNORE_SYSTEM_CHECK=Yes";
    else if (in.settings.systemCheck == SystemCheck::Skip)
        text += L" TS_SKIP_SYSTEM_CHECK=Yes";
    text += L" TS_BRANDING_UPGRADE_CODE=" + propertyValue(in.brandingUpgradeCode);
    if (!in.brandingRegPath.empty())
        text += L" TS_BRANDING_REG=" + propertyValue(in.brandingRegPath);
    if (!in.brandingBannerPath.empty())
        text += L" TS_BRANDING_BANNER=" + propertyValue(in.brandingBannerPath);
    std::wstring activity = in.newDeviceActivity;
    for (wchar_t& c : activity)
        c = static_cast<wchar_t>(towlower(c));
    text += L" TS_BRANDING_NEW_DEVICE_ACTIVITY=" + activity;
    if (in.settings.silent)
        text += L" /qn";
    text += L" TS_COREDRIVER_PATH=" + propertyValue(sys::win32::joinPath(in.folder, L"VELA\\TessalineUsb.inf"));
    if (!in.logPath.empty())
        text += L" /lv " + propertyValue(in.logPath);
    return text;
}

std::wstring productArgumentText(const InstallSettings& settings, const std::wstring& logPath)
{
    std::wstring text = L"AUTOMATICUPDATECHECK=no";
    text += settings.silent || !settings.installCore ? L" TS_RESTART_TSM=Yes" : L" TS_RESTART_TSM=No";
    if (settings.noReboot)
        text += L" /norestart";
    text += L" /qn";
    if (!logPath.empty())
        text += L" /lv " + propertyValue(logPath);
    return text;
}

std::wstring installerLogPath(const wchar_t* code, sys::win32::FileHandle& held)
{
    std::wstring temp, path;
    if (!sys::win32::getTempPath(temp))
        return L"";
    held = sys::win32::createUniqueFile(temp, code, L"LOG", path);
    return held ? path : L"";
}

bool readProductCode(const std::wstring& key, const std::wstring& value, std::wstring& out)
{
    sys::win32::registry::StringRead read =
        tk::install::readFact({L"HKLM", key, value, tk::install::kInstalledView});
    if (!read.value)
        return false;
    out = *read.value;
    return true;
}

namespace {

class InstallerLogged : public sys::Logger::Logged {
public:
    InstallerLogged()
        : sys::Identity("ApplicationInstaller", ""),
          sys::Logger::Logged(sys::Logger::instance(), "ApplicationInstaller", "")
    {
    }
};

// `mayStart` false: the program could not be held, and so is not run.
Installer::ProgramRun runInstaller(const std::wstring& program, const std::wstring& arguments,
                                   const std::wstring& logFile, bool mayStart = true)
{
    DWORD exitCode = 0;
    const std::wstring commandLine = programCommandLine(program, arguments);
    bool started = mayStart && sys::win32::runProcess(commandLine, exitCode);
    Installer::Result result = mapInstallerExitCode(started, exitCode);
    if (result == Installer::Failed) {
        // The run log says only that the installation failed; support needs which program and why.
        InstallerLogged logged;
        if (started)
            TS_LOG(logged, sys::LogLevel::Error) << "Installer exited with " << exitCode << ": " << sys::logText(commandLine);
        else
            TS_LOG(logged, sys::LogLevel::Error) << "Installer could not be started: " << sys::logText(commandLine);
    }
    return Installer::ProgramRun{program, started, exitCode, result, logFile};
}

// Resource "EXE" `id` written into a new temporary file of the folder; "" when the
// resource is missing or no file could be created (a failed write still gives the path).
std::wstring brandingFile(const std::wstring& folder, HMODULE module, int id)
{
    std::wstring path;
    if (!hasResource(module, id) || !sys::win32::createTempFileName(folder, L"TS", path))
        return L"";
    writeResourceToFile(module, id, path);
    return path;
}

} // namespace

ApplicationInstaller::ApplicationInstaller(std::wstring programPath, std::wstring arguments,
                                           std::wstring productCodeKey, std::wstring productCodeValue,
                                           std::wstring logFile, sys::win32::FileHandle heldLog)
    : m_programPath(std::move(programPath)),
      m_arguments(std::move(arguments)),
      m_productCodeKey(std::move(productCodeKey)),
      m_productCodeValue(std::move(productCodeValue)),
      m_uninstallProgram(sys::win32::systemProgramPath(L"msiexec.exe")),
      m_logFile(std::move(logFile)),
      m_heldLog(std::move(heldLog))
{
}

Installer::Result ApplicationInstaller::install()
{
    if (!m_heldProgram)
        m_heldProgram = sys::win32::holdFile(m_programPath);
    tk::install::TemporaryCopy program(m_programPath, L".exe");
    const sys::win32::FileHandle copy = sys::win32::holdFile(program.path());
    m_runs.push_back(runInstaller(program.path(), m_arguments, m_logFile, copy.valid()));
    return m_runs.back().result;
}

Installer::Result ApplicationInstaller::uninstall()
{
    std::wstring productCode;
    if (!readProductCode(m_productCodeKey, m_productCodeValue, productCode))
        return Failed;
    // The command text is fixed, with msiexec unquoted; the program itself is named by
    // its full path, so that no msiexec.exe beside Setup runs elevated.
    DWORD exitCode = 0;
    bool started = sys::win32::runProcess(L"msiexec /qr /x " + productCode, exitCode, m_uninstallProgram);
    m_runs.push_back(ProgramRun{m_uninstallProgram, started, exitCode, mapInstallerExitCode(started, exitCode), L""});
    return m_runs.back().result;
}

Installer::Result ApplicationInstaller::verify()
{
    m_unreadable = UnreadableFile();
    m_heldProgram = sys::win32::holdFile(m_programPath);
    if (!m_heldProgram) {
        m_unreadable = UnreadableFile{m_programPath, GetLastError()};
        return Failed;
    }
    if (!sys::win32::isProgramFile(m_programPath) || !sys::win32::isSignedByMaker(m_programPath)) {
        m_heldProgram.reset();
        return Failed;
    }
    return Succeeded;
}

std::unique_ptr<Installer> makeCoreInstaller(const std::wstring& folder, HMODULE module,
                                             const InstallSettings& settings, uint16_t language)
{
    CoreArguments in;
    in.language = language;
    in.is64BitWindows = sys::win32::isWow64();
    in.settings = settings;
    in.productName = loadString(IDS_PRODUCT_NAME);
    in.brandingUpgradeCode = loadString(IDS_BRANDING_UPGRADE_CODE);
    const std::wstring program = corePackagePath(folder, module, in.is64BitWindows);
    in.brandingRegPath = brandingFile(folder, module, BrandingData);
    in.brandingBannerPath = brandingFile(folder, module, BrandingBanner);
    in.newDeviceActivity = loadString(IDS_NEW_DEVICE_ACTIVITY);
    in.folder = folder;
    sys::win32::FileHandle log;
    in.logPath = installerLogPath(L"TSC", log);
    const tk::install::RegistryFact code = tk::install::coreValue(tk::install::kCoreProductCode);
    return std::make_unique<ApplicationInstaller>(program, coreArgumentText(in), code.key, code.value, in.logPath,
                                                  std::move(log));
}

std::unique_ptr<Installer> makeProductInstaller(const std::wstring& folder, HMODULE module,
                                                const InstallSettings& settings)
{
    std::wstring program;
    if (!sys::win32::createTempFileName(folder, L"TS", program) ||
        !writeResourceToFile(module, sys::win32::isWow64() ? ProductInstaller64 : ProductInstaller32, program))
        return nullptr;
    sys::win32::FileHandle log;
    const std::wstring logPath = installerLogPath(L"TSP", log);
    const tk::install::RegistryFact code =
        tk::install::productValue(loadString(IDS_PRODUCT_NAME), tk::install::kProductCode);
    return std::make_unique<ApplicationInstaller>(program, productArgumentText(settings, logPath), code.key,
                                                  code.value, logPath, std::move(log));
}

}}} // namespace ts::app::setupInstall
