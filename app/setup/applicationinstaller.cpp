// Until the installer programs can be run, the Core package reads as missing (so it
// does not verify) and the product program cannot be written out.
#include "app/setup/applicationinstaller.h"

namespace ts { namespace app { namespace setupInstall {

namespace {
class MissingPackage : public Installer {
public:
    Result install() override { return Failed; }
    Result uninstall() override { return Failed; }
    Result verify() override { return Failed; }
};
} // namespace

std::unique_ptr<Installer> makeCoreInstaller(const std::wstring&, HMODULE, const InstallSettings&, uint16_t)
{
    return std::make_unique<MissingPackage>();
}

std::unique_ptr<Installer> makeProductInstaller(const std::wstring&, HMODULE, const InstallSettings&)
{
    return nullptr;
}

}}} // namespace ts::app::setupInstall
