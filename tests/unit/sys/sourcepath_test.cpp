#include "sys/libutils/win32/tsassert.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>

namespace ts { namespace sys {
namespace {

TEST(SourcePath, FileNamesAreRelativeToTheSourceRoot)
{
    EXPECT_STREQ("tests/unit/sys/sourcepath_test.cpp", __FILE__);
    EXPECT_EQ("tests\\unit\\sys\\sourcepath_test.cpp", windowsSourcePath(__FILE__));
    EXPECT_EQ("", windowsSourcePath(nullptr));
}

TEST(SourcePath, AssertionLineCarriesTheWindowsFormOfTheProjectPath)
{
    ts::test::testSettings().set("TessalineManager", "AssertBehaviour", "1"); // log only
    const int line = __LINE__ + 1;
    TS_ASSERT(1 + 1 == 3);
    ts::test::testSettings().erase("TessalineManager", "AssertBehaviour");
    EXPECT_TRUE(ts::test::captureContains("\tAssert failure: 1 + 1 == 3 at line " + std::to_string(line) +
                                          " in file tests\\unit\\sys\\sourcepath_test.cpp"));
}

}
}} // namespace ts::sys
