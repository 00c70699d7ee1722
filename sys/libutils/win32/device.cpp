// Win32 only.
#include "sys/libutils/win32/device.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/text.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/uniqueowner.h"

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <algorithm>
#include <cstring>

namespace ts { namespace sys { namespace win32 {

namespace {

using sys::toNarrow;
using sys::toWide;

static_assert(sizeof(SP_DEVINFO_DATA) == 28, "SP_DEVINFO_DATA");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "SP_DEVINSTALL_PARAMS_A");
static_assert(sizeof(SP_DRVINFO_DATA_V2_A) == 796, "SP_DRVINFO_DATA_V2_A");

const GUID kDisplayClass = {0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const DEVPROPKEY kDeviceService = {{0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 6};

// The functions are taken from the libraries at run time rather than imported, so that
// the program's import table names neither library.
struct Functions {
    Library setupapi{"setupapi.dll"};
    Library cfgmgr{"cfgmgr32.dll"};

    template <typename Fn>
    Fn resolve(Library& library, const char* name)
    {
        Fn fn = library.getFunction<Fn>(name);
        complete = complete && fn;
        return fn;
    }

    bool complete = true;

#define TS_RUNTIME_IMPORT(library, function) \
    decltype(&::function) function = resolve<decltype(&::function)>(library, #function)
    TS_RUNTIME_IMPORT(setupapi, SetupDiGetClassDevsA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiEnumDeviceInfo);
    TS_RUNTIME_IMPORT(setupapi, SetupDiDestroyDeviceInfoList);
    TS_RUNTIME_IMPORT(setupapi, SetupDiGetDeviceRegistryPropertyW);
    TS_RUNTIME_IMPORT(setupapi, SetupDiGetDeviceRegistryPropertyA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiGetDeviceInstanceIdA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiGetDeviceInstallParamsA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiSetDeviceInstallParamsA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiBuildDriverInfoList);
    TS_RUNTIME_IMPORT(setupapi, SetupDiEnumDriverInfoA);
    TS_RUNTIME_IMPORT(setupapi, SetupDiDestroyDriverInfoList);
    TS_RUNTIME_IMPORT(cfgmgr, CM_Locate_DevNodeA);
    TS_RUNTIME_IMPORT(cfgmgr, CM_Get_Child);
    TS_RUNTIME_IMPORT(cfgmgr, CM_Get_Sibling);
    TS_RUNTIME_IMPORT(cfgmgr, CM_Get_DevNode_Status);
    TS_RUNTIME_IMPORT(cfgmgr, CM_Get_DevNode_Registry_PropertyA);
#undef TS_RUNTIME_IMPORT
};

// Null when a library or one of its functions is missing.
const Functions* api()
{
    static Functions functions;
    return functions.complete ? &functions : nullptr;
}

struct DeviceInfoSetTraits {
    using Type = HDEVINFO;
    static HDEVINFO none() { return INVALID_HANDLE_VALUE; }
    static bool needsClose(HDEVINFO) { return true; }
    static void close(HDEVINFO set) { api()->SetupDiDestroyDeviceInfoList(set); }
};
using DeviceInfoSet = UniqueOwner<DeviceInfoSetTraits>;

// The compatible-driver list built for one device.
class CompatibleDriverList {
public:
    CompatibleDriverList(HDEVINFO set, const SP_DEVINFO_DATA& data) : m_set(set), m_data(data) {}
    CompatibleDriverList(const CompatibleDriverList&) = delete;
    CompatibleDriverList& operator=(const CompatibleDriverList&) = delete;
    ~CompatibleDriverList() { api()->SetupDiDestroyDriverInfoList(m_set, &m_data, SPDIT_COMPATDRIVER); }

private:
    HDEVINFO m_set;
    SP_DEVINFO_DATA m_data;
};

// Calls `visit` with every present device of the class or enumerator, in enumeration
// order; nothing when the set cannot be had.
template <typename Visit>
void forEachPresentDevice(const GUID* setupClass, const char* enumerator, DWORD flags, Visit visit)
{
    const Functions* f = api();
    if (!f)
        return;
    DeviceInfoSet set(f->SetupDiGetClassDevsA(setupClass, enumerator, nullptr, flags));
    if (!set)
        return;
    for (DWORD index = 0;; ++index) {
        device::DeviceInfo device(set.get(), index);
        if (!device)
            break;
        visit(device);
    }
}

std::vector<DeviceRecord> classDevices(const GUID& setupClass)
{
    std::vector<DeviceRecord> records;
    forEachPresentDevice(&setupClass, nullptr, DIGCF_PRESENT, [&](const device::DeviceInfo& device) {
        DeviceRecord record;
        DriverDetails driver = device.getDriverDetails();
        record.driverVersion = driver.driverVersion;
        record.driverDate = Date(toNarrow(driver.driverDate));
        record.service = driver.service;
        record.status = device.getStatus();
        record.address = device.getDword(SPDRP_ADDRESS);
        record.busNumber = device.getDword(SPDRP_BUSNUMBER);
        record.hardwareId = device.getStringW(SPDRP_HARDWAREID);
        record.description = device.getStringA(SPDRP_DEVICEDESC);
        record.manufacturer = device.getStringA(SPDRP_MFG);
        record.driverKey = device.getStringA(SPDRP_DRIVER);
        record.instanceId = device.getInstanceId();
        records.push_back(record);
    });
    return records;
}

} // namespace

namespace device {

DeviceInfo::DeviceInfo(HDEVINFO set, DWORD index)
    : Identity("DeviceInfo", ""), Logger::Logged(Logger::instance(), "DeviceInfo", ""), m_set(set)
{
    std::memset(&m_data, 0, sizeof m_data);
    m_data.cbSize = sizeof m_data;
    const Functions* f = api();
    if (!f || !f->SetupDiEnumDeviceInfo(set, index, &m_data))
        m_set = nullptr;
}

bool DeviceInfo::getProperty(bool wide, DWORD property, std::vector<BYTE>& buffer) const
{
    const Functions* f = api();
    if (!f || !m_set)
        return false;
    SP_DEVINFO_DATA data = m_data;
    DWORD type = 0, size = 0;
    BOOL ok = wide ? f->SetupDiGetDeviceRegistryPropertyW(m_set, &data, property, &type, nullptr, 0, &size)
                   : f->SetupDiGetDeviceRegistryPropertyA(m_set, &data, property, &type, nullptr, 0, &size);
    if (ok || GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return false;
    buffer.assign(size, 0);
    ok = wide ? f->SetupDiGetDeviceRegistryPropertyW(m_set, &data, property, &type, buffer.data(), size, &size)
              : f->SetupDiGetDeviceRegistryPropertyA(m_set, &data, property, &type, buffer.data(), size, &size);
    if (!ok) {
        DWORD error = GetLastError();
        TS_LOG(*this, LogLevel::Error) << "Failed to get device registry property. Error: " << toNarrow(windowsErrorText(error));
        buffer.clear();
        return false;
    }
    if (size < buffer.size())
        buffer.resize(size);
    return true;
}

bool DeviceInfo::getPropertyW(DWORD property, std::vector<BYTE>& buffer) const
{
    return getProperty(true, property, buffer);
}

bool DeviceInfo::getPropertyA(DWORD property, std::vector<BYTE>& buffer) const
{
    return getProperty(false, property, buffer);
}

std::wstring DeviceInfo::getStringW(DWORD property) const
{
    std::vector<BYTE> buffer;
    return getPropertyW(property, buffer) ? firstStringW(buffer) : std::wstring();
}

std::string DeviceInfo::getStringA(DWORD property) const
{
    std::vector<BYTE> buffer;
    return getPropertyA(property, buffer) ? firstStringA(buffer) : std::string();
}

DWORD DeviceInfo::getDword(DWORD property) const
{
    std::vector<BYTE> buffer;
    DWORD value = 0;
    if (getPropertyW(property, buffer) && buffer.size() == sizeof value)
        std::memcpy(&value, buffer.data(), sizeof value);
    return value;
}

std::string DeviceInfo::getInstanceId() const
{
    const Functions* f = api();
    if (!f || !m_set)
        return "";
    SP_DEVINFO_DATA data = m_data;
    DWORD size = 0;
    if (f->SetupDiGetDeviceInstanceIdA(m_set, &data, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || !size)
        return "";
    std::vector<BYTE> buffer(size, 0);
    if (!f->SetupDiGetDeviceInstanceIdA(m_set, &data, reinterpret_cast<char*>(buffer.data()), size, nullptr))
        return "";
    return firstStringA(buffer);
}

uint32_t DeviceInfo::getStatus() const
{
    const Functions* f = api();
    ULONG status = 0, problem = 0;
    if (!f || !m_set || f->CM_Get_DevNode_Status(&status, &problem, m_data.DevInst, 0) != CR_SUCCESS)
        return 0;
    return status;
}

DriverDetails DeviceInfo::getDriverDetails() const
{
    DriverDetails details;
    const Functions* f = api();
    if (!f || !m_set)
        return details;
    SP_DEVINFO_DATA data = m_data;
    SP_DEVINSTALL_PARAMS_A params;
    std::memset(&params, 0, sizeof params);
    params.cbSize = sizeof params;
    if (!f->SetupDiGetDeviceInstallParamsA(m_set, &data, &params))
        return details;
    // The driver that is installed, even when its INF excludes it from selection.
    params.FlagsEx |= DI_FLAGSEX_INSTALLEDDRIVER | DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    if (!f->SetupDiSetDeviceInstallParamsA(m_set, &data, &params) ||
        !f->SetupDiBuildDriverInfoList(m_set, &data, SPDIT_COMPATDRIVER))
        return details;
    SP_DRVINFO_DATA_V2_A driver;
    {
        CompatibleDriverList list(m_set, data);
        std::memset(&driver, 0, sizeof driver);
        driver.cbSize = sizeof driver;
        if (!f->SetupDiEnumDriverInfoA(m_set, &data, SPDIT_COMPATDRIVER, 0, &driver))
            return details;
    }
    details.driverVersion = driver.DriverVersion;
    details.driverDate = driverDateText(driver.DriverDate);
    if (getOsVersion() > OsVersion::server2003) {
        using GetDevicePropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE*,
                                                  PBYTE, DWORD, PDWORD, DWORD);
        Library library("setupapi.dll", "SetupDiGetDevicePropertyW");
        BYTE buffer[520] = {};
        DEVPROPTYPE type = 0;
        if (library.functionAs<GetDevicePropertyFn>()(m_set, &data, &kDeviceService, &type, buffer, sizeof buffer,
                                                       nullptr, 0))
            details.service = firstStringW(std::vector<BYTE>(buffer, buffer + sizeof buffer));
    }
    return details;
}

std::wstring firstStringW(const std::vector<BYTE>& buffer)
{
    std::wstring text(buffer.size() / sizeof(wchar_t), L'\0');
    if (!text.empty())
        std::memcpy(&text[0], buffer.data(), text.size() * sizeof(wchar_t));
    return text.substr(0, text.find(L'\0'));
}

std::string firstStringA(const std::vector<BYTE>& buffer)
{
    std::string text(buffer.begin(), buffer.end());
    return text.substr(0, text.find('\0'));
}

std::wstring driverDateText(const FILETIME& date)
{
    SYSTEMTIME time;
    if (!FileTimeToSystemTime(&date, &time))
        return L"";
    wchar_t text[11] = L"";
    _snwprintf(text, 10, L"%02d/%02d/%d", time.wDay, time.wMonth, time.wYear);
    return text;
}

} // namespace device

std::vector<DeviceRecord> DevicesReader::getDisplayDevices()
{
    return classDevices(kDisplayClass);
}

std::vector<DeviceRecord> DevicesReader::getUsbDevices()
{
    return classDevices(kUsbClass);
}

std::vector<std::wstring> DevicesReader::getUsbHardwareIds()
{
    std::vector<std::wstring> ids;
    forEachPresentDevice(nullptr, "USB", DIGCF_PRESENT | DIGCF_ALLCLASSES, [&](const device::DeviceInfo& device) {
        ids.push_back(device.getStringW(SPDRP_HARDWAREID));
    });
    return ids;
}

std::vector<std::wstring> DevicesReader::getChildHardwareIds(const std::wstring& deviceInstanceId)
{
    std::vector<std::wstring> ids;
    const Functions* f = api();
    if (!f)
        return ids;
    std::string instanceId = toNarrow(deviceInstanceId);
    DEVINST node = 0;
    if (f->CM_Locate_DevNodeA(&node, &instanceId[0], CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS)
        return ids;
    std::vector<DEVINST> children;
    DEVINST child = 0;
    // A node seen twice ends the walk: an implementation that answers success without
    // moving on must not make it endless.
    for (CONFIGRET result = f->CM_Get_Child(&child, node, 0);
         result == CR_SUCCESS && std::find(children.begin(), children.end(), child) == children.end();
         result = f->CM_Get_Sibling(&child, child, 0))
        children.push_back(child);
    const auto readHardwareId = f->CM_Get_DevNode_Registry_PropertyA;
    for (DEVINST each : children) {
        std::string text;
        ULONG type = 0, size = 0;
        if (readHardwareId(each, CM_DRP_HARDWAREID, &type, nullptr, &size, 0) == CR_BUFFER_SMALL && size) {
            std::vector<BYTE> buffer(size, 0);
            if (readHardwareId(each, CM_DRP_HARDWAREID, &type, buffer.data(), &size, 0) == CR_SUCCESS)
                text = device::firstStringA(buffer);
        }
        ids.push_back(toWide(text));
    }
    return ids;
}

}}} // namespace ts::sys::win32
