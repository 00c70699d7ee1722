#include "app/setup/driversinstaller.h"

#include "app/setup/applicationinstaller.h"
#include "app/setup/inprogressthread.h"
#include "app/setup/payload.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/signature.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"

namespace ts { namespace app { namespace setupInstall {

using sys::win32::writeDebugOutput;

namespace {

const wchar_t* const kVelaFolder = L"VELA";

// A DriversInstaller's progress window: shown in user-interface mode 3 only, and
// always stopped before install() returns.
struct InstallProgress {
    explicit InstallProgress(int32_t userInterfaceMode)
    {
        if (userInterfaceMode == 3)
            thread.start();
    }
    InProgressThread thread;
};

// Puts the process's current directory back: a driver folder left current would keep
// the temporary folder from being deleted at the end of the run.
class CurrentDirectoryKeeper {
public:
    CurrentDirectoryKeeper() { m_saved = sys::win32::getCurrentDirectory(m_previous); }
    ~CurrentDirectoryKeeper()
    {
        if (m_saved)
            sys::win32::setCurrentDirectory(m_previous);
    }
    CurrentDirectoryKeeper(const CurrentDirectoryKeeper&) = delete;
    CurrentDirectoryKeeper& operator=(const CurrentDirectoryKeeper&) = delete;

private:
    std::wstring m_previous;
    bool m_saved = false;
};

} // namespace

Installer::Result MapDpInstExitCode(uint32_t exitCode)
{
    if (static_cast<int32_t>(exitCode) < 0)
        return Installer::Failed;
    if (exitCode & 0x40000000u)
        return Installer::RebootRequired;
    return Installer::Succeeded;
}

int32_t driversUserInterfaceMode(const InstallSettings& settings)
{
    if (!settings.suppressEula)
        return 2;
    return settings.silent ? 1 : 3;
}

std::wstring driverInstallerArguments(int32_t userInterfaceMode)
{
    return userInterfaceMode == 2 ? L"/q" : L"/q /se";
}

DriversInstaller::DriversInstaller(std::wstring folder, DriverLayout layout, uint32_t passMask,
                                   int32_t userInterfaceMode)
    : m_folder(std::move(folder)), m_layout(std::move(layout)), m_passMask(passMask),
      m_userInterfaceMode(userInterfaceMode)
{
}

std::wstring DriversInstaller::programPath() const
{
    CurrentDirectoryKeeper currentDirectory;
    sys::win32::setCurrentDirectory(m_folder);
    std::wstring program = m_layout.installer.path;
    sys::win32::getFullPathName(m_layout.installer.path, program);
    return program;
}

Installer::Result DriversInstaller::verify()
{
    m_unreadable = UnreadableFile();
    m_heldProgram.reset();
    if (!m_layout.drivers.empty() && m_layout.installer.valid) {
        const std::wstring program = programPath();
        m_heldProgram = sys::win32::holdFile(program);
        if (!m_heldProgram) {
            m_unreadable = UnreadableFile{program, GetLastError()};
            return Failed;
        }
        if (!sys::win32::isSignedDriverInstaller(program)) {
            m_heldProgram.reset();
            return Failed;
        }
    }
    for (const DriverEntry& entry : m_layout.drivers) {
        std::vector<std::wstring> catalogs =
            sys::win32::findFiles(sys::win32::joinPath(m_folder, entry.folder), L"*.cat", 10);
        if (catalogs.empty())
            return Failed;
        for (const std::wstring& catalog : catalogs)
            if (!sys::win32::Signature::isSignedFileTrusted(catalog.c_str()))
                return Failed;
    }
    return Succeeded;
}

Installer::Result DriversInstaller::install()
{
    InstallProgress progress(m_userInterfaceMode);
    CurrentDirectoryKeeper currentDirectory;
    bool restart = false;
    if (m_layout.drivers.empty() || !m_layout.installer.valid)
        return NotRun;

    const std::wstring program = programPath();
    if (!m_heldProgram)
        m_heldProgram = sys::win32::holdFile(program);

    m_installed = 0;
    m_skipped = 0;
    for (const DriverEntry& entry : m_layout.drivers) {
        const bool vela = entry.folder == kVelaFolder;
        if (!(m_passMask & (vela ? VelaFolderBit : OtherFoldersBit))) {
            ++m_skipped;
            continue;
        }
        sys::win32::setCurrentDirectory(m_folder);
        std::wstring driverFolder = entry.folder;
        sys::win32::getFullPathName(entry.folder, driverFolder);
        sys::win32::setCurrentDirectory(driverFolder);

        const std::wstring destination = sys::win32::replaceDirectory(program, driverFolder);
        DWORD exitCode = 0;
        bool ran = false;
        if (sys::win32::copyFile(program, destination, true) == ERROR_SUCCESS) {
            // Nothing can change the copy between its writing and its start.
            const sys::win32::FileHandle copy = sys::win32::holdFile(destination);
            const std::wstring command =
                programCommandLine(destination, driverInstallerArguments(m_userInterfaceMode));
            writeDebugOutput(L"Launching: " + command);
            ran = copy && sys::win32::runProcess(command, exitCode);
            // The driver installer keeps its own log in the Windows folder.
            m_runs.push_back(ProgramRun{destination, ran, exitCode, ran ? MapDpInstExitCode(exitCode) : Failed,
                                        sys::win32::joinPath(sys::win32::getWindowsDirectory(), L"DPINST.LOG")});
        }
        if (!ran) {
            if (vela)
                return Failed;
            continue;
        }
        Result result = MapDpInstExitCode(exitCode);
        if (result == Failed) {
            writeDebugOutput(L"Driver installation failed.");
            if (vela)
                return Failed;
            continue;
        }
        if (result == RebootRequired) {
            writeDebugOutput(L"Driver requires a reboot.");
            restart = true;
        }
        writeDebugOutput(L"Driver installed successfully.");
        ++m_installed;
    }

    if (m_installed >= m_layout.drivers.size() - m_skipped) {
        if (restart) {
            writeDebugOutput(L"Driver installer returns success but reboot required.");
            return RebootRequired;
        }
        writeDebugOutput(L"Driver installer returns success.");
        return Succeeded;
    }
    writeDebugOutput(L"Driver installer returns failure.");
    return Failed;
}

std::unique_ptr<Installer> createDriversInstaller(const std::wstring& folder, HMODULE module,
                                                  const InstallSettings& settings, uint32_t passMask,
                                                  const std::function<void(const Installer::UnreadableFile&)>& refused)
{
    DriverLayout layout = parseDriverLayout(loadLayout(module), sys::win32::isWow64(),
                                            static_cast<int32_t>(sys::win32::getOsVersion()));
    auto installer =
        std::make_unique<DriversInstaller>(folder, std::move(layout), passMask, driversUserInterfaceMode(settings));
    if (installer->verify() == Installer::Failed) {
        const Installer::UnreadableFile unreadable = installer->unreadableFile();
        installer.reset();
        refused(unreadable);
    }
    return installer;
}

}}} // namespace ts::app::setupInstall
