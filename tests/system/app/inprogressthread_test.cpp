// The progress window on its own thread, on the test display. This program carries
// Setup's resources (dialog 101, the product strings and the messages).
#include "app/setup/inprogressthread.h"

#include "app/setup/resource.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>

namespace ts { namespace app { namespace setupInstall {
namespace {

const wchar_t* const kTitle = L"Tessaline Graphics";

class ProgressWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY"))
            GTEST_SKIP() << "needs an X display (TS_XDISPLAY)";
    }

    // The dialog once it is visible; null after 10 seconds.
    static HWND waitForDialog()
    {
        for (int i = 0; i < 1000; ++i) {
            HWND dialog = FindWindowW(L"#32770", kTitle);
            if (dialog && IsWindowVisible(dialog) && InProgressThread::window() == dialog)
                return dialog;
            Sleep(10);
        }
        return nullptr;
    }

    // Stops the thread on another thread; false when stop() did not return in 10 seconds.
    static bool stopsInTime(InProgressThread& thread)
    {
        auto stopped = std::async(std::launch::async, [&] { thread.stop(); });
        return stopped.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    }
};

TEST_F(ProgressWindow, AppearsCentredWithTheTextThenGoesOnStop)
{
    InProgressThread thread;
    ASSERT_TRUE(thread.start());
    HWND dialog = waitForDialog();
    ASSERT_NE(nullptr, dialog);

    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    POINT expected = centredOrigin(desktop, own.right - own.left, own.bottom - own.top);
    EXPECT_EQ(expected.x, own.left);
    EXPECT_EQ(expected.y, own.top);
    EXPECT_LT(own.left, (desktop.right - desktop.left) / 2); // not at the corner
    EXPECT_GT(own.left, 0);

    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, IDC_PROGRESS_TEXT, text, 256);
    EXPECT_STREQ(L"Installing Tessaline Software for Tessaline Graphics", text);
    wchar_t className[64] = L"";
    GetClassNameW(GetDlgItem(dialog, IDC_PROGRESS_BAR), className, 64);
    EXPECT_STREQ(L"msctls_progress32", className);
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_PROGRESS_BAR), GWL_STYLE) & PBS_MARQUEE);

    ASSERT_TRUE(stopsInTime(thread));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, InProgressThread::window());
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", kTitle));
}

TEST_F(ProgressWindow, StopBeforeTheDialogExists)
{
    InProgressThread thread;
    ASSERT_TRUE(thread.start());
    ASSERT_TRUE(stopsInTime(thread));
    EXPECT_EQ(nullptr, InProgressThread::window());
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", kTitle));
}

TEST_F(ProgressWindow, StopAfterTheUserPressedEscape)
{
    InProgressThread thread;
    ASSERT_TRUE(thread.start());
    HWND dialog = waitForDialog();
    ASSERT_NE(nullptr, dialog);
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
    for (int i = 0; i < 1000 && IsWindow(dialog); ++i)
        Sleep(10);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, InProgressThread::window());
    // Nothing is left to post WM_CLOSE to; the stop must still end the thread.
    ASSERT_TRUE(stopsInTime(thread));
}

TEST_F(ProgressWindow, NeverStartedStopsAtOnce)
{
    InProgressThread thread;
    ASSERT_TRUE(stopsInTime(thread));
    EXPECT_EQ(nullptr, FindWindowW(L"#32770", kTitle));
}

TEST(ProgressWindowPlacement, CentredOnTheDesktopWithIntegerHalves)
{
    RECT desktop = {0, 0, 1024, 768};
    POINT at = centredOrigin(desktop, 301, 101);
    EXPECT_EQ(361, at.x);
    EXPECT_EQ(333, at.y);
    RECT shifted = {-100, 50, 900, 650};
    at = centredOrigin(shifted, 200, 100);
    EXPECT_EQ(300, at.x);
    EXPECT_EQ(300, at.y);
}

} // namespace
}}} // namespace ts::app::setupInstall
