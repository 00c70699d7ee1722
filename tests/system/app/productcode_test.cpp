#include "app/setup/applicationinstaller.h"
#include "sys/libutils/win32/osinfo.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace ts { namespace app { namespace setupInstall {
namespace {

const wchar_t* const kKey = L"SOFTWARE\\TessalineTest\\ProductCode";

class ProductCodeTest : public ::testing::Test {
protected:
    static REGSAM view(bool native) { return native && sys::win32::isWow64() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }
    static void write(bool native, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | view(native),
                                                 nullptr, &key, nullptr));
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    void TearDown() override
    {
        for (bool native : {true, false}) {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, view(native), 0);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TessalineTest", view(native), 0);
        }
    }
};

TEST_F(ProductCodeTest, StringOfTheNativeViewOnly)
{
    const std::wstring code = L"{6A2E3C1B-5D4F-4B8A-9E21-7C3F0A1B2D44}";
    const std::wstring longText(300, L'x');
    const DWORD number = 7;
    write(true, L"GUID", REG_SZ, code.c_str(), static_cast<DWORD>((code.size() + 1) * sizeof(wchar_t)));
    write(true, L"Long", REG_SZ, longText.c_str(), static_cast<DWORD>((longText.size() + 1) * sizeof(wchar_t)));
    write(true, L"Number", REG_DWORD, &number, sizeof number);

    std::wstring out;
    ASSERT_TRUE(readProductCode(kKey, L"GUID", out));
    EXPECT_EQ(code, out);
    ASSERT_TRUE(readProductCode(kKey, L"Long", out));
    EXPECT_EQ(longText, out);
    out = L"unchanged";
    EXPECT_FALSE(readProductCode(kKey, L"Number", out));
    EXPECT_FALSE(readProductCode(kKey, L"Missing", out));
    EXPECT_FALSE(readProductCode(L"SOFTWARE\\TessalineTest\\None", L"GUID", out));
    EXPECT_EQ(L"unchanged", out);

    if (sys::win32::isWow64()) {
        // On 64-bit Windows a code in the 32-bit view only is not the installed one.
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
        write(false, L"GUID", REG_SZ, code.c_str(), static_cast<DWORD>((code.size() + 1) * sizeof(wchar_t)));
        EXPECT_FALSE(readProductCode(kKey, L"GUID", out));
    }
}

}
}}} // namespace ts::app::setupInstall
