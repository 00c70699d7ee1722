#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/registry.h"

#include <gtest/gtest.h>

namespace win32 = ts::sys::win32;
namespace registry = ts::sys::win32::registry;
using win32::Architecture;
using win32::OsVersion;

TEST(KeyPathTest, EightRootNamesAndNothingElse)
{
    struct Case { const wchar_t* name; HKEY key; } cases[] = {
        {L"HKCR", HKEY_CLASSES_ROOT}, {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", HKEY_CURRENT_USER}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKLM", HKEY_LOCAL_MACHINE}, {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", HKEY_USERS}, {L"HKEY_USERS", HKEY_USERS},
        {L"hklm", nullptr}, {L"HKEY_CURRENT_CONFIG", nullptr}, {L"HKCC", nullptr}, {L"", nullptr},
        {L"HKLM ", nullptr}, {L"HKEY_LOCAL", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.key, registry::rootKeyFromName(c.name)) << c.name;
}

TEST(KeyPathTest, SplitKeepsTheSubkeyPathUnchanged)
{
    std::wstring subkey = L"unchanged";
    EXPECT_EQ(HKEY_LOCAL_MACHINE, registry::splitKeyPath(L"HKLM", subkey));
    EXPECT_EQ(L"", subkey);
    EXPECT_EQ(HKEY_LOCAL_MACHINE, registry::splitKeyPath(L"HKLM\\SOFTWARE\\Tessaline\\Core\\", subkey));
    EXPECT_EQ(L"SOFTWARE\\Tessaline\\Core\\", subkey);
    EXPECT_EQ(HKEY_USERS, registry::splitKeyPath(L"HKEY_USERS\\.DEFAULT", subkey));
    EXPECT_EQ(L".DEFAULT", subkey);
    for (const wchar_t* bad : {L"hklm\\SOFTWARE", L"HKEY_CURRENT_CONFIG\\System", L"", L"\\SOFTWARE"}) {
        try {
            registry::splitKeyPath(bad, subkey);
            ADD_FAILURE() << "no exception for " << bad;
        } catch (const registry::InvalidKeyNameException& e) {
            EXPECT_EQ(3u, e.windowsError());
        }
    }
}

TEST(KeyPathTest, JoinAndNames)
{
    EXPECT_EQ(L"HKLM\\SOFTWARE\\A\\B\\C", registry::joinKeyPath(L"HKLM\\SOFTWARE\\A\\B", L"C"));
    EXPECT_EQ(L"HKLM\\SOFTWARE\\A\\B\\C", registry::joinKeyPath(L"HKLM\\SOFTWARE\\A\\B\\", L"C"));
    EXPECT_EQ(L"C", registry::joinKeyPath(L"", L"C"));
    EXPECT_EQ(L"B", registry::keyNameOf(L"HKLM\\SOFTWARE\\A\\B"));
    EXPECT_EQ(L"HKLM", registry::keyNameOf(L"HKLM"));
}

TEST(OsNamesTest, NamesAreExactAndCaseSensitive)
{
    struct Case { const wchar_t* name; OsVersion version; } cases[] = {
        {L"2k", OsVersion::win2000}, {L"xp", OsVersion::xp}, {L"vista", OsVersion::vista},
        {L"server2008", OsVersion::server2008}, {L"win7", OsVersion::win7},
        {L"server2008R2", OsVersion::server2008R2}, {L"mps", OsVersion::multiPoint}, {L"win8", OsVersion::win8},
        {L"win8_1", OsVersion::win8_1}, {L"win10", OsVersion::win10},
        {L"Win7", OsVersion::none}, {L"server2008r2", OsVersion::none}, {L"win10 ", OsVersion::none},
        {L"win8.1", OsVersion::none}, {L"", OsVersion::none},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.version, win32::osVersionFromName(c.name)) << c.name;
    EXPECT_EQ(Architecture::x86, win32::architectureFromName(L"x86"));
    EXPECT_EQ(Architecture::x64, win32::architectureFromName(L"x64"));
    EXPECT_EQ(Architecture::unknown, win32::architectureFromName(L"amd64"));
    EXPECT_EQ(Architecture::unknown, win32::architectureFromName(L"X64"));
}

TEST(OsNamesTest, BuildNumbersParseLikeTheCLibrary)
{
    struct Case { const wchar_t* text; bool ok; int value; } cases[] = {
        {L"10586", true, 10586}, {L"  10587", true, 10587}, {L"+42", true, 42}, {L"-7", true, -7},
        {L"19045.1", true, 19045}, {L"2147483647", true, 2147483647},
        {L"2147483648", false, 0}, {L"abc", false, 0}, {L"", false, 0}, {L" ", false, 0},
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(c.ok, win32::parseDecimalInt(c.text, value)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
}
