#include "app/setup/mainflow.h"
#include "app/setup/restart.h"
#include "sys/libutils/setuprunlog.h"
#include "support/testsupport.h"
#include "tk/installer/libinstall/system.h"

#include <gtest/gtest.h>

using namespace ts::app::setupInstall;
using ts::sys::Version;

TEST(MainFlow, LogCodeAndShortName)
{
    EXPECT_EQ("TSS00AF", logCode("TSS", 0xAF));
    EXPECT_EQ("TSSFFFF", logCode("TSS", 0xFFFF));
    EXPECT_EQ(L"Tessaline Graphics", shortProductName(L"Tessaline Graphics\\Pro Edition"));
    EXPECT_EQ(L"", shortProductName(L"\\x"));
    EXPECT_EQ(L"Plain", shortProductName(L"Plain"));
}

TEST(MainFlow, InstallSettingsFromOptionsAndStrings)
{
    SetupOptionValues o;
    InstallSettings s = makeInstallSettings(o, L"Yes", L"Yes");
    EXPECT_TRUE(s.suppressEula);
    EXPECT_FALSE(s.ignoreUpToDate);
    EXPECT_EQ(SystemCheck::Normal, s.systemCheck);

    s = makeInstallSettings(o, L"yes", L"yes"); // exact, case-sensitive
    EXPECT_FALSE(s.suppressEula);
    EXPECT_EQ(SystemCheck::Skip, s.systemCheck);

    o.silent = o.stageDrivers = o.ignoreCompatibility = o.noreboot = true;
    s = makeInstallSettings(o, L"", L"");
    EXPECT_TRUE(s.suppressEula); // staging suppresses the licence dialogs
    EXPECT_TRUE(s.ignoreUpToDate);
    EXPECT_TRUE(s.silent);
    EXPECT_TRUE(s.noReboot);
    EXPECT_EQ(SystemCheck::Ignore, s.systemCheck); // the option wins over the string
}

TEST(MainFlow, UpToDateEvaluation)
{
    const Version packaged(7, 9, 1488, 0);
    EXPECT_TRUE(isUpToDate(Version(), false, Version()));
    EXPECT_FALSE(isUpToDate(packaged, false, Version()));
    EXPECT_FALSE(isUpToDate(packaged, true, Version(7, 9, 1487, 9)));
    EXPECT_TRUE(isUpToDate(packaged, true, packaged));
    EXPECT_TRUE(isUpToDate(packaged, true, Version(7, 10, 0, 0)));

    InstallSettings s;
    applyUpToDate(s, true, true);
    EXPECT_TRUE(nothingToDo(s));
    s.ignoreUpToDate = true;
    EXPECT_FALSE(nothingToDo(s));

    InstallSettings staging;
    staging.stageDrivers = true;
    applyUpToDate(staging, false, false);
    EXPECT_TRUE(staging.coreOutdated);
    EXPECT_FALSE(staging.installCore);
    EXPECT_FALSE(staging.installProduct);
    EXPECT_FALSE(nothingToDo(staging));
}

TEST(MainFlow, DeviceSuffix)
{
    const struct {
        const char* name;
        std::vector<std::wstring> hardwareIds;
        const wchar_t* suffix;
    } cases[] = {
        {"none", {}, L""},
        {"one", {L"USB\\VID_2F1C&PID_01A0&REV_0100"}, L"&pid=1a0"},
        {"without revision", {L"USB\\VID_2F1C&PID_01A0"}, L"&pid=1a0"},
        {"duplicates", {L"USB\\VID_2F1C&PID_0003&REV_0001", L"USB\\VID_2F1C&PID_0003&REV_0002"}, L"&pid=3"},
        {"sorted numerically", {L"USB\\VID_2F1C&PID_0100", L"USB\\VID_2F1C&PID_00FF", L"USB\\VID_2F1C&PID_0020"},
         L"&pid=20,ff,100"},
        {"mixed case", {L"usb\\vid_2f1c&pid_01a0&rev_0100", L"Usb\\Vid_2F1c&Pid_01A0", L"USB\\VID_2F1C&PID_BEEF"},
         L"&pid=1a0,beef"},
        {"other vendors", {L"USB\\VID_1234&PID_0005", L"USB\\VID_2F1D&PID_0005", L"HID\\VID_2F1C&PID_0005"}, L""},
        {"other vendors among the maker's", {L"USB\\VID_1234&PID_0005", L"USB\\VID_2F1C&PID_0006"}, L"&pid=6"},
        {"hub and empty ids", {L"USB\\ROOT_HUB20&VID8086", L"", L"USB\\VID_2F1C"}, L""},
        {"malformed", {L"USB\\VID_2F1C&PID_", L"USB\\VID_2F1C&PID_&REV_0100", L"USB\\VID_2F1C&PID_12G4",
                       L"USB\\VID_2F1C&PID_-1", L"USB\\VID_2F1C&PID_0x1A0", L"USB\\VID_2F1C&PID_ 1A0",
                       L"USB\\VID_2F1C&PID_123456789"},
         L""},
        {"malformed beside a good one", {L"USB\\VID_2F1C&PID_ZZ", L"USB\\VID_2F1C&PID_0042"}, L"&pid=42"},
        {"largest", {L"USB\\VID_2F1C&PID_FFFFFFFF"}, L"&pid=ffffffff"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.suffix, deviceSuffix(c.hardwareIds)) << c.name;
}

TEST(MainFlow, InstallCompleteAddress)
{
    EXPECT_EQ(L"https://www.tessaline.com/support/installcomplete.php?version=7.9.1488.0&productId=demo&pid=3,1a0",
              installCompleteAddress(L"", L"7.9.1488.0", L"demo", L"&pid=3,1a0"));
    // No maker device: the address ends right after the product identifier.
    EXPECT_EQ(L"tessaline-demo://pages.example/support/installcomplete.php?version=0.0.0.0&productId=x",
              installCompleteAddress(L"tessaline-demo://pages.example", L"0.0.0.0", L"x",
                                     deviceSuffix({L"USB\\VID_1234&PID_0005"})));
}

namespace {
struct FakeReboot : ts::tk::install::IRebootProperties {
    bool now = false;
    int required = 0;
    int others = 0;
    bool getSuppressReboot(bool&, std::string&) override { ++others; return false; }
    bool setSuppressReboot(bool, std::string&) override { ++others; return false; }
    bool isRebootNeededNow() override { return now; }
    bool setRebootNeededNow(bool) override { ++others; return false; }
    bool setSoftwareRequiresReboot(bool) override { ++required; return false; }
};
struct FakeRestart : IRestartService {
    bool yes = true;    // the user's answer
    bool answer = true; // whether the restart starts
    int asked = 0, calls = 0;
    bool forced = false;
    bool askToRestart() override { ++asked; return yes; }
    bool restart(bool force) override { ++calls; forced = force; return answer; }
};
struct Finish {
    FakeReboot reboot;
    FakeRestart restart;
    int pages = 0;
    RestartDecision decision = RestartDecision::NotNeeded;
    const ts::test::TempFolder temp{L"finish"};
    std::string path = ts::test::narrow(temp.path) + "\\run.log";

    int run(int result, bool restartRequired, const InstallSettings& s, bool disablePage = false, bool pageWanted = true)
    {
        ts::sys::SetupRunLog log;
        log.open(ts::test::widen(path));
        InstallationOutcome outcome = finishInstallation(result, restartRequired, s, disablePage, pageWanted, reboot,
                                                         restart, [this] { ++pages; }, log);
        log.close();
        decision = outcome.restart;
        return outcome.exitCode;
    }
    std::string log() { return ts::test::readFile(ts::test::widen(path)); }
};
} // namespace

TEST(FinishInstallation, SuccessOpensThePageAndSaysSo)
{
    Finish f;
    EXPECT_EQ(0, f.run(0, false, InstallSettings()));
    EXPECT_EQ(1, f.pages);
    EXPECT_EQ(0, f.restart.calls);
    EXPECT_NE(std::string::npos, f.log().find("INFO   \tInstallation completed successfully."));
}

TEST(FinishInstallation, PageOnlyWhenWantedAndNotSilent)
{
    InstallSettings silent;
    silent.silent = true;
    Finish a, b, c;
    a.run(0, false, silent);
    b.run(0, false, InstallSettings(), true);
    c.run(0, false, InstallSettings(), false, false);
    EXPECT_EQ(0, a.pages + b.pages + c.pages);
}

TEST(FinishInstallation, CoreAsksForRestartNow)
{
    Finish f;
    f.reboot.now = true;
    EXPECT_EQ(0, f.run(0, true, InstallSettings()));
    EXPECT_EQ(1, f.restart.calls);
    EXPECT_EQ(0, f.pages);
    EXPECT_EQ(std::string::npos, f.log().find("Installation"));

    Finish refused; // a failed restart: the run goes on, the restart is still needed
    refused.reboot.now = true;
    refused.restart.answer = false;
    EXPECT_EQ(3010, refused.run(0, false, InstallSettings()));
    EXPECT_EQ(1, refused.pages);

    Finish noReboot;
    noReboot.reboot.now = true;
    InstallSettings s;
    s.noReboot = true;
    EXPECT_EQ(3010, noReboot.run(0, true, s));
    EXPECT_EQ(0, noReboot.restart.calls);
    EXPECT_EQ(1, noReboot.reboot.required);
}

TEST(FinishInstallation, FailureOutranksADriverRestart)
{
    Finish f;
    EXPECT_EQ(1, f.run(1, true, InstallSettings()));
    EXPECT_EQ(1, f.reboot.required);
    EXPECT_EQ(0, f.pages);
    EXPECT_NE(std::string::npos, f.log().find("ERROR  \tInstallation failed."));
}

TEST(FinishInstallation, Failure)
{
    Finish f;
    f.reboot.now = true;
    EXPECT_EQ(1, f.run(1, false, InstallSettings()));
    EXPECT_EQ(0, f.restart.calls);
    EXPECT_NE(std::string::npos, f.log().find("ERROR  \tInstallation failed."));
}

// Sequence result x restart flags x options x the user's answer -> exit code and calls.
TEST(FinishInstallation, OutcomeTable)
{
    using D = RestartDecision;
    const struct {
        int result;
        bool installerRestart, now, noReboot, silent, yes, starts;
        int exit, asked, restarts, required, pages;
        D decision;
    } cases[] = {
        {0, false, false, false, false, true, true, 0, 0, 0, 0, 1, D::NotNeeded},
        {0, true, false, false, true, true, true, 3010, 0, 0, 1, 0, D::LeftPending},  // Core or product 3010
        {0, false, true, true, true, true, true, 3010, 0, 0, 1, 0, D::Suppressed},    // -noreboot
        {0, false, true, false, true, false, true, 0, 0, 1, 0, 0, D::Started},        // silent: no question
        {0, false, true, false, false, true, true, 0, 1, 1, 0, 0, D::Started},        // asked, yes
        {0, false, true, false, false, false, true, 3010, 1, 0, 1, 1, D::Declined},   // asked, not now
        {0, false, true, false, true, true, false, 3010, 0, 1, 1, 0, D::NotStarted},
        {1, true, false, false, false, true, true, 1, 0, 0, 1, 0, D::AfterFailure},
        {1, false, true, false, true, true, true, 1, 0, 0, 1, 0, D::AfterFailure},
        {1, false, false, false, false, true, true, 1, 0, 0, 0, 0, D::NotNeeded},
    };
    int row = 0;
    for (const auto& c : cases) {
        Finish f;
        f.reboot.now = c.now;
        f.restart.yes = c.yes;
        f.restart.answer = c.starts;
        InstallSettings s;
        s.noReboot = c.noReboot;
        s.silent = c.silent;
        EXPECT_EQ(c.exit, f.run(c.result, c.installerRestart, s)) << row;
        EXPECT_EQ(c.asked, f.restart.asked) << row;
        EXPECT_EQ(c.restarts, f.restart.calls) << row;
        if (c.restarts) {
            EXPECT_EQ(c.silent, f.restart.forced) << row; // applications may ask to save unless silent
        }
        EXPECT_EQ(c.required, f.reboot.required) << row;
        EXPECT_EQ(c.pages, f.pages) << row;
        EXPECT_EQ(c.decision, f.decision) << row;
        ++row;
    }
}
