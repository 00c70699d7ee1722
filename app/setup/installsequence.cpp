#include "app/setup/installsequence.h"

#include <windows.h>

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

} // namespace

int runInstallSequence(IInstallerFactory& factory, const InstallSettings& settings, bool& restartRequired)
{
    WaitCursor cursor;
    Slots slots;
    restartRequired = false;

    if (settings.installCore && !(slots.core = factory.createCore()))
        return 1;
    if (settings.coreOutdated && settings.stageDrivers && !(slots.staging = factory.createDrivers(StagingPass)))
        return 1;
    if (!(slots.driver = factory.createDrivers(InstallingPass)))
        return 1;
    if (settings.installProduct && !(slots.product = factory.createProduct()))
        return 1;

    if (slots.core->install() == Installer::Failed)
        return 1;
    Installer::Result staging = slots.staging->install();
    if (staging == Installer::Failed)
        slots.core->uninstall();
    restartRequired = staging == Installer::RebootRequired;
    Installer::Result driver = slots.driver->install();
    if (driver == Installer::RebootRequired)
        restartRequired = true;
    Installer::Result product = slots.product->install();
    // A failed staging pass fails the run too: with stageDrivers it is the run's only work.
    return staging == Installer::Failed || driver == Installer::Failed || product == Installer::Failed ? 1 : 0;
}

}}} // namespace ts::app::setupInstall
