#include "sys/libutils/win32/win32nr.h"

#include <gtest/gtest.h>

using ts::sys::win32::joinPath;
using ts::sys::win32::replaceDirectory;

TEST(PathTest, JoinPathAddsOneBackslashOnlyWhereNeeded)
{
    struct Case { const wchar_t* folder; const wchar_t* name; const wchar_t* expected; } cases[] = {
        {L"C:\\Temp", L"a.txt", L"C:\\Temp\\a.txt"},
        {L"C:\\Temp\\", L"a.txt", L"C:\\Temp\\a.txt"},
        {L"C:/Temp/", L"a.txt", L"C:/Temp/a.txt"},
        {L"", L"a.txt", L"a.txt"},
        {L"C:\\Temp", L"", L"C:\\Temp\\"},
        {L"C:\\Temp", L"*.cat", L"C:\\Temp\\*.cat"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, joinPath(c.folder, c.name)) << c.folder << L" + " << c.name;
}

TEST(PathTest, ReplaceDirectoryKeepsTheLastComponent)
{
    struct Case { const wchar_t* path; const wchar_t* folder; const wchar_t* expected; } cases[] = {
        {L"C:\\a\\b\\DpInst.exe", L"D:\\x", L"D:\\x\\DpInst.exe"},
        {L"C:/a/b/DpInst.exe", L"D:\\x\\", L"D:\\x\\DpInst.exe"},
        {L"C:\\a/b\\c/name.inf", L"D:", L"D:\\name.inf"},
        {L"plain.txt", L"D:\\x", L"D:\\x\\plain.txt"},
        {L"", L"D:\\x", L""},
        {L"C:\\a\\", L"D:\\x", L""},
        {L"C:\\a/", L"D:\\x", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, replaceDirectory(c.path, c.folder)) << c.path << L" -> " << c.folder;
}
