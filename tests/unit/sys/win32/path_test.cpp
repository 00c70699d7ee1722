#include "sys/libutils/win32/process.h"
#include "sys/libutils/win32/signature.h"
#include "sys/libutils/win32/win32nr.h"
#include "sys/libutils/win32/workingfolder.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <utility>
#include <vector>

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

TEST(PathTest, ChildrenGetTheWorkingFolderAsTempAndTmp)
{
    // A block of entries, each NUL-terminated, and a final NUL.
    auto block = [](std::initializer_list<std::wstring> entries) {
        std::wstring out;
        for (const std::wstring& entry : entries)
            out += entry + L'\0';
        return out + L'\0';
    };
    const std::wstring temp = L"TEMP=C:\\W\\TS1.tmp", tmp = L"TMP=C:\\W\\TS1.tmp";
    const std::pair<std::wstring, std::wstring> cases[] = {
        // Replaced in place, names in any case; others stay as they are.
        {block({L"=C:=C:\\", L"A=1", L"temp=C:\\U", L"Tmp=C:\\U", L"Z=2"}),
         block({L"=C:=C:\\", L"A=1", temp, tmp, L"Z=2"})},
        // Added where missing; a name that only begins with TEMP is another variable.
        {block({L"TEMPDIR=x"}), block({L"TEMPDIR=x", temp, tmp})},
        {block({}), block({temp, tmp})},
    };
    for (const auto& c : cases) {
        const std::vector<wchar_t> out = ts::sys::win32::environmentWithTemp(c.first.c_str(), L"C:\\W\\TS1.tmp\\");
        EXPECT_EQ(c.second, std::wstring(out.begin(), out.end()));
    }
    EXPECT_EQ(L"TS0000ABCD.tmp", ts::sys::win32::workingFolderName(0xABCD));
    for (const wchar_t* name : {L"TESSALINE", L"TESSALINE (TEST CERTIFICATE)", L"Microsoft Windows",
                                L"Microsoft Corporation"})
        EXPECT_TRUE(ts::sys::win32::isDriverInstallerSigner(name)) << name;
    for (const wchar_t* name : {L"", L"Microsoft", L"microsoft windows", L"Tessaline", L"Somebody Else"})
        EXPECT_FALSE(ts::sys::win32::isDriverInstallerSigner(name)) << name;
}
