#include "app/setup/installsequence.h"

#include "sys/libutils/text.h"

#include <windows.h>
#include <cstdio>
#include <utility>

namespace ts { namespace app { namespace setupInstall {

namespace {

// The wait cursor while the sequence runs; the previous one comes back on every exit.
class WaitCursor {
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
private:
    HCURSOR m_previous;
};

// Declared in slot order; destroyed in reverse (product, driver, staging, Core).
struct Slots {
    std::unique_ptr<Installer> core = std::make_unique<NullInstaller>();
    std::unique_ptr<Installer> staging = std::make_unique<NullInstaller>();
    std::unique_ptr<Installer> driver = std::make_unique<NullInstaller>();
    std::unique_ptr<Installer> product = std::make_unique<NullInstaller>();
};

int runSlots(IInstallerFactory& factory, const InstallSettings& settings, Slots& slots, bool& restartRequired)
{
    restartRequired = false;

    if (settings.installCore && !(slots.core = factory.createCore()))
        return 1;
    if (settings.coreOutdated && settings.stageDrivers && !(slots.staging = factory.createDrivers(StagingPass)))
        return 1;
    if (!(slots.driver = factory.createDrivers(InstallingPass)))
        return 1;
    if (settings.installProduct && !(slots.product = factory.createProduct()))
        return 1;

    Installer::Result core = slots.core->install();
    if (core == Installer::Failed)
        return 1;
    restartRequired = core == Installer::RebootRequired;
    Installer::Result staging = slots.staging->install();
    if (staging == Installer::Failed)
        slots.core->uninstall();
    Installer::Result driver = slots.driver->install();
    Installer::Result product = slots.product->install();
    // A restart the Core or product installer needs is as real as a driver's.
    for (Installer::Result result : {staging, driver, product})
        restartRequired = restartRequired || result == Installer::RebootRequired;
    // A failed staging pass fails the run too: with stageDrivers it is the run's only work.
    return staging == Installer::Failed || driver == Installer::Failed || product == Installer::Failed ? 1 : 0;
}

} // namespace

const char* resultName(Installer::Result result)
{
    switch (result) {
    case Installer::Succeeded: return "succeeded";
    case Installer::RebootRequired: return "restart required";
    case Installer::Failed: return "failed";
    default: return "not run";
    }
}

std::string programRunLine(const char* installer, const Installer::ProgramRun& run)
{
    char code[16];
    snprintf(code, sizeof code, run.exitCode > 0xFFFF ? "0x%08X" : "%u", static_cast<unsigned>(run.exitCode));
    std::string line = std::string(installer) + ": " + sys::logText(run.program);
    if (!run.started)
        return line + " could not be started: system error " + code;
    line += std::string(" exited with ") + code + " (" + resultName(run.result) + ")";
    return run.logFile.empty() ? line : line + ", log " + sys::logText(run.logFile);
}

int runInstallSequence(IInstallerFactory& factory, const InstallSettings& settings, bool& restartRequired,
                       std::vector<std::string>* runs)
{
    WaitCursor cursor;
    Slots slots;
    const int result = runSlots(factory, settings, slots, restartRequired);
    const std::pair<const char*, const Installer*> named[] = {{"Core installer", slots.core.get()},
                                                               {"Driver staging pass", slots.staging.get()},
                                                               {"Driver pass", slots.driver.get()},
                                                               {"Product installer", slots.product.get()}};
    for (const auto& slot : named)
        if (runs && slot.second)
            for (const Installer::ProgramRun& run : slot.second->programRuns())
                runs->push_back(programRunLine(slot.first, run));
    return result;
}

}}} // namespace ts::app::setupInstall
