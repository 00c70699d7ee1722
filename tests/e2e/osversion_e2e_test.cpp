// Setup under each Windows version: Vista and 10.1 are refused with 1633 and message 36,
// Windows 7 to 10 get past the operating-system check. Each version is presented through
// the registry's version values, as that Windows keeps them.
#include "support/setuprun.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace test = ts::test;

namespace {

// Message 36 in the user's language; the suite runs for English and German users.
std::string unsupportedText()
{
    if (PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN)
        return "Tessaline Graphics kann auf diesem Betriebssystem nicht installiert werden.";
    return "Tessaline Graphics cannot be installed on this operating system.";
}
const uint32_t exitUnsupportedOs = 1633;

struct Outcome {
    uint32_t exitCode = 0;
    std::string log;
};

// Runs the signed Setup.exe on the given Windows (a name of PresentedWindows).
Outcome runSetupAs(const wchar_t* windows)
{
    test::SetupRun run(L"osversion");
    test::PresentedWindows version(windows);
    test::ProcessResult result = run.run(L"-silent -mupLogFile {log}");
    EXPECT_TRUE(result.started && !result.timedOut) << windows;
    return Outcome{result.exitCode, run.log()};
}

} // namespace

TEST(OsVersionE2eTest, VistaIsRefused)
{
    Outcome run = runSetupAs(L"vista");
    EXPECT_EQ(exitUnsupportedOs, run.exitCode);
    EXPECT_NE(std::string::npos, run.log.find(unsupportedText())) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Update version: 7.9.1488.0")) << run.log;
}

TEST(OsVersionE2eTest, Windows101IsRefused)
{
    Outcome run = runSetupAs(L"win10.1");
    EXPECT_EQ(exitUnsupportedOs, run.exitCode);
    EXPECT_NE(std::string::npos, run.log.find(unsupportedText())) << run.log;
}

TEST(OsVersionE2eTest, LaterVersionsPassTheCheck)
{
    for (const wchar_t* version : {L"win7", L"win8", L"win81", L"win10-10586", L"win10-19045"}) {
        Outcome run = runSetupAs(version);
        EXPECT_NE(exitUnsupportedOs, run.exitCode) << version;
        EXPECT_NE(std::string::npos, run.log.find("Update version: 7.9.1488.0")) << run.log;
        EXPECT_EQ(std::string::npos, run.log.find(unsupportedText())) << run.log;
    }
}
