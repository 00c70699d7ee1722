#include "support/setuprun.h"

#include <windows.h>
#include <setupapi.h>
#include <tlhelp32.h>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace ts { namespace test {

SetupRun::SetupRun(const std::wstring& hint) : m_temp(hint), dir(m_temp.path), logPath(dir + L"\\run.log") {}

ProcessResult SetupRun::run(const std::wstring& arguments, const std::wstring& program, const wchar_t* environment,
                            uint32_t timeoutMs)
{
    std::wstring args = arguments;
    for (size_t at; (at = args.find(L"{log}")) != std::wstring::npos;)
        args.replace(at, 5, logPath);
    std::wstring exe = program.empty() ? setupExe() : program;
    return runProcess(L"\"" + exe + L"\" " + args, timeoutMs, environment, dir + L"\\stdout.txt", true);
}

std::vector<std::string> SetupRun::logLines() const
{
    std::vector<std::string> lines;
    std::istringstream in(log());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(withoutTime(line));
    }
    return lines;
}

std::string withoutTime(const std::string& line)
{
    size_t end = line.find("] ");
    return line.size() > 1 && line[0] == '[' && end != std::string::npos ? line.substr(end + 2) : line;
}

WineVersionOverride::WineVersionOverride(const std::wstring& exeName, const std::wstring& version)
    : m_key(L"Software\\Wine\\AppDefaults\\" + exeName)
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

WineVersionOverride::~WineVersionOverride()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
}

namespace {
const wchar_t* const kCurrentVersion = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t* const kVersionValues[] = {L"CurrentVersion", L"CurrentBuild", L"CurrentBuildNumber", L"CSDVersion",
                                         L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber"};

void setString(HKEY key, const wchar_t* name, const std::wstring& value);

// The registry's version values of a Windows (no numbers before 10).
struct WindowsValues {
    const wchar_t* name;
    const wchar_t* version;
    const wchar_t* build;
    const wchar_t* servicePack;
    DWORD major; // 0: absent
    DWORD minor;
};
const WindowsValues kWindows[] = {
    {L"vista", L"6.0", L"6002", L"Service Pack 2", 0, 0},
    {L"win7", L"6.1", L"7601", L"Service Pack 1", 0, 0},
    {L"win8", L"6.2", L"9200", nullptr, 0, 0},
    {L"win81", L"6.3", L"9600", nullptr, 0, 0},
    {L"win10-10586", L"6.3", L"10586", nullptr, 10, 0},
    {L"win10-19045", L"6.3", L"19045", nullptr, 10, 0},
    {L"win10.1", L"6.3", L"22631", nullptr, 10, 1},
};

const WindowsValues& windowsValues(const std::wstring& name)
{
    for (const WindowsValues& values : kWindows)
        if (name == values.name)
            return values;
    throw std::invalid_argument("unknown Windows name");
}
} // namespace

KeptVersionValues::KeptVersionValues()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    m_key = key;
    for (const wchar_t* name : kVersionValues) {
        Value value{name, false, 0, {}};
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
            value.data.resize(size);
            value.present =
                RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size) == ERROR_SUCCESS;
        }
        m_values.push_back(value);
    }
}

KeptVersionValues::~KeptVersionValues()
{
    if (!m_key)
        return;
    HKEY key = static_cast<HKEY>(m_key);
    for (const Value& value : m_values) {
        if (value.present)
            RegSetValueExW(key, value.name, 0, value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
        else
            RegDeleteValueW(key, value.name);
    }
    RegCloseKey(key);
}

PresentedWindows::PresentedWindows(const std::wstring& windows)
{
    const WindowsValues& values = windowsValues(windows);
    HKEY key = static_cast<HKEY>(m_kept.key());
    if (!key)
        return;
    setString(key, L"CurrentVersion", values.version);
    setString(key, L"CurrentBuild", values.build);
    setString(key, L"CurrentBuildNumber", values.build);
    if (values.servicePack)
        setString(key, L"CSDVersion", values.servicePack);
    else
        RegDeleteValueW(key, L"CSDVersion");
    if (values.major) {
        RegSetValueExW(key, L"CurrentMajorVersionNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values.major), 4);
        RegSetValueExW(key, L"CurrentMinorVersionNumber", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values.minor), 4);
    } else {
        RegDeleteValueW(key, L"CurrentMajorVersionNumber");
        RegDeleteValueW(key, L"CurrentMinorVersionNumber");
    }
}

namespace {
const wchar_t* const kRecorderName = L"tsurlrecorder.exe";

void setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

const GUID kUsbClass = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

void setDeviceString(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property, const std::wstring& text)
{
    if (!text.empty())
        SetupDiSetDeviceRegistryPropertyW(set, &data, property, reinterpret_cast<const BYTE*>(text.c_str()),
                                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}
} // namespace

UrlSchemeRecorder::UrlSchemeRecorder(const std::wstring& scheme, const std::wstring& folder)
    : m_scheme(scheme), m_program(folder + L"\\" + kRecorderName)
{
    CopyFileW((buildDir() + L"\\bin\\tsrecorder.exe").c_str(), m_program.c_str(), FALSE);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, m_scheme.c_str());
    HKEY key;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, m_scheme.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        setString(key, nullptr, L"URL:" + m_scheme);
        setString(key, L"URL Protocol", L"");
        RegCloseKey(key);
    }
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, (m_scheme + L"\\shell\\open\\command").c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        setString(key, nullptr, L"\"" + m_program + L"\" \"%1\"");
        RegCloseKey(key);
    }
}

UrlSchemeRecorder::~UrlSchemeRecorder()
{
    waitForHandlers();
    RegDeleteTreeW(HKEY_CLASSES_ROOT, m_scheme.c_str());
}

bool UrlSchemeRecorder::waitForHandlers(uint32_t timeoutMs) const
{
    for (uint32_t waited = 0;; waited += 100) {
        bool running = false;
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot != INVALID_HANDLE_VALUE) {
            PROCESSENTRY32W entry;
            entry.dwSize = sizeof entry;
            for (BOOL more = Process32FirstW(snapshot, &entry); more && !running;
                 more = Process32NextW(snapshot, &entry))
                running = _wcsicmp(entry.szExeFile, kRecorderName) == 0;
            CloseHandle(snapshot);
        }
        if (!running)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(100);
    }
}

void UrlSchemeRecorder::setEnvironment(const std::wstring& block) const
{
    writeFile(m_program + L".environment",
              std::string(reinterpret_cast<const char*>(block.data()), block.size() * sizeof(wchar_t)));
}

bool UrlSchemeRecorder::isRecorderLine(const std::wstring& commandLine) const
{
    const std::wstring quoted = L"\"" + m_program + L"\" ";
    return _wcsnicmp(commandLine.c_str(), quoted.c_str(), quoted.size()) == 0;
}

std::vector<std::wstring> UrlSchemeRecorder::addresses(const std::vector<std::wstring>& commandLines) const
{
    std::vector<std::wstring> out;
    for (const std::wstring& line : commandLines)
        if (isRecorderLine(line)) {
            std::wstring argument = line.substr(m_program.size() + 3);
            if (argument.size() >= 2 && argument.front() == L'"' && argument.back() == L'"')
                argument = argument.substr(1, argument.size() - 2);
            out.push_back(argument);
        }
    return out;
}

FakeUsbDevice::FakeUsbDevice(const std::wstring& instanceId, const std::vector<std::wstring>& hardwareIds,
                             const std::wstring& description, const std::wstring& manufacturer)
    : m_set(SetupDiCreateDeviceInfoList(&kUsbClass, nullptr)), m_data(sizeof(SP_DEVINFO_DATA))
{
    HDEVINFO set = static_cast<HDEVINFO>(m_set);
    if (set == INVALID_HANDLE_VALUE) {
        m_error = GetLastError();
        return;
    }
    SP_DEVINFO_DATA data;
    std::memset(&data, 0, sizeof data);
    data.cbSize = sizeof data;
    if (SetupDiOpenDeviceInfoW(set, instanceId.c_str(), nullptr, 0, &data))
        SetupDiRemoveDevice(set, &data);
    if (!SetupDiCreateDeviceInfoW(set, instanceId.c_str(), &kUsbClass, nullptr, nullptr, 0, &data)) {
        m_error = GetLastError();
        return;
    }
    if (!hardwareIds.empty()) {
        std::wstring multi;
        for (const std::wstring& id : hardwareIds)
            multi += id + L'\0';
        multi += L'\0';
        SetupDiSetDeviceRegistryPropertyW(set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(multi.c_str()),
                                          static_cast<DWORD>(multi.size() * sizeof(wchar_t)));
    }
    setDeviceString(set, data, SPDRP_DEVICEDESC, description);
    setDeviceString(set, data, SPDRP_MFG, manufacturer);
    m_registered = SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr) != FALSE;
    if (!m_registered)
        m_error = GetLastError();
    std::memcpy(m_data.data(), &data, sizeof data);
}

FakeUsbDevice::~FakeUsbDevice()
{
    HDEVINFO set = static_cast<HDEVINFO>(m_set);
    if (set == INVALID_HANDLE_VALUE)
        return;
    if (m_registered)
        SetupDiRemoveDevice(set, reinterpret_cast<SP_DEVINFO_DATA*>(m_data.data()));
    SetupDiDestroyDeviceInfoList(set);
}

std::wstring setupExe()
{
    return buildDir() + L"\\bin\\Setup.exe";
}

std::wstring testdata(const std::wstring& name)
{
    return buildDir() + L"\\testdata\\" + name;
}

}} // namespace ts::test
