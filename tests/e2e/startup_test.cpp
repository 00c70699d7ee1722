// Start-up checks of the signed Setup.exe: command line, single instance, operating
// system, own signature, quiet mode and the run log.
#include "support/setuprun.h"

#include <windows.h>
#include <algorithm>
#include <gtest/gtest.h>

using namespace ts::test;

namespace {

const char* const kModified =
    "ERROR  \tThe software package appears to have been modified. Installation aborted. Please contact your vendor "
    "for assistance.";

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    for (const std::string& l : lines)
        if (l == line)
            return true;
    return false;
}

void expectBracketed(const std::vector<std::string>& lines)
{
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("INFO   \tStart Tessaline Setup", lines.front());
    EXPECT_EQ("INFO   \tStop Tessaline Setup", lines.back());
}

std::string withoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

} // namespace

TEST(SetupStartup, UnknownOptionEndsWithExit1AndTheReasonInTheRunLog)
{
    SetupRun r(L"unknown");
    ProcessResult p = r.run(L"-silent -bogus -mupLogFile {log}");
    ASSERT_TRUE(p.started);
    EXPECT_EQ(1u, p.exitCode);
    EXPECT_EQ("Unknown argument: -bogus\n", withoutCarriageReturns(r.output()));
    std::vector<std::string> lines = r.logLines();
    expectBracketed(lines);
    EXPECT_TRUE(contains(lines, "ERROR  \tUnknown argument: -bogus")) << r.log();
    EXPECT_TRUE(contains(lines, "ERROR  \tMessage 0x0000000C")) << r.log();
    EXPECT_FALSE(contains(lines, "INFO   \tPrevious version: Not installed"));
}

TEST(SetupStartup, RunLogNamesTheArgumentsAsGiven)
{
    SetupRun r(L"arguments");
    // Spaces and quotes stay as they were typed; the unsigned copy stops right after.
    const std::wstring arguments = L"-silent  -noreboot \"two words\" -mupLogFile " + r.logPath;
    ProcessResult p = r.run(arguments, testdata(L"Setup-unsigned.exe"));
    EXPECT_EQ(1790u, p.exitCode);
    std::vector<std::string> lines = r.logLines();
    ASSERT_GE(lines.size(), 2u) << r.log();
    EXPECT_EQ("INFO   \tArguments: " + narrow(arguments), lines[1]);
}

TEST(SetupStartup, SecondInstanceExitsWith1618)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, L"Local\\TessalineSetupPrevInstanceDetector");
    ASSERT_NE(nullptr, mutex);
    SetupRun r(L"second");
    ProcessResult p = r.run(L"-mupLogFile {log}");
    CloseHandle(mutex);
    EXPECT_EQ(1618u, p.exitCode); // ERROR_INSTALL_ALREADY_RUNNING: a deployment tool retries later
    std::vector<std::string> lines = r.logLines();
    expectBracketed(lines);
    EXPECT_TRUE(contains(lines, "ERROR  \tTessaline Setup is already running")) << r.log();
    EXPECT_FALSE(contains(lines, "INFO   \tUpdate version: 7.9.1488.0"));
}

TEST(SetupStartup, UnsignedOrTamperedSetupIsRefusedWith1790)
{
    for (const wchar_t* name : {L"Setup-unsigned.exe", L"Setup-tampered.exe"}) {
        SetupRun r(L"unsigned");
        ProcessResult p = r.run(L"-silent -mupLogFile {log}", testdata(name));
        EXPECT_EQ(1790u, p.exitCode) << narrow(name);
        std::vector<std::string> lines = r.logLines();
        expectBracketed(lines);
        EXPECT_TRUE(contains(lines, kModified)) << r.log();
        EXPECT_EQ(5u, lines.size()) << r.log(); // Start, Arguments, the message, the exit code, Stop
    }
}

TEST(SetupStartup, QuietRunShowsNoMessageBox)
{
    // The tests run on the runner's X display when it has one; without it boxes fail at once.
    if (!getenv("TS_XDISPLAY"))
        GTEST_SKIP() << "needs an X display (TS_XDISPLAY)";
    SetupRun quiet(L"quiet");
    ProcessResult p = quiet.run(L"-silent -mupLogFile {log}", testdata(L"Setup-unsigned.exe"));
    EXPECT_EQ(0, p.windowsClosed);
    EXPECT_EQ(1790u, p.exitCode);
    EXPECT_TRUE(contains(quiet.logLines(), kModified));

    // Not quiet (a run log but no -silent): the box is shown, then the same text logged.
    SetupRun loud(L"loud");
    p = loud.run(L"-mupLogFile {log}", testdata(L"Setup-unsigned.exe"));
    EXPECT_EQ(1, p.windowsClosed);
    EXPECT_EQ(1790u, p.exitCode);
    EXPECT_TRUE(contains(loud.logLines(), kModified)) << loud.log();

    // Not quiet either: -silent without a run log still shows its error boxes.
    SetupRun silent(L"silentnolog");
    p = silent.run(L"-silent", testdata(L"Setup-unsigned.exe"));
    EXPECT_EQ(1, p.windowsClosed);
    EXPECT_EQ(1790u, p.exitCode);
}

TEST(SetupStartup, RunLogInMissingFolderRunsNormally)
{
    SetupRun withLog(L"withlog");
    ProcessResult expected = withLog.run(L"-silent -mupLogFile {log}");
    SetupRun missing(L"missing");
    std::wstring path = missing.dir + L"\\no\\such\\folder\\run.log";
    ProcessResult p = missing.run(L"-silent -mupLogFile " + path);
    EXPECT_EQ(expected.exitCode, p.exitCode);
    EXPECT_FALSE(fileExists(path));
    EXPECT_FALSE(fileExists(missing.dir + L"\\no"));
}

TEST(SetupStartup, QuotedRunLogPathWithSpaces)
{
    SetupRun r(L"spaces");
    CreateDirectoryW((r.dir + L"\\Ann Lee").c_str(), nullptr);
    std::wstring path = r.dir + L"\\Ann Lee\\run.log";
    ProcessResult p = r.run(L"-silent -mupLogFile \"" + path + L"\" -bogus");
    EXPECT_EQ(1u, p.exitCode);
    std::string log = readFile(path);
    EXPECT_NE(std::string::npos, log.find("Start Tessaline Setup")) << narrow(path);
}

TEST(SetupStartup, RunLogPathOutsideTheAnsiCodePage)
{
    SetupRun r(L"cyrillic");
    const std::wstring path = r.dir + L"\\\x0416\x0443\x0440\x043D\x0430\x043B.log";
    ProcessResult p = r.run(L"-silent -bogus -mupLogFile \"" + path + L"\"");
    EXPECT_EQ(1u, p.exitCode);
    EXPECT_NE(std::string::npos, readFile(path).find("INFO   \tStart Tessaline Setup"));
}
