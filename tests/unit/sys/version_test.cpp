#include "sys/libutils/version.h"

#include <gtest/gtest.h>

using ts::sys::Version;
using ts::sys::parseVersion;

TEST(Version, ParsesBothSeparatorsAndTrailingText)
{
    const Version expected(7, 9, 1488, 0);
    for (const wchar_t* text : {L"7.9.1488.0", L"7, 9, 1488, 0", L"7,9,1488,0", L"7.9.1488.0 beta", L" 7. 9. 1488. 0"}) {
        Version v;
        EXPECT_TRUE(parseVersion(text, v)) << text;
        EXPECT_EQ(expected, v) << text;
    }
}

TEST(Version, RefusalLeavesThePreviousValue)
{
    Version v(1, 2, 3, 4);
    for (const wchar_t* text : {L"7.9.1488", L"7.9.70000.0", L"", L"a.b.c.d", L"7.9.65536.0"}) {
        EXPECT_FALSE(parseVersion(text, v)) << text;
        EXPECT_EQ(Version(1, 2, 3, 4), v) << text;
    }
}

TEST(Version, PacksMajorHighestAndComparesNumerically)
{
    Version v(7, 9, 1488, 0);
    EXPECT_EQ(0x0007000905D00000ull, v.value());
    EXPECT_EQ(7, v.major());
    EXPECT_EQ(1488, v.build());
    EXPECT_GT(Version(7, 10, 0, 0), Version(7, 9, 65535, 65535));
    EXPECT_LT(Version(7, 4, 50415, 0), Version(7, 9, 1488, 0));
}

TEST(Version, TextForm)
{
    EXPECT_EQ(L"7.9.1488.0", toString(Version(7, 9, 1488, 0)));
    EXPECT_EQ(L"0.0.0.0", toString(Version()));
    EXPECT_EQ(L"65535.65535.65535.65535", toString(Version(~0ull)));
    EXPECT_EQ("7.4.50415.0", toNarrowString(Version(7, 4, 50415, 0)));
}
