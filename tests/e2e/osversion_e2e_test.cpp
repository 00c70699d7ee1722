// Setup under each Windows version that Wine can present: Vista is refused with 1633
// and message 36, later versions get past the operating-system check.
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace test = ts::test;

namespace {

const char* const unsupportedText = "Tessaline Graphics cannot be installed on this operating system.";
const uint32_t exitUnsupportedOs = 1633;

struct SetupRun {
    uint32_t exitCode = 0;
    std::string log;
};

// Runs a copy of the signed Setup.exe, which Wine presents the given version to.
SetupRun runSetupAs(const wchar_t* wineVersion)
{
    std::wstring folder = test::makeTempDir(L"osversion");
    std::wstring name = L"TsSetup-" + std::wstring(wineVersion) + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    std::wstring program = folder + L"\\" + name;
    std::wstring logFile = folder + L"\\run.log";
    CopyFileW((test::buildDir() + L"\\bin\\Setup.exe").c_str(), program.c_str(), FALSE);
    std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\" + name;
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, appDefaults.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(wineVersion),
                   static_cast<DWORD>((wcslen(wineVersion) + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    test::ProcessResult result = test::runProcess(L"\"" + program + L"\" -silent -mupLogFile \"" + logFile + L"\"");
    EXPECT_TRUE(result.started && !result.timedOut) << wineVersion;
    SetupRun run;
    run.exitCode = result.exitCode;
    run.log = test::readFile(logFile);

    RegDeleteTreeW(HKEY_CURRENT_USER, appDefaults.c_str());
    test::removeTree(folder);
    return run;
}

} // namespace

TEST(OsVersionE2eTest, VistaIsRefused)
{
    SetupRun run = runSetupAs(L"vista");
    EXPECT_EQ(exitUnsupportedOs, run.exitCode);
    EXPECT_NE(std::string::npos, run.log.find(unsupportedText)) << run.log;
    EXPECT_NE(std::string::npos, run.log.find("Update version: 7.9.1488.0")) << run.log;
}

TEST(OsVersionE2eTest, LaterVersionsPassTheCheck)
{
    for (const wchar_t* version : {L"win7", L"win8", L"win81", L"win10"}) {
        SetupRun run = runSetupAs(version);
        EXPECT_NE(exitUnsupportedOs, run.exitCode) << version;
        EXPECT_NE(std::string::npos, run.log.find("Update version: 7.9.1488.0")) << run.log;
        EXPECT_EQ(std::string::npos, run.log.find(unsupportedText)) << run.log;
    }
}
