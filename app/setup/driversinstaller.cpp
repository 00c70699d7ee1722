// The driver passes do not run yet: every pass reports NotRun.
#include "app/setup/driversinstaller.h"

namespace ts { namespace app { namespace setupInstall {

std::unique_ptr<Installer> makeDriversInstaller(const std::wstring&, HMODULE, const InstallSettings&, uint32_t)
{
    return std::make_unique<NullInstaller>();
}

}}} // namespace ts::app::setupInstall
