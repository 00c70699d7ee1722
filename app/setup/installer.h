// The installable unit and the settings every installer is given.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace ts { namespace app { namespace setupInstall {

enum class SystemCheck : int32_t {
    Normal = 0,
    Ignore = 1, // option ignoreCompatibility
    Skip = 2,   // product string 5 is not "Yes"
};

struct InstallSettings {
    bool suppressEula = false;
    bool noReboot = false;
    bool ignoreUpToDate = false;
    bool silent = false;
    bool stageDrivers = false;
    bool coreOutdated = false;
    bool installCore = false;
    bool installProduct = false;
    SystemCheck systemCheck = SystemCheck::Normal;
};

class Installer {
public:
    enum Result : int32_t {
        Succeeded = 0,
        RebootRequired = 1,
        Failed = 2, // for verify(): the package is not trustworthy
        NotRun = 3,
    };
    virtual Result install() = 0;
    virtual Result uninstall() = 0;
    virtual Result verify() = 0;
    virtual ~Installer() = default;

    // A file verify() could not open: the path and the Windows error. Such a failure is
    // not a signature that failed; `error` is 0 when every file could be read.
    struct UnreadableFile {
        std::wstring path;
        uint32_t error = 0;
    };
    const UnreadableFile& unreadableFile() const { return m_unreadable; }

    // A program that install() or uninstall() ran, for the logs.
    struct ProgramRun {
        std::wstring program;
        bool started = false;
        uint32_t exitCode = 0; // the Windows error when it did not start
        Result result = NotRun;
        std::wstring logFile; // "" when it writes none
    };
    const std::vector<ProgramRun>& programRuns() const { return m_runs; }

protected:
    UnreadableFile m_unreadable;
    std::vector<ProgramRun> m_runs;
};

// "succeeded", "restart required", "failed", "not run".
const char* resultName(Installer::Result result);

class NullInstaller : public Installer {
public:
    Result install() override { return NotRun; }
    Result uninstall() override { return NotRun; }
    Result verify() override { return NotRun; }
};

}}} // namespace ts::app::setupInstall
