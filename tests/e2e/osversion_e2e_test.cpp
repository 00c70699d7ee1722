// Setup under each Windows version that Wine can present: Vista is refused with 1633
// and message 36, later versions get past the operating-system check.
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

// Runs a copy of the signed Setup.exe, which Wine presents the given version to.
Outcome runSetupAs(const wchar_t* wineVersion)
{
    test::SetupRun run(L"osversion");
    std::wstring name = L"TsSetup-" + std::wstring(wineVersion) + L".exe";
    std::wstring program = run.dir + L"\\" + name;
    CopyFileW(test::setupExe().c_str(), program.c_str(), FALSE);
    test::WineVersionOverride version(name, wineVersion);
    test::ProcessResult result = run.run(L"-silent -mupLogFile {log}", program);
    EXPECT_TRUE(result.started && !result.timedOut) << wineVersion;
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

TEST(OsVersionE2eTest, LaterVersionsPassTheCheck)
{
    for (const wchar_t* version : {L"win7", L"win8", L"win81", L"win10"}) {
        Outcome run = runSetupAs(version);
        EXPECT_NE(exitUnsupportedOs, run.exitCode) << version;
        EXPECT_NE(std::string::npos, run.log.find("Update version: 7.9.1488.0")) << run.log;
        EXPECT_EQ(std::string::npos, run.log.find(unsupportedText())) << run.log;
    }
}
