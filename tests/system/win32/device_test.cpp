// The devices reader over the prefix's own SetupAPI. A prefix has no USB devices of its
// own; the tests register stand-ins and remove them afterwards.
#include "sys/libutils/win32/device.h"
#include "support/setuprun.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <setupapi.h>
#include <algorithm>

namespace win32 = ts::sys::win32;
namespace test = ts::test;
using win32::DeviceRecord;
using win32::DevicesReader;

namespace {

const DeviceRecord* findDevice(const std::vector<DeviceRecord>& records, const std::string& instanceId)
{
    for (const DeviceRecord& record : records)
        if (_stricmp(record.instanceId.c_str(), instanceId.c_str()) == 0)
            return &record;
    return nullptr;
}

} // namespace

TEST(DevicesReader, DisplayClassListsTheAdapter)
{
    const std::vector<DeviceRecord> displays = DevicesReader().getDisplayDevices();
    ASSERT_FALSE(displays.empty());
    for (const DeviceRecord& display : displays) {
        // The instance id is the first hardware id and an instance part.
        const std::string hardwareId = ts::tk::gui::resource::toNarrow(display.hardwareId);
        ASSERT_FALSE(hardwareId.empty()) << display.instanceId;
        EXPECT_EQ(0, _strnicmp(display.instanceId.c_str(), (hardwareId + "\\").c_str(), hardwareId.size() + 1))
            << display.instanceId << " / " << hardwareId;
        // No device of the display class is on the USB enumerator.
        EXPECT_NE(0, _strnicmp(display.instanceId.c_str(), "USB\\", 4));
        // Its driver key lies under the display class; Wine names its adapter "Wine Adapter".
        EXPECT_EQ(0, _strnicmp(display.driverKey.c_str(), "{4D36E968-E325-11CE-BFC1-08002BE10318}\\", 39))
            << display.driverKey;
        EXPECT_FALSE(display.description.empty());
    }
}

TEST(DevicesReader, NoUsbDevicesNoHardwareIds)
{
    DevicesReader reader;
    for (const std::wstring& id : reader.getUsbHardwareIds())
        ADD_FAILURE() << ts::tk::gui::resource::toNarrow(id);
    EXPECT_TRUE(reader.getUsbDevices().empty());
}

TEST(DevicesReader, UsbHardwareIdsTakeTheFirstOfEachDevice)
{
    test::FakeUsbDevice maker(L"USB\\VID_2F1C&PID_01A0\\TSSYS0001",
                              {L"USB\\VID_2F1C&PID_01A0&REV_0100", L"USB\\VID_2F1C&PID_01A0"}, L"Tessaline Dock",
                              L"Tessaline");
    test::FakeUsbDevice other(L"USB\\VID_1234&PID_0005\\TSSYS0002", {L"USB\\VID_1234&PID_0005&REV_0001"});
    test::FakeUsbDevice bare(L"USB\\VID_2F1C&PID_0002\\TSSYS0003", {});
    ASSERT_TRUE(maker.registered()) << maker.error();
    ASSERT_TRUE(other.registered()) << other.error();
    ASSERT_TRUE(bare.registered()) << bare.error();

    std::vector<std::wstring> ids = DevicesReader().getUsbHardwareIds();
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ((std::vector<std::wstring>{L"", L"USB\\VID_1234&PID_0005&REV_0001", L"USB\\VID_2F1C&PID_01A0&REV_0100"}),
              ids);

    const std::vector<DeviceRecord> usb = DevicesReader().getUsbDevices();
    EXPECT_EQ(3u, usb.size());
    const DeviceRecord* dock = findDevice(usb, "USB\\VID_2F1C&PID_01A0\\TSSYS0001");
    ASSERT_NE(nullptr, dock);
    EXPECT_EQ(L"USB\\VID_2F1C&PID_01A0&REV_0100", dock->hardwareId);
    EXPECT_EQ("Tessaline Dock", dock->description);
    EXPECT_EQ("Tessaline", dock->manufacturer);
    // No driver is installed for it.
    EXPECT_EQ(0u, dock->driverVersion);
    EXPECT_EQ(L"", dock->service);
    EXPECT_EQ(0, dock->driverDate.day());
    const DeviceRecord* without = findDevice(usb, "USB\\VID_2F1C&PID_0002\\TSSYS0003");
    ASSERT_NE(nullptr, without);
    EXPECT_EQ(L"", without->hardwareId);
    EXPECT_EQ("", without->description);
}

TEST(DevicesReader, RemovedDevicesAreGone)
{
    {
        test::FakeUsbDevice maker(L"USB\\VID_2F1C&PID_01A0\\TSSYS0004", {L"USB\\VID_2F1C&PID_01A0&REV_0100"});
        ASSERT_TRUE(maker.registered()) << maker.error();
        EXPECT_EQ(1u, DevicesReader().getUsbHardwareIds().size());
    }
    EXPECT_TRUE(DevicesReader().getUsbHardwareIds().empty());
}

TEST(DevicesReader, ChildrenOfAnUnknownDeviceAreNone)
{
    EXPECT_TRUE(DevicesReader().getChildHardwareIds(L"USB\\VID_0000&PID_0000\\NOSUCHDEVICE").empty());
    EXPECT_TRUE(DevicesReader().getChildHardwareIds(L"").empty());
}

TEST(DeviceInfo, PropertyGetters)
{
    test::FakeUsbDevice maker(L"USB\\VID_2F1C&PID_01A0\\TSSYS0005", {L"USB\\VID_2F1C&PID_01A0&REV_0100"},
                              L"Tessaline Dock");
    ASSERT_TRUE(maker.registered()) << maker.error();
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    win32::device::DeviceInfo device(set, 0);
    ASSERT_TRUE(static_cast<bool>(device));
    EXPECT_EQ("USB\\VID_2F1C&PID_01A0\\TSSYS0005", device.getInstanceId());
    EXPECT_EQ(L"Tessaline Dock", device.getStringW(SPDRP_DEVICEDESC));
    EXPECT_EQ("Tessaline Dock", device.getStringA(SPDRP_DEVICEDESC));
    std::vector<BYTE> buffer{1, 2, 3};
    EXPECT_TRUE(device.getPropertyW(SPDRP_HARDWAREID, buffer));
    EXPECT_EQ((std::wstring(L"USB\\VID_2F1C&PID_01A0&REV_0100") + L'\0' + L'\0').size() * sizeof(wchar_t),
              buffer.size());
    EXPECT_EQ(L"", device.getStringW(SPDRP_FRIENDLYNAME)); // not set
    EXPECT_FALSE(device.getPropertyA(SPDRP_FRIENDLYNAME, buffer));
    EXPECT_EQ(0u, device.getDword(SPDRP_DEVICEDESC)); // text, not four bytes

    win32::device::DeviceInfo past(set, 1);
    EXPECT_FALSE(static_cast<bool>(past));
    EXPECT_EQ(nullptr, past.set());
    EXPECT_EQ(L"", past.getStringW(SPDRP_HARDWAREID));
    EXPECT_EQ("", past.getInstanceId());
    SetupDiDestroyDeviceInfoList(set);
}

// Wine installs drivers for its virtual input devices only: their driver details are read
// through the whole path, service lookup included.
TEST(DeviceInfo, DriverDetailsOfInstalledDrivers)
{
    HDEVINFO set = SetupDiGetClassDevsW(nullptr, L"HID", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    int withDriver = 0;
    for (DWORD index = 0;; ++index) {
        win32::device::DeviceInfo device(set, index);
        if (!device)
            break;
        win32::DriverDetails driver;
        ASSERT_NO_THROW(driver = device.getDriverDetails());
        if (driver.driverDate.empty())
            continue;
        ++withDriver;
        ASSERT_EQ(10u, driver.driverDate.size()) << device.getInstanceId();
        EXPECT_EQ(L'/', driver.driverDate[2]);
        EXPECT_EQ(L'/', driver.driverDate[5]);
        EXPECT_EQ(std::wstring::npos, driver.driverDate.find_first_not_of(L"0123456789/"));
    }
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_LT(0, withDriver);
}
