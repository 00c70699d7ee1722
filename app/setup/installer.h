// The installable unit and the settings every installer is given.
#pragma once
#include <cstdint>

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
};

class NullInstaller : public Installer {
public:
    Result install() override { return NotRun; }
    Result uninstall() override { return NotRun; }
    Result verify() override { return NotRun; }
};

}}} // namespace ts::app::setupInstall
