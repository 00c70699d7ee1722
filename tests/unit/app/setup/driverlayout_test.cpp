#include "app/setup/driverlayout.h"
#include "app/setup/driversinstaller.h"

#include <gtest/gtest.h>

using namespace ts::app::setupInstall;

namespace {

const int32_t kX86 = 0, kX64 = 1;
const int32_t kWin7 = 7, kWin10 = 12, kWin10Later = 13;

// The shipped layout text after the payload split it into non-empty lines.
const std::vector<std::wstring> kShipped = {
    L"DPINST x64 DPINST64\\DpInst.exe",
    L"DPINST x86 DPINST32\\DpInst.exe",
    L"REM Location of driver folders for dpinst",
    L"REM DRIVER \"description of driver\" platform os folder",
    L"DRIVER \"Tessaline Device\" x64 * \"VELA\"",
    L"DRIVER \"Tessaline Device\" x86 * \"VELA\"",
};

} // namespace

TEST(DriverLayout, ShippedLayoutOn64BitWindows)
{
    DriverLayout layout = parseDriverLayout(kShipped, kX64, kWin10);
    ASSERT_TRUE(layout.installer.valid);
    EXPECT_EQ(L"DPINST64\\DpInst.exe", layout.installer.path);
    EXPECT_EQ(kX64, layout.installer.platform);
    ASSERT_EQ(1u, layout.drivers.size());
    EXPECT_EQ(L"VELA", layout.drivers[0].folder);
    EXPECT_EQ(L"Tessaline Device", layout.drivers[0].description);
    EXPECT_EQ(kX64, layout.drivers[0].platform);
    EXPECT_EQ(kWin10, layout.drivers[0].osVersion);
}

TEST(DriverLayout, ShippedLayoutOn32BitWindows)
{
    DriverLayout layout = parseDriverLayout(kShipped, kX86, kWin7);
    ASSERT_TRUE(layout.installer.valid);
    EXPECT_EQ(L"DPINST32\\DpInst.exe", layout.installer.path);
    EXPECT_EQ(kX86, layout.installer.platform);
    ASSERT_EQ(1u, layout.drivers.size());
    EXPECT_EQ(L"VELA", layout.drivers[0].folder);
    EXPECT_EQ(kX86, layout.drivers[0].platform);
    EXPECT_EQ(kWin7, layout.drivers[0].osVersion);
}

TEST(DriverLayout, NamedSystemMustMatchTheRunningOne)
{
    const std::vector<std::wstring> lines = {
        L"DRIVER d x64 win10 TEN",
        L"DRIVER d x64 win7 SEVEN",
        L"DRIVER d x64 Win10 CASE",  // names are case-sensitive
        L"DRIVER d x64 win95 NONE",  // unknown name
        L"DRIVER d arm * ARM",       // unknown platform
        L"DRIVER d x86 * OTHERBITS", // the other platform
    };
    EXPECT_EQ(1u, parseDriverLayout(lines, kX64, kWin10).drivers.size());
    EXPECT_EQ(L"TEN", parseDriverLayout(lines, kX64, kWin10).drivers[0].folder);
    // A Windows 10 build above 10586 is another system than "win10".
    EXPECT_TRUE(parseDriverLayout(lines, kX64, kWin10Later).drivers.empty());
    EXPECT_EQ(L"SEVEN", parseDriverLayout(lines, kX64, kWin7).drivers[0].folder);
}

TEST(DriverLayout, UnclosedQuoteDropsTheRestOfTheLine)
{
    EXPECT_EQ((std::vector<std::wstring>{L"DRIVER"}), layoutTokens(L"DRIVER \"Tessaline Device x64 * VELA"));
    EXPECT_TRUE(parseDriverLayout({L"DRIVER \"Tessaline Device x64 * VELA"}, kX64, kWin10).drivers.empty());
    EXPECT_TRUE(parseDriverLayout({L"DRIVER d x64 * \"VELA"}, kX64, kWin10).drivers.empty());
}

TEST(DriverLayout, TokensSkipRunsOfSpacesAndKeepQuotedSpaces)
{
    EXPECT_EQ((std::vector<std::wstring>{L"DRIVER", L"\"a  b\"", L"x64", L"*", L"\"V\""}),
              layoutTokens(L"  DRIVER   \"a  b\" x64 *  \"V\"  "));
    EXPECT_EQ((std::vector<std::wstring>{L"a\tb"}), layoutTokens(L"a\tb")); // only U+0020 separates
    EXPECT_TRUE(layoutTokens(L"    ").empty());
    EXPECT_EQ((std::vector<std::wstring>{L"ab\"c", L"d\""}), layoutTokens(L"ab\"c d\""));
}

TEST(DriverLayout, WrongTokenCountsAndKeywordCaseAreIgnored)
{
    const std::vector<std::wstring> lines = {
        L"DRIVER d x64 * VELA extra",
        L"DRIVER d x64 *",
        L"driver d x64 * LOWER",
        L"DPINST x64",
        L"DPINST x64 a.exe extra",
        L"dpinst x64 lower.exe",
    };
    DriverLayout layout = parseDriverLayout(lines, kX64, kWin10);
    EXPECT_TRUE(layout.drivers.empty());
    EXPECT_FALSE(layout.installer.valid);
}

TEST(DriverLayout, LaterInstallerLineForThePlatformWins)
{
    DriverLayout layout = parseDriverLayout(
        {L"DPINST x86 first.exe", L"DPINST x64 sixtyfour.exe", L"DPINST x86 second.exe", L"DPINST arm arm.exe"}, kX86,
        kWin7);
    ASSERT_TRUE(layout.installer.valid);
    EXPECT_EQ(L"second.exe", layout.installer.path);
}

TEST(DriverLayout, QuotesComeOffDescriptionAndFolderOnly)
{
    DriverLayout layout = parseDriverLayout({L"DRIVER \"My Device\" x64 * \"Sub Folder\"", L"DPINST x64 \"q.exe\""},
                                            kX64, kWin10);
    ASSERT_EQ(1u, layout.drivers.size());
    EXPECT_EQ(L"My Device", layout.drivers[0].description);
    EXPECT_EQ(L"Sub Folder", layout.drivers[0].folder);
    EXPECT_EQ(L"\"q.exe\"", layout.installer.path);
}

TEST(MapDpInstExitCode, SignBitFailsRestartBitAsksForARestart)
{
    struct Case {
        uint32_t code;
        Installer::Result expected;
    } cases[] = {
        {0x00000000, Installer::Succeeded},      {0x00000001, Installer::Succeeded},
        {0x00000100, Installer::Succeeded},      {0x3FFFFFFF, Installer::Succeeded},
        {0x40000000, Installer::RebootRequired}, {0x40000001, Installer::RebootRequired},
        {0x7FFFFFFF, Installer::RebootRequired}, {0x80000000, Installer::Failed},
        {0x80010000, Installer::Failed},         {0xC0000001, Installer::Failed},
        {0xFFFFFFFF, Installer::Failed},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, MapDpInstExitCode(c.code)) << std::hex << c.code;
}

TEST(DriversUserInterface, ModeFromSettingsAndItsArguments)
{
    InstallSettings settings;
    EXPECT_EQ(2, driversUserInterfaceMode(settings));
    settings.silent = true;
    EXPECT_EQ(2, driversUserInterfaceMode(settings)); // licence dialogs not suppressed
    settings.suppressEula = true;
    EXPECT_EQ(1, driversUserInterfaceMode(settings));
    settings.silent = false;
    EXPECT_EQ(3, driversUserInterfaceMode(settings));
    EXPECT_EQ(L"/q /se", driverInstallerArguments(1));
    EXPECT_EQ(L"/q", driverInstallerArguments(2));
    EXPECT_EQ(L"/q /se", driverInstallerArguments(3));
}
