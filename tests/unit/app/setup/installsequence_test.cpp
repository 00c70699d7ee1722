#include "app/setup/installsequence.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace ts::app::setupInstall;

namespace {

// Records every call of every installer of one sequence, in order.
struct Journal {
    std::vector<std::string> calls;
};

class FakeInstaller : public Installer {
public:
    FakeInstaller(Journal& journal, std::string name, Result installResult)
        : m_journal(journal), m_name(std::move(name)), m_install(installResult) {}
    ~FakeInstaller() override { m_journal.calls.push_back("~" + m_name); }
    Result install() override { m_journal.calls.push_back(m_name + ".install"); return m_install; }
    Result uninstall() override { m_journal.calls.push_back(m_name + ".uninstall"); return Succeeded; }
    Result verify() override { return Succeeded; }
private:
    Journal& m_journal;
    std::string m_name;
    Result m_install;
};

class FakeFactory : public IInstallerFactory {
public:
    explicit FakeFactory(Journal& journal) : m_journal(journal) {}
    Installer::Result core = Installer::Succeeded, staging = Installer::Succeeded, driver = Installer::Succeeded,
                      product = Installer::Succeeded;
    bool refuseCore = false, refuseDriver = false, refuseProduct = false;

    std::unique_ptr<Installer> createCore() override
    {
        m_journal.calls.push_back("create core");
        return refuseCore ? nullptr : std::make_unique<FakeInstaller>(m_journal, "core", core);
    }
    std::unique_ptr<Installer> createDrivers(uint32_t pass) override
    {
        m_journal.calls.push_back(pass == StagingPass ? "create staging" : "create driver");
        if (pass == InstallingPass && refuseDriver)
            return nullptr;
        return std::make_unique<FakeInstaller>(m_journal, pass == StagingPass ? "staging" : "driver",
                                               pass == StagingPass ? staging : driver);
    }
    std::unique_ptr<Installer> createProduct() override
    {
        m_journal.calls.push_back("create product");
        return refuseProduct ? nullptr : std::make_unique<FakeInstaller>(m_journal, "product", product);
    }
private:
    Journal& m_journal;
};

InstallSettings everything()
{
    InstallSettings s;
    s.coreOutdated = s.installCore = s.installProduct = true;
    return s;
}

using Calls = std::vector<std::string>;

} // namespace

TEST(InstallSequence, RunsSlotsInOrderAndDestroysThemInReverse)
{
    Journal j;
    FakeFactory f(j);
    bool restart = true;
    EXPECT_EQ(0, runInstallSequence(f, everything(), restart));
    EXPECT_FALSE(restart);
    EXPECT_EQ((Calls{"create core", "create driver", "create product", "core.install", "driver.install",
                     "product.install", "~product", "~driver", "~core"}),
              j.calls);
}

TEST(InstallSequence, StagingPassOnlyWhenCoreOutdatedAndStaging)
{
    Journal j;
    FakeFactory f(j);
    InstallSettings s;
    s.stageDrivers = s.coreOutdated = true;
    bool restart = false;
    EXPECT_EQ(0, runInstallSequence(f, s, restart));
    EXPECT_EQ((Calls{"create staging", "create driver", "staging.install", "driver.install", "~driver", "~staging"}),
              j.calls);
}

TEST(InstallSequence, FailedStagingUninstallsTheCore)
{
    Journal j;
    FakeFactory f(j);
    f.staging = Installer::Failed;
    InstallSettings s = everything();
    s.stageDrivers = true;
    bool restart = false;
    // The failed staging pass counts: a -stageDrivers run must not report it as success.
    EXPECT_EQ(1, runInstallSequence(f, s, restart));
    EXPECT_EQ((Calls{"create core", "create staging", "create driver", "create product", "core.install",
                     "staging.install", "core.uninstall", "driver.install", "product.install", "~product", "~driver",
                     "~staging", "~core"}),
              j.calls);
}

TEST(InstallSequence, CoreFailureStopsEverything)
{
    Journal j;
    FakeFactory f(j);
    f.core = Installer::Failed;
    bool restart = false;
    EXPECT_EQ(1, runInstallSequence(f, everything(), restart));
    EXPECT_EQ((Calls{"create core", "create driver", "create product", "core.install", "~product", "~driver",
                     "~core"}),
              j.calls);
}

TEST(InstallSequence, RefusedInstallerStopsBeforeAnythingRuns)
{
    for (int which = 0; which < 3; ++which) {
        Journal j;
        FakeFactory f(j);
        f.refuseCore = which == 0;
        f.refuseDriver = which == 1;
        f.refuseProduct = which == 2;
        bool restart = false;
        EXPECT_EQ(1, runInstallSequence(f, everything(), restart)) << which;
        for (const std::string& call : j.calls)
            EXPECT_EQ(std::string::npos, call.find(".install")) << which;
    }
}

TEST(InstallSequence, EverySlotCanAskForRestart)
{
    struct Case {
        Installer::Result core, staging, driver, product;
        int result;
        bool restart;
    } cases[] = {
        {Installer::RebootRequired, Installer::Succeeded, Installer::Succeeded, Installer::Succeeded, 0, true},
        {Installer::Succeeded, Installer::NotRun, Installer::Succeeded, Installer::RebootRequired, 0, true},
        {Installer::Succeeded, Installer::RebootRequired, Installer::Succeeded, Installer::Succeeded, 0, true},
        {Installer::Succeeded, Installer::Succeeded, Installer::RebootRequired, Installer::Failed, 1, true},
        {Installer::Succeeded, Installer::Succeeded, Installer::Failed, Installer::Succeeded, 1, false},
        {Installer::NotRun, Installer::NotRun, Installer::NotRun, Installer::NotRun, 0, false},
    };
    for (const Case& c : cases) {
        Journal j;
        FakeFactory f(j);
        f.core = c.core;
        f.staging = c.staging;
        f.driver = c.driver;
        f.product = c.product;
        InstallSettings s = everything();
        s.stageDrivers = true;
        bool restart = !c.restart;
        EXPECT_EQ(c.result, runInstallSequence(f, s, restart));
        EXPECT_EQ(c.restart, restart);
    }
}
