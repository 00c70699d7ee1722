#include "sys/libutils/text.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

// Each text comes back whole from the system's own splitter; plain paths stay as they
// are (the argument text tests hold them).
TEST(QuotedArgument, SurvivesTheSplitter)
{
    for (const wchar_t* text : {L"", L"C:\\Program Files\\a b.exe", L"C:\\Out\\", L"a\\\\", L"say \"hi\"",
                                L"a\\\"b\\", L"\\\\server\\share"}) {
        int count = 0;
        LPWSTR* argv = CommandLineToArgvW((L"x.exe " + ts::sys::quotedArgument(text) + L" next").c_str(), &count);
        ASSERT_TRUE(argv);
        ASSERT_EQ(3, count) << text;
        EXPECT_EQ(std::wstring(text), argv[1]);
        EXPECT_EQ(std::wstring(L"next"), argv[2]);
        LocalFree(argv);
    }
    EXPECT_EQ(L"\"C:\\Out\\\\\"", ts::sys::quotedArgument(L"C:\\Out\\"));
}
