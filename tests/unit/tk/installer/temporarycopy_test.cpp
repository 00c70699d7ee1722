#include "tk/installer/libinstall/system.h"

#include "support/testsupport.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>

namespace ts { namespace tk { namespace install {
namespace {

using test::fileExists;
using test::readFile;

const bool kLoggerReady = (test::testLogger(), true);

// The last captured log line that holds `text`; "" when there is none.
std::string lastLineWith(const std::string& text)
{
    std::string found;
    for (const std::string& line : test::decodedCapture())
        if (line.find(text) != std::string::npos)
            found = line;
    return found;
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class TemporaryCopyTest : public ::testing::Test {
protected:
    const test::TempFolder m_temp{L"tempcopy"};
    const std::wstring& m_folder = m_temp.path;
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

TEST_F(TemporaryCopyTest, FailedCopyIsLoggedWithItsError)
{
    test::writeFile(m_folder + L"\\core.dat", "new");
    test::writeFile(m_folder + L"\\core.exe", "existing");
    {
        TemporaryCopy copy(m_folder + L"\\core.dat", L".exe");
    }
    const std::string line = lastLineWith("Creating temporary copy failed");
    EXPECT_NE(std::string::npos, line.find("\tTemporaryCopy\t")) << line;
    EXPECT_NE(std::string::npos, line.find("\tERROR\t")) << line;
    EXPECT_TRUE(endsWith(line, "\tCreating temporary copy failed 80")) << line; // ERROR_FILE_EXISTS
}

TEST_F(TemporaryCopyTest, CopyThatCannotBeRemovedIsLoggedAndStays)
{
    test::writeFile(m_folder + L"\\held.dat", "program");
    HANDLE held = INVALID_HANDLE_VALUE;
    {
        TemporaryCopy copy(m_folder + L"\\held.dat", L".exe");
        ASSERT_EQ(m_folder + L"\\held.exe", copy.path());
        // Open without delete sharing, as a program still running from the copy would.
        held = CreateFileW(copy.path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
    }
    CloseHandle(held);
    EXPECT_TRUE(fileExists(m_folder + L"\\held.exe"));
    const std::string line = lastLineWith("Removing temporary copy failed");
    EXPECT_NE(std::string::npos, line.find("\tERROR\t")) << line;
    EXPECT_TRUE(endsWith(line, "\tRemoving temporary copy failed 32")) << line; // ERROR_SHARING_VIOLATION
}

}
}}} // namespace ts::tk::install
