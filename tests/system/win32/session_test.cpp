#include "sys/libutils/exception.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/session.h"

#include <gtest/gtest.h>

namespace win32 = ts::sys::win32;
using ts::sys::Logger;

namespace {

struct TestLogger : Logger::Logged {
    TestLogger() : Identity("SessionTest", ""), Logger::Logged(Logger::instance(), "SessionTest", "") {}
};

bool threadHasToken()
{
    win32::Handle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.receive()) != FALSE;
}

void expectMessage33(const char* library, const char* function, DWORD error)
{
    try {
        win32::Library(library, function);
        ADD_FAILURE() << "no exception for " << library << " " << function;
    } catch (const ts::sys::SystemMessageException& e) {
        EXPECT_EQ(33u, e.messageId());
        EXPECT_EQ(error, e.windowsError()) << library << " " << function;
    }
}

} // namespace

TEST(LibraryTest, LoadsByPathWithoutResolving)
{
    win32::Library kernel(L"kernel32.dll");
    EXPECT_TRUE(kernel.loaded());
    EXPECT_EQ(nullptr, kernel.function());
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount")),
              kernel.getProcAddress("GetTickCount"));
    EXPECT_EQ(nullptr, kernel.getProcAddress("NoSuchExportAnywhere"));

    win32::Library missing(L"no-such-library.dll");
    EXPECT_FALSE(missing.loaded());
    EXPECT_EQ(nullptr, missing.getProcAddress("GetTickCount"));
}

TEST(LibraryTest, ResolvesOneFunctionOrThrowsMessage33)
{
    win32::Library tick("kernel32.dll", "GetTickCount");
    ASSERT_NE(nullptr, tick.function());
    EXPECT_NE(0u, tick.functionAs<DWORD(WINAPI*)()>()());

    expectMessage33("kernel32.dll", "NoSuchExportAnywhere", ERROR_PROC_NOT_FOUND);
    expectMessage33("no-such-library.dll", "Anything", ERROR_MOD_NOT_FOUND);
}

TEST(SessionTest, ImpersonatorEndsItsImpersonation)
{
    ASSERT_FALSE(threadHasToken());
    {
        win32::LoggedOnUserImpersonatorFactory factory;
        std::unique_ptr<win32::UserImpersonator> impersonator = factory.createImpersonator();
        auto* loggedOn = dynamic_cast<win32::LoggedOnUserImpersonator*>(impersonator.get());
        ASSERT_NE(nullptr, loggedOn);
        // Whether a console user exists depends on the system; the thread's state must match.
        EXPECT_EQ(loggedOn->impersonating(), threadHasToken());
    }
    EXPECT_FALSE(threadHasToken());
}

TEST(SessionTest, UserProfileOfAnInvalidTokenThrowsMessage49)
{
    try {
        win32::UserProfile profile(nullptr);
        FAIL() << "no exception";
    } catch (const ts::sys::SystemMessageException& e) {
        EXPECT_EQ(49u, e.messageId());
        EXPECT_NE(0u, e.windowsError());
    }
}

TEST(SessionTest, UserProfileOfOwnTokenGivesAHive)
{
    win32::Handle token;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE, token.receive()));
    win32::UserProfile profile(token.get());
    EXPECT_NE(nullptr, profile.getProfileRoot());
}

TEST(SessionTest, UserDesktopConnectionIsUndoneOnDestruction)
{
    TestLogger logger;
    HDESK before = GetThreadDesktop(GetCurrentThreadId());
    {
        win32::ConnectToUserDesktop connection(logger);
        if (connection.desktop()) {
            EXPECT_FALSE(win32::desktopName(connection.desktop()).empty());
            if (connection.previousDesktop()) {
                EXPECT_EQ(before, connection.previousDesktop());
                EXPECT_EQ(connection.desktop(), GetThreadDesktop(GetCurrentThreadId()));
            }
        } else {
            EXPECT_EQ(nullptr, connection.previousDesktop());
        }
    }
    EXPECT_EQ(before, GetThreadDesktop(GetCurrentThreadId()));
}
