// The install sequence over the four installer slots: Core, driver staging, driver, product.
#pragma once
#include "app/setup/installer.h"

#include <memory>

namespace ts { namespace app { namespace setupInstall {

// Makes the installers of one sequence. Each returns null when the installer could
// not be created (its verify() failed; the factory has told the user).
class IInstallerFactory {
public:
    virtual ~IInstallerFactory() = default;
    virtual std::unique_ptr<Installer> createCore() = 0;
    virtual std::unique_ptr<Installer> createDrivers(uint32_t passMask) = 0;
    virtual std::unique_ptr<Installer> createProduct() = 0;
};

enum : uint32_t { StagingPass = 1, InstallingPass = 2 };

// Runs the sequence; returns 0 on success, 1 when the staging, driver or product slot
// failed (or an installer was refused). restartRequired is set only by the two driver
// slots.
int runInstallSequence(IInstallerFactory& factory, const InstallSettings& settings, bool& restartRequired);

}}} // namespace ts::app::setupInstall
