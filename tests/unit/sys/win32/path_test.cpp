#include "sys/libutils/win32/win32nr.h"

#include <gtest/gtest.h>

using ts::sys::win32::joinPath;
using ts::sys::win32::replaceDirectory;

namespace {

struct Case {
    const wchar_t* first;
    const wchar_t* second;
    const wchar_t* expected;
};

template <size_t N>
void expectTable(const Case (&cases)[N], std::wstring (*function)(const std::wstring&, const std::wstring&))
{
    for (const Case& c : cases)
        EXPECT_EQ(c.expected, function(c.first, c.second)) << c.first << L" | " << c.second;
}

} // namespace

TEST(PathTest, JoinPathAddsOneBackslashOnlyWhereNeeded)
{
    const Case cases[] = {
        {L"C:\\Temp", L"a.txt", L"C:\\Temp\\a.txt"},
        {L"C:\\Temp\\", L"a.txt", L"C:\\Temp\\a.txt"},
        {L"C:/Temp/", L"a.txt", L"C:/Temp/a.txt"},
        {L"", L"a.txt", L"a.txt"},
        {L"C:\\Temp", L"", L"C:\\Temp\\"},
        {L"C:\\Temp", L"*.cat", L"C:\\Temp\\*.cat"},
    };
    expectTable(cases, joinPath);
}

TEST(PathTest, ReplaceDirectoryKeepsTheLastComponent)
{
    const Case cases[] = {
        {L"C:\\a\\b\\DpInst.exe", L"D:\\x", L"D:\\x\\DpInst.exe"},
        {L"C:/a/b/DpInst.exe", L"D:\\x\\", L"D:\\x\\DpInst.exe"},
        {L"C:\\a/b\\c/name.inf", L"D:", L"D:\\name.inf"},
        {L"plain.txt", L"D:\\x", L"D:\\x\\plain.txt"},
        {L"", L"D:\\x", L""},
        {L"C:\\a\\", L"D:\\x", L""},
        {L"C:\\a/", L"D:\\x", L""},
    };
    expectTable(cases, replaceDirectory);
}
