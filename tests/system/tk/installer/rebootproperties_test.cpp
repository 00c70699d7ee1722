// The reboot flags in HKLM\SOFTWARE\Tessaline\Core\Volatile (the 32-bit view, as Setup
// sees it).
#include "support/testsupport.h"
#include "tk/installer/libinstall/rebootproperties.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

namespace ts { namespace tk { namespace install {
namespace {

const wchar_t* const kVolatile = L"SOFTWARE\\Tessaline\\Core\\Volatile";

class RebootPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kVolatile, KEY_WOW64_32KEY, 0); }
    void TearDown() override { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kVolatile, KEY_WOW64_32KEY, 0); }

    static void setRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY core = nullptr, key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &core, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(core, L"Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr));
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
        RegCloseKey(core);
    }
    static void setText(const wchar_t* name, const std::wstring& text)
    {
        setRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    RebootProperties m_flags;
    std::string m_message = "previous text";
};

TEST_F(RebootPropertiesTest, AMissingKeyIsNoRestartAndNoSuppression)
{
    EXPECT_FALSE(m_flags.isRebootNeededNow());
    bool suppress = true;
    EXPECT_FALSE(m_flags.getSuppressReboot(suppress, m_message));
    EXPECT_FALSE(suppress);
    EXPECT_EQ("Error reading core volatile SuppressReboot value. In case reboot is needed it will not be suppressed",
              m_message);
    std::wstring value = L"untouched";
    EXPECT_EQ(2u, readVolatileValue(L"RebootNeededNow", value));
    EXPECT_EQ(L"untouched", value);
}

TEST_F(RebootPropertiesTest, OnlyTheExactTextsCount)
{
    for (const wchar_t* text : {L"Yes", L"true", L"01", L"1 ", L""}) {
        setText(L"RebootNeededNow", text);
        EXPECT_FALSE(m_flags.isRebootNeededNow()) << test::narrow(text);
    }
    setText(L"RebootNeededNow", L"1");
    EXPECT_TRUE(m_flags.isRebootNeededNow());

    bool suppress = true;
    for (const wchar_t* text : {L"Yes", L"YES", L"true", L"1"}) {
        setText(L"SuppressReboot", text);
        EXPECT_TRUE(m_flags.getSuppressReboot(suppress, m_message)) << test::narrow(text);
        EXPECT_FALSE(suppress);
        EXPECT_EQ("Core has indicated reboot suppress flag set to no", m_message);
    }
    setText(L"SuppressReboot", L"yes");
    EXPECT_TRUE(m_flags.getSuppressReboot(suppress, m_message));
    EXPECT_TRUE(suppress);
    EXPECT_EQ("Core has indicated reboot suppress flag set to yes", m_message);
}

TEST_F(RebootPropertiesTest, ANumberValueIsInvalidData)
{
    const DWORD one = 1;
    setRaw(L"SuppressReboot", REG_DWORD, &one, sizeof one);
    setRaw(L"RebootNeededNow", REG_DWORD, &one, sizeof one);
    std::wstring value;
    EXPECT_EQ(13u, readVolatileValue(L"SuppressReboot", value));
    bool suppress = true;
    EXPECT_FALSE(m_flags.getSuppressReboot(suppress, m_message));
    EXPECT_FALSE(suppress);
    EXPECT_EQ(0u, m_message.find("Error reading core volatile SuppressReboot value."));
    EXPECT_FALSE(m_flags.isRebootNeededNow());
}

TEST_F(RebootPropertiesTest, LongTextsAreReadWhole)
{
    const std::wstring text(3000, L'x');
    setText(L"RebootNeededNow", text);
    std::wstring value;
    EXPECT_EQ(0u, readVolatileValue(L"RebootNeededNow", value));
    EXPECT_EQ(text, value);
}

TEST_F(RebootPropertiesTest, WritingCreatesTheKeysAndTheFlagKeyIsVolatile)
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core"); // 32-bit program: the 32-bit view
    EXPECT_TRUE(m_flags.setRebootNeededNow(true));
    EXPECT_TRUE(m_flags.isRebootNeededNow());
    EXPECT_TRUE(m_flags.setSuppressReboot(true, m_message));
    EXPECT_EQ("SuppressReboot flag successfully set", m_message);
    std::wstring value;
    EXPECT_EQ(0u, readVolatileValue(L"SuppressReboot", value));
    EXPECT_EQ(L"yes", value);
    EXPECT_TRUE(m_flags.setRebootNeededNow(false));
    EXPECT_FALSE(m_flags.isRebootNeededNow());

    // The stored data carries its NUL.
    BYTE data[16] = {};
    DWORD size = sizeof data, type = 0;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVolatile, 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"RebootNeededNow", nullptr, &type, data, &size));
    EXPECT_EQ(4u, size);
    // Below a volatile key only volatile keys can be made.
    HKEY child = nullptr;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE,
              RegCreateKeyExW(key, L"Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &child,
                              nullptr));
    RegCloseKey(key);
    // The parent is an ordinary key.
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tessaline\\Core", 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(key, L"Child", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                             nullptr, &child, nullptr));
    RegCloseKey(child);
    RegDeleteKeyW(key, L"Child");
    RegCloseKey(key);
}

}
}}} // namespace ts::tk::install
