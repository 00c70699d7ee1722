#include "sys/libutils/win32/resource.h"
#include "sys/libutils/win32/security.h"
#include "sys/libutils/win32/win32nr.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace win32 = ts::sys::win32;
namespace test = ts::test;

namespace {

class FileWriteTest : public ::testing::Test {
protected:
    test::TempFolder m_temp{L"filewrite"};
    const std::wstring& m_folder = m_temp.path;
};

TEST_F(FileWriteTest, WritesReplacesAndNamesTheWindowsError)
{
    const std::wstring path = m_folder + L"\\out.bin";
    test::writeFile(path, "an older and longer content");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::writeFileContents(path, "new", 3));
    EXPECT_EQ("new", test::readFile(path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::writeFileContents(path, "", 0));
    EXPECT_EQ("", test::readFile(path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND),
              win32::writeFileContents(m_folder + L"\\no such folder\\out.bin", "x", 1));
}

TEST_F(FileWriteTest, FoldersWithTheirParentsAndCopies)
{
    const std::wstring deep = m_folder + L"\\a\\b\\c";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::createDirectories(deep));
    EXPECT_TRUE(win32::pathExists(deep));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::createDirectories(deep)); // already there

    const std::wstring from = m_folder + L"\\from.txt", to = deep + L"\\to.txt";
    test::writeFile(from, "first");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::copyFile(from, to, false));
    test::writeFile(from, "second");
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), win32::copyFile(from, to, false));
    EXPECT_EQ("first", test::readFile(to));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::copyFile(from, to, true));
    EXPECT_EQ("second", test::readFile(to));

    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), win32::checkReadable(to));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), win32::checkReadable(m_folder + L"\\missing.dat"));
    EXPECT_FALSE(win32::pathExists(m_folder + L"\\missing.dat"));
}

TEST(ResourceReader, FindsAModulesResourcesAndSaysWhyNot)
{
    HMODULE setup = LoadLibraryExW((test::buildDir() + L"\\unsigned\\Setup.exe").c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, setup);
    win32::ResourceBytes bytes;
    EXPECT_EQ(win32::ResourceStatus::Found, win32::readResource(setup, RT_MANIFEST, MAKEINTRESOURCEW(1), bytes));
    EXPECT_NE(nullptr, bytes.data);
    EXPECT_LT(0u, bytes.size);
    EXPECT_TRUE(win32::hasResource(setup, RT_MANIFEST, MAKEINTRESOURCEW(1)));
    // The unsigned build carries no payload.
    win32::ResourceBytes none;
    EXPECT_EQ(win32::ResourceStatus::Missing, win32::readResource(setup, L"EXE", MAKEINTRESOURCEW(4), none));
    EXPECT_EQ(nullptr, none.data);
    EXPECT_FALSE(win32::hasResource(setup, L"EXE", MAKEINTRESOURCEW(4)));
    FreeLibrary(setup);
}

TEST(Security, TheTestUserIsAnAdministrator)
{
    // Wine's user is a member of the local Administrators group, as Setup needs.
    EXPECT_TRUE(win32::isAdministrator());
}

}
