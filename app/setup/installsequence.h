// The install sequence over the four installer slots: Core, driver staging, driver, product.
#pragma once
#include "app/setup/installer.h"

#include <memory>
#include <string>
#include <vector>

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
// failed (or an installer was refused). restartRequired is set when any slot answered
// RebootRequired: a driver pass, or the Core or product installer's 3010 or 1641.
// `runs` (may be null) receives a programRunLine for each program the slots ran.
int runInstallSequence(IInstallerFactory& factory, const InstallSettings& settings, bool& restartRequired,
                       std::vector<std::string>* runs = nullptr);

// "<installer>: <program> exited with <code> (<result>), log <file>", or "... could not be
// started: system error <code>"; no log part when the program writes none. Codes above
// 0xFFFF are hexadecimal (a driver installer's bits).
std::string programRunLine(const char* installer, const Installer::ProgramRun& run);

}}} // namespace ts::app::setupInstall
