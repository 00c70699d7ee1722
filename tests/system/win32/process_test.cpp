#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/win32nr.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace win32 = ts::sys::win32;
namespace test = ts::test;

namespace {

std::wstring exitProgram()
{
    return L"\"" + test::buildDir() + L"\\bin\\tsexit.exe\"";
}

} // namespace

TEST(ProcessTest, RunProcessGivesTheChildsFullExitCode)
{
    for (DWORD code : {0ul, 7ul, 3010ul, 0xC0000135ul, 0xFFFFFFFFul}) {
        DWORD exitCode = 12345;
        ASSERT_TRUE(win32::runProcess(exitProgram() + L" " + std::to_wstring(code), exitCode)) << code;
        EXPECT_EQ(code, exitCode);
    }
}

TEST(ProcessTest, RunProcessOfAMissingProgramGivesFalseAndError2)
{
    DWORD exitCode = 0;
    EXPECT_FALSE(win32::runProcess(L"\"" + test::buildDir() + L"\\bin\\no-such-program.exe\" /q", exitCode));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), exitCode);
}

TEST(ProcessTest, ChildSeesTheCommandLineUnchanged)
{
    const test::TempFolder temp(L"process");
    const std::wstring& folder = temp.path;
    std::wstring record = folder + L"\\line.txt";
    std::wstring line = exitProgram() + L" 0 \"" + record + L"\"";
    DWORD exitCode = 1;
    ASSERT_TRUE(win32::runProcess(line, exitCode));
    std::string written = test::readFile(record);
    EXPECT_EQ(line, std::wstring(reinterpret_cast<const wchar_t*>(written.data()), written.size() / sizeof(wchar_t)));
}

TEST(ProcessTest, StartProcessDoesNotWait)
{
    const test::TempFolder temp(L"process");
    const std::wstring& folder = temp.path;
    std::wstring record = folder + L"\\started.txt";
    EXPECT_EQ(0u, win32::startProcess(exitProgram() + L" 0 \"" + record + L"\""));
    for (int i = 0; i < 200 && !test::fileExists(record); ++i)
        Sleep(50);
    EXPECT_TRUE(test::fileExists(record));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), win32::startProcess(L"no-such-program-anywhere.exe"));
    Sleep(200);
}

TEST(ProcessTest, LaunchProcessHandsOverOnlyTheProcessHandle)
{
    DWORD error = 777;
    STARTUPINFOW startup = {};
    startup.dwFlags = STARTF_USESHOWWINDOW;
    PROCESS_INFORMATION info = win32::launchProcess(exitProgram() + L" 5", error, startup, CREATE_SUSPENDED);
    win32::Handle process(info.hProcess);
    ASSERT_TRUE(process);
    EXPECT_EQ(777u, error) << "a successful start leaves the error alone";
    EXPECT_EQ(nullptr, info.hThread);
    EXPECT_NE(0u, info.dwProcessId);
    EXPECT_EQ(68u, startup.cb);
    EXPECT_EQ(0u, startup.dwFlags);
    // Suspended: it has not run yet, and its thread can only be reached by id.
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(process.get(), 100));
    win32::Handle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, info.dwThreadId));
    ASSERT_TRUE(thread);
    ResumeThread(thread.get());
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.get(), 30000));
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(5u, code);
}

TEST(ProcessTest, DuplicateOwnTokenGivesAPrimaryToken)
{
    win32::Handle token(win32::duplicateOwnToken());
    ASSERT_TRUE(token);
    TOKEN_TYPE type = TokenImpersonation;
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenType, &type, sizeof type, &size));
    EXPECT_EQ(TokenPrimary, type);
}
