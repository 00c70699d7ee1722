// The Core and product installer programs: their command lines, the mapping of their
// exit codes, and the installer that runs one of them.
#pragma once
#include "app/setup/installer.h"
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>

namespace ts { namespace app { namespace setupInstall {

// The command line of a child program: its quoted path, a space, the arguments. Every
// child command line is built here, so a path with spaces cannot start another program.
std::wstring programCommandLine(const std::wstring& program, const std::wstring& arguments);

// installerResultFromExit as an Installer::Result: 0 Succeeded, 1641 and 3010
// RebootRequired, anything else or a program that did not start Failed.
Installer::Result mapInstallerExitCode(bool started, uint32_t exitCode);

// What the Core argument text is made of.
struct CoreArguments {
    uint16_t language = 0;            // user's default UI language
    bool is64BitWindows = false;
    InstallSettings settings;
    std::wstring productName;         // product string 0, whole
    std::wstring brandingUpgradeCode; // product string 2
    std::wstring brandingRegPath;     // "" when there is no branding file
    std::wstring brandingBannerPath;  // "" when there is no banner file
    std::wstring newDeviceActivity;   // product string 7
    std::wstring folder;              // the temporary folder of the payload
    std::wstring logPath;             // "" when there is no log
};
std::wstring coreArgumentText(const CoreArguments& in);
// The product argument text; no log part when `logPath` is empty.
std::wstring productArgumentText(const InstallSettings& settings, const std::wstring& logPath);
// A new log file in the temporary path: code + four hex digits + ".LOG", made and held
// in `held` so that no link or other file can take its place before the installer
// writes it (the folder is the user's); "" when none could be made.
std::wstring installerLogPath(const wchar_t* code, sys::win32::FileHandle& held);

// The REG_SZ value `value` of HKLM\<key>, in the view of the installed software's keys
// (tk::install::kInstalledView). False when the key or value is missing or the value is
// of another type; `out` is then unchanged.
bool readProductCode(const std::wstring& key, const std::wstring& value, std::wstring& out);

// Runs one installer program with a fixed argument text; uninstalls through msiexec
// with the product code found under HKLM\<productCodeKey>.
class ApplicationInstaller : public Installer {
public:
    // `logFile`: the log the program is told to write (for the logs of Setup).
    ApplicationInstaller(std::wstring programPath, std::wstring arguments, std::wstring productCodeKey,
                         std::wstring productCodeValue, std::wstring logFile = std::wstring(),
                         sys::win32::FileHandle heldLog = sys::win32::FileHandle());

    // Runs the program (as an ".exe" copy when it has another extension) and waits. The
    // program, and the copy from its writing on, are held until the run ends.
    Result install() override;
    // "msiexec /qr /x <product code>", run from the system folder (or the program set
    // with setUninstallProgram); Failed when the code cannot be read.
    Result uninstall() override;
    // Succeeded when the program is an executable signed by the maker. The program is
    // held from here on, so what runs is what was checked.
    Result verify() override;
    // The program that runs the uninstall command text; tests put a recorder here.
    void setUninstallProgram(std::wstring program) { m_uninstallProgram = std::move(program); }
    const std::wstring& uninstallProgram() const { return m_uninstallProgram; }

    const std::wstring& programPath() const { return m_programPath; }
    const std::wstring& arguments() const { return m_arguments; }

private:
    std::wstring m_programPath;
    std::wstring m_arguments;
    std::wstring m_productCodeKey;
    std::wstring m_productCodeValue;
    std::wstring m_uninstallProgram;
    std::wstring m_logFile;
    sys::win32::FileHandle m_heldProgram;
    sys::win32::FileHandle m_heldLog;
};

// The Core installer from the payload in `folder` (or resources "EXE" 5/6), with the
// branding files of resources "EXE" 7/8 written out. Throws std::runtime_error when the
// Core package resource cannot be written out. The caller verifies it.
std::unique_ptr<Installer> makeCoreInstaller(const std::wstring& folder, HMODULE module,
                                             const InstallSettings& settings, uint16_t language);
// The product installer written out of resource "EXE" 2 (64-bit Windows) or 1. Null when
// the program file cannot be created or written (no message for the user then).
std::unique_ptr<Installer> makeProductInstaller(const std::wstring& folder, HMODULE module,
                                                const InstallSettings& settings);

}}} // namespace ts::app::setupInstall
