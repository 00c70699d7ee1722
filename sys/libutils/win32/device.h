// Devices that Windows knows about, through the device-installation functions
// (SetupDi...) and the configuration manager (CM_...). Both libraries are loaded at run
// time; where they or a function cannot be had, the listings are empty.
#pragma once
#include "sys/libutils/date.h"
#include "sys/libutils/logger.h"

#include <windows.h>
#include <setupapi.h>
#include <cstdint>
#include <string>
#include <vector>

namespace ts { namespace sys { namespace win32 {

// One present device with its installed driver.
struct DeviceRecord {
    std::string instanceId;
    std::string driverKey;
    std::string description;
    std::string manufacturer;
    std::wstring hardwareId; // the first hardware identifier
    uint32_t address = 0;
    uint32_t busNumber = 0;
    uint32_t status = 0;        // CM_Get_DevNode_Status's status word; 0 when unknown
    uint64_t driverVersion = 0; // packed as ts::sys::Version
    Date driverDate;
    std::wstring service;
};

// The installed driver of a device; zero and empty when it cannot be read.
struct DriverDetails {
    uint64_t driverVersion = 0;
    std::wstring driverDate; // "dd/mm/yyyy"
    std::wstring service;
};

// No operation throws for device or registry failures: a failure gives fewer entries or
// empty fields.
class IDevicesReader {
public:
    virtual ~IDevicesReader() = default;
    // Present devices of the Display setup class, in enumeration order.
    virtual std::vector<DeviceRecord> getDisplayDevices() = 0;
    // Present devices of the USB setup class, in enumeration order.
    virtual std::vector<DeviceRecord> getUsbDevices() = 0;
    // The first hardware identifier of every present device of the "USB" enumerator
    // (empty for a device without one), in enumeration order.
    virtual std::vector<std::wstring> getUsbHardwareIds() = 0;
    // The first hardware identifier of every child node of the device; empty when the
    // device is not found.
    virtual std::vector<std::wstring> getChildHardwareIds(const std::wstring& deviceInstanceId) = 0;
};

class DevicesReader : public IDevicesReader {
public:
    // On Windows Vista and later, getDisplayDevices and getUsbDevices throw
    // SystemMessageException (message 33) when setupapi.dll lacks
    // SetupDiGetDevicePropertyW.
    std::vector<DeviceRecord> getDisplayDevices() override;
    std::vector<DeviceRecord> getUsbDevices() override;
    std::vector<std::wstring> getUsbHardwareIds() override;
    std::vector<std::wstring> getChildHardwareIds(const std::wstring& deviceInstanceId) override;
};

namespace device {

// One device of a device-information set. The set is not owned. A DeviceInfo whose
// enumeration failed has a null set, which ends an enumeration loop.
class DeviceInfo : public Logger::Logged {
public:
    // Member `index` of `set` (SetupDiEnumDeviceInfo).
    DeviceInfo(HDEVINFO set, DWORD index);

    HDEVINFO set() const { return m_set; }
    const SP_DEVINFO_DATA& data() const { return m_data; }
    explicit operator bool() const { return m_set != nullptr; }

    // The raw registry property (SPDRP_...). False when it cannot be read; only a failure
    // of the data call, after the size was learnt, writes an ERROR line.
    bool getPropertyW(DWORD property, std::vector<BYTE>& buffer) const;
    bool getPropertyA(DWORD property, std::vector<BYTE>& buffer) const;
    // The property's text up to its first NUL; empty when it cannot be read.
    std::wstring getStringW(DWORD property) const;
    std::string getStringA(DWORD property) const;
    // The property's four bytes; 0 when it cannot be read or has another size.
    DWORD getDword(DWORD property) const;

    std::string getInstanceId() const;
    // CM_Get_DevNode_Status's status word; 0 when it fails.
    uint32_t getStatus() const;
    DriverDetails getDriverDetails() const;

private:
    bool getProperty(bool wide, DWORD property, std::vector<BYTE>& buffer) const;

    HDEVINFO m_set;
    SP_DEVINFO_DATA m_data;
};

// The text of the first string of a REG_MULTI_SZ or REG_SZ buffer, not reading past its
// end when it lacks a NUL.
std::wstring firstStringW(const std::vector<BYTE>& buffer);
std::string firstStringA(const std::vector<BYTE>& buffer);
// "dd/mm/yyyy" of a driver date.
std::wstring driverDateText(const FILETIME& date);

} // namespace device

}}} // namespace ts::sys::win32
