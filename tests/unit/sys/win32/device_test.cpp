#include "sys/libutils/win32/device.h"

#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>

using namespace ts::sys::win32::device;

TEST(DeviceText, FirstStringStopsAtTheFirstNulOrTheEnd)
{
    const wchar_t multi[] = L"USB\\VID_2F1C&PID_01A0&REV_0100\0USB\\VID_2F1C&PID_01A0\0";
    const BYTE* bytes = reinterpret_cast<const BYTE*>(multi);
    EXPECT_EQ(L"USB\\VID_2F1C&PID_01A0&REV_0100", firstStringW(std::vector<BYTE>(bytes, bytes + sizeof multi)));
    // No NUL, and an odd byte at the end: nothing is read past the buffer.
    EXPECT_EQ(L"US", firstStringW(std::vector<BYTE>(bytes, bytes + 5)));
    EXPECT_EQ(L"", firstStringW({}));
    EXPECT_EQ("ab", firstStringA({'a', 'b', 0, 'c', 0}));
    EXPECT_EQ("abc", firstStringA({'a', 'b', 'c'}));
}

TEST(DeviceText, DriverDate)
{
    SYSTEMTIME time = {};
    time.wYear = 2015;
    time.wMonth = 7;
    time.wDay = 3;
    FILETIME date;
    ASSERT_TRUE(SystemTimeToFileTime(&time, &date));
    EXPECT_EQ(L"03/07/2015", driverDateText(date));
    ts::sys::Date parsed(ts::tk::gui::resource::toNarrow(driverDateText(date)));
    EXPECT_EQ(3, parsed.day());
    EXPECT_EQ(6, parsed.month());
    EXPECT_EQ(115, parsed.year());
    time.wYear = 1999;
    time.wMonth = 12;
    time.wDay = 31;
    ASSERT_TRUE(SystemTimeToFileTime(&time, &date));
    EXPECT_EQ(L"31/12/1999", driverDateText(date));
}
