#include "sys/libutils/win32/tsassert.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

struct ShownBox {
    HWND window = nullptr;
    std::string caption;
    std::string text;
};

BOOL CALLBACK findBox(HWND window, LPARAM parameter)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner != GetCurrentProcessId() || !IsWindowVisible(window) || std::string(className) != "#32770")
        return TRUE;
    auto* box = reinterpret_cast<ShownBox*>(parameter);
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    box->caption = text;
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text); // the message text's static control
    box->text = text;
    box->window = window;
    return FALSE;
}

} // namespace

TEST(AssertMessager, ShowsTheFailureInABoxOfItsOwnCaption)
{
    if (!getenv("TS_XDISPLAY"))
        GTEST_SKIP() << "needs an X display (TS_XDISPLAY)";
    ts::test::testLogger();
    std::atomic<bool> returned(false);
    std::atomic<DWORD> warnerId(0);
    std::thread warner([&] {
        warnerId = GetCurrentThreadId();
        ts::sys::AssertMessager().handle("count == 2", "sample.cpp", 41);
        returned = true;
    });
    ShownBox box;
    for (int i = 0; i < 300 && !box.window; ++i) {
        Sleep(50);
        EnumWindows(findBox, reinterpret_cast<LPARAM>(&box));
    }
    if (box.window)
        PostMessageW(box.window, WM_CLOSE, 0, 0);
    else if (!returned)
        PostThreadMessageW(warnerId, WM_QUIT, 0, 0); // a box this test did not recognise
    warner.join();
    ASSERT_NE(nullptr, box.window) << "no box was shown";
    EXPECT_TRUE(returned);
    EXPECT_EQ("Tessaline assert failure", box.caption);
    EXPECT_EQ("Assert failure: count == 2 at line 41 in file sample.cpp", box.text);
    bool warned = false;
    for (const std::string& line : ts::test::decodedCapture())
        warned = warned || (line.find("\tAssertMessager\t") != std::string::npos &&
                            line.find("\tVERBOSE\t") != std::string::npos &&
                            line.find("\tWarning user of assert failure.") != std::string::npos);
    EXPECT_TRUE(warned);
}
