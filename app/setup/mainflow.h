// The run of Setup: start-up checks, the choice of branch, the install sequence,
// the restart decision and the exit code.
#pragma once
#include "app/setup/installer.h"
#include "app/setup/setupoptions.h"
#include "sys/libutils/version.h"

#include <windows.h>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace ts {
namespace sys { class SetupRunLog; namespace win32 { class INativeMachine; } }
namespace tk { namespace install { class IRebootProperties; } }
namespace app { namespace setupInstall {

class IRestartService;

enum ExitCode : int {
    ExitSuccess = 0,
    ExitFailure = 1,
    ExitNotAdministrator = 5,
    ExitAlreadyRunning = 1618, // ERROR_INSTALL_ALREADY_RUNNING: deployment tools retry later
    ExitUnsupportedOs = 1633,
    ExitNotSigned = 1790,
    ExitRestartRequired = 3010,
    ExitUpToDate = 15622,
};

extern const sys::Version kUpdateVersion;     // 7.9.1488.0
extern const sys::Version kCleanupThreshold;  // 7.4.50415.0
extern const char* const kNoCorePackageError;

// The whole run of Setup; returns the process exit code.
int runSetup(HINSTANCE instance, const char* commandLine);

// The operating-system check of the start-up, before anything is unpacked: on a Windows
// or machine that Setup does not support, message 36 (a box unless `quiet`, an ERROR line
// in both logs) and ExitUnsupportedOs; else ExitSuccess.
int checkOperatingSystem(const sys::win32::INativeMachine& machine, sys::SetupRunLog& log, bool quiet);

// "TSS" + four upper-case hexadecimal digits of `number` (0..0xFFFF).
std::string logCode(const char* prefix, unsigned number);
// The message for an installer file that verify() could not open: the path, the
// Windows error number and its text. Such a file was not found modified.
std::wstring unreadableFileText(const std::wstring& path, uint32_t error, const std::wstring& systemText);
// Product string 0 cut at its first backslash.
std::wstring shortProductName(const std::wstring& productName);

// InstallSettings from the options and product strings 4 and 5; the three
// up-to-date fields are left for applyUpToDate.
InstallSettings makeInstallSettings(const SetupOptionValues& options, const std::wstring& suppressEulaText,
                                    const std::wstring& systemCheckText);
// A unit is up to date when the package carries no version for it, or the installed
// version could be read and is at least the package's.
bool isUpToDate(const sys::Version& packaged, bool installedRead, const sys::Version& installed);
void applyUpToDate(InstallSettings& settings, bool coreUpToDate, bool productUpToDate);
// The up-to-date branch runs when nothing is to be installed and nothing forces a run.
bool nothingToDo(const InstallSettings& settings);

// The device suffix of the post-install page: "&pid=" and the product identifiers of
// the maker's USB devices among hardware identifiers ("USB\\VID_2F1C&PID_" and hexadecimal
// digits up to the end or the next "&", in any case), ascending, in lower-case
// hexadecimal and without duplicates, joined by ","; empty when there is none.
std::wstring deviceSuffix(const std::vector<std::wstring>& hardwareIds);
// The post-install page address on `site` (scheme and host, product string 8; the
// maker's web site when empty).
std::wstring installCompleteAddress(const std::wstring& site, const std::wstring& versionText,
                                    const std::wstring& productId, const std::wstring& deviceSuffix);

// What the end of an installation did about a restart.
enum class RestartDecision {
    NotNeeded,
    Started,      // the Core software asked for one now
    Suppressed,   // -noreboot
    Declined,     // the user chose "not now"
    NotStarted,   // it could not be started
    LeftPending,  // an installer needs one; Setup restarts only for the Core software's request
    AfterFailure, // needed, but the installation failed
};
// The run-log text of a decision ("Restart: ...").
const char* restartDecisionText(RestartDecision decision);

struct InstallationOutcome {
    int exitCode;
    RestartDecision restart;
};

// What happens after the install sequence (`result` 0 or 1; `restartRequired`: an
// installer asked for a restart): the restart, the post-install page (`openPage`), the
// restart need told to the Core software, and the exit code. A failure ends in 1 whatever
// is pending; a restart that is needed and not performed in 3010. The Core software's
// request to restart now is carried out at once in a silent run (applications closed) and
// asked of the user otherwise (applications may ask to save); never with noReboot.
InstallationOutcome finishInstallation(int result, bool restartRequired, const InstallSettings& settings,
                                       bool disableInstallCompleteNotification, bool pageWanted,
                                       tk::install::IRebootProperties& reboot, IRestartService& restart,
                                       const std::function<void()>& openPage, sys::SetupRunLog& log);

}} // namespace app::setupInstall
} // namespace ts
