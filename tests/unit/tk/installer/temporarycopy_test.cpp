#include "tk/installer/libinstall/system.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace ts { namespace tk { namespace install {
namespace {

using test::fileExists;
using test::readFile;

class TemporaryCopyTest : public ::testing::Test {
protected:
    void SetUp() override { m_folder = test::makeTempDir(L"tempcopy"); }
    void TearDown() override { test::removeTree(m_folder); }
    std::wstring m_folder;
};

TEST_F(TemporaryCopyTest, OtherExtensionIsCopiedNextToTheFileAndRemovedAfterwards)
{
    test::writeFile(m_folder + L"\\core.dat", "program");
    {
        TemporaryCopy copy(m_folder + L"\\core.dat", L".exe");
        EXPECT_EQ(m_folder + L"\\core.exe", copy.path());
        EXPECT_EQ("program", readFile(m_folder + L"\\core.exe"));
    }
    EXPECT_FALSE(fileExists(m_folder + L"\\core.exe"));
    EXPECT_EQ("program", readFile(m_folder + L"\\core.dat"));
}

TEST_F(TemporaryCopyTest, SameExtensionOrFailedCopyUsesTheSource)
{
    test::writeFile(m_folder + L"\\setup.exe", "setup");
    {
        TemporaryCopy copy(m_folder + L"\\setup.exe", L".exe");
        EXPECT_EQ(m_folder + L"\\setup.exe", copy.path());
    }
    EXPECT_TRUE(fileExists(m_folder + L"\\setup.exe"));

    // An existing target is neither overwritten nor removed.
    test::writeFile(m_folder + L"\\core.dat", "new");
    test::writeFile(m_folder + L"\\core.exe", "existing");
    {
        TemporaryCopy copy(m_folder + L"\\core.dat", L".exe");
        EXPECT_EQ(m_folder + L"\\core.dat", copy.path());
    }
    EXPECT_EQ("existing", readFile(m_folder + L"\\core.exe"));

    // Extensions compare case-sensitively; the copy onto the same file fails.
    test::writeFile(m_folder + L"\\SETUP.EXE", "upper");
    {
        TemporaryCopy copy(m_folder + L"\\SETUP.EXE", L".exe");
        EXPECT_EQ(m_folder + L"\\SETUP.EXE", copy.path());
    }
    EXPECT_TRUE(fileExists(m_folder + L"\\SETUP.EXE"));

    TemporaryCopy missing(m_folder + L"\\missing.dat", L".exe");
    EXPECT_EQ(m_folder + L"\\missing.dat", missing.path());
}

}
}}} // namespace ts::tk::install
