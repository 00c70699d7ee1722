#include "support/cleanupfixtures.h"

#include "support/setuprun.h"
#include "support/testsupport.h"
#include "sys/libutils/win32/osinfo.h"
#include "sys/libutils/win32/win32nr.h"

#include <windows.h>
#include <sstream>

namespace ts { namespace test {

const msi::Fixture kLegacyFirst = {L"legacy-first", L"{4067D4F4-2C44-4CFA-B37E-2F85B6D57131}",
                                   L"{E7CB0B1F-56BE-500F-9C91-A06A891923FC}", L"Tessaline USB Display", L"5.1.200.0",
                                   {L"{7F34ED1F-AE57-4F9E-AD6F-C82428F8C30A}"}};
const msi::Fixture kLegacyLater = {L"legacy-later", L"{4B199541-7631-4513-B519-5009CBD4D48B}",
                                   L"{152059E8-F449-5F3B-A726-2B7F3D563025}", L"Orlin Display Manager", L"6.2.15.0",
                                   {L"{449673C6-818B-4EE0-B57B-2FCEF42A738D}"}};
const msi::Fixture kGraphicsNamed = {L"graphics-named", L"{BDDCCEDF-8A29-46CC-AC4F-2BB088DFE779}",
                                     L"{D32E9FD2-BDC3-49AF-B984-0C41DE1CF7C4}", L"Tessaline Graphics", L"6.0.0.0",
                                     {L"{460A3B19-4A9C-4CB5-84EF-F9843AF508FF}"}};
const msi::Fixture kGraphicsNamed64 = {L"graphics-named-x64", L"{1C7A0E52-9B3D-4F61-8E24-7D5A3C1B9F02}",
                                       L"{D32E9FD2-BDC3-49AF-B984-0C41DE1CF7C4}", L"Tessaline Graphics", L"6.0.0.0",
                                       {L"{2D8B1F63-AC4E-4072-9F35-8E6B4D2CA013}"}};
const msi::Fixture kLowercaseNamed = {L"graphics-lowercase", L"{B31F4426-D1E3-4896-96BA-FD4FADB971AB}",
                                      L"{5FF77D03-901A-4695-97F5-C3E2F0B8C684}", L"tessaline graphics", L"6.0.1.0",
                                      {L"{A2417473-F76B-4F75-A3EA-EE0ACC88DF3B}"}};
const msi::Fixture kLowercaseNamed64 = {L"graphics-lowercase-x64", L"{3E9C2074-BD5F-4183-A046-9F7C5E3DB124}",
                                        L"{5FF77D03-901A-4695-97F5-C3E2F0B8C684}", L"tessaline graphics", L"6.0.1.0",
                                        {L"{4FAD3185-CE60-4294-B157-A08D6F4EC235}"}};
const msi::Fixture kMarrowPaint = {L"marrow-paint", L"{F878E76B-5B17-45C3-B8BC-3ABEECB4231C}",
                                   L"{91193813-8AF0-4AFD-AC91-F89FAB72ED3B}", L"Marrow Paint", L"3.4.0.0",
                                   {L"{0B8E4C1A-6F3D-4E52-9A17-2C5D8E3F4A61}"}};
const msi::Fixture kOldCore = {L"old-core", L"{6A2E9D41-3C7B-4F08-9B5E-1D4C7A3E2B01}",
                               L"{8C1F4B27-5E3A-4D96-A0B8-2F7E6D5C4B01}", L"Tessaline Core Software", L"7.2.3000.0",
                               {L"{9D205C38-6F4B-4EA7-B1C9-3A8F7E6D5C01}"}};
const msi::Fixture kOldCore64 = {L"old-core-x64", L"{6A2E9D41-3C7B-4F08-9B5E-1D4C7A3E2B02}",
                                 L"{8C1F4B27-5E3A-4D96-A0B8-2F7E6D5C4B01}", L"Tessaline Core Software", L"7.2.3000.0",
                                 {L"{9D205C38-6F4B-4EA7-B1C9-3A8F7E6D5C02}"}};

const msi::Fixture& nativeFixture(const msi::Fixture& x86, const msi::Fixture& x64)
{
    return sys::win32::isWow64() ? x64 : x86;
}

namespace {

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

} // namespace

CleanupRun runCleanup(const wchar_t* wineVersion, const wchar_t* threshold)
{
    TempFolder folder(L"cleanup");
    const std::wstring name =
        L"tscleanenv-" + std::wstring(wineVersion) + L"-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring program = folder.path + L"\\" + name, log = folder.path + L"\\cleaner.log";
    CopyFileW((buildDir() + L"\\bin\\tscleanenv.exe").c_str(), program.c_str(), FALSE);
    WineVersionOverride version(name, wineVersion);
    ProcessResult result = runProcess(L"\"" + program + L"\" " + threshold + L" \"" + log + L"\"", 600000);
    CleanupRun run;
    run.finished = result.started && !result.timedOut;
    run.exitCode = result.exitCode;
    run.lines = linesOf(readFile(log));
    return run;
}

namespace {

const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t* const kVersionValues[] = {L"CurrentMajorVersionNumber", L"CurrentMinorVersionNumber",
                                         L"CurrentBuildNumber"};

void writeVersionValue(HKEY key, const wchar_t* name, const RegistryData* data)
{
    if (data)
        RegSetValueExW(key, name, 0, data->type, data->bytes.data(), static_cast<DWORD>(data->bytes.size()));
    else
        RegDeleteValueW(key, name);
}

} // namespace

Windows10VersionValues::Windows10VersionValues()
    : m_saved(readRegistryTree(HKEY_LOCAL_MACHINE, kCurrentVersion))
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    DWORD major = 10, minor = 0;
    const wchar_t build[] = L"19045";
    RegSetValueExW(key, kVersionValues[0], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&major), sizeof major);
    RegSetValueExW(key, kVersionValues[1], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&minor), sizeof minor);
    RegSetValueExW(key, kVersionValues[2], 0, REG_SZ, reinterpret_cast<const BYTE*>(build), sizeof build);
    RegCloseKey(key);
}

Windows10VersionValues::~Windows10VersionValues()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCurrentVersion, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    const std::map<std::wstring, RegistryData>& values = m_saved.keys[L""];
    for (const wchar_t* name : kVersionValues) {
        auto found = values.find(name);
        writeVersionValue(key, name, found == values.end() ? nullptr : &found->second);
    }
    RegCloseKey(key);
}

PnputilStandIn::PnputilStandIn(const std::wstring& recordPath)
    : m_path(startPath()), m_saved(m_path + L".ts-saved"), m_record(recordPath)
{
    if (fileExists(m_path))
        MoveFileExW(m_path.c_str(), m_saved.c_str(), MOVEFILE_REPLACE_EXISTING);
    CopyFileW((buildDir() + L"\\bin\\tspnputil.exe").c_str(), m_path.c_str(), FALSE);
    SetEnvironmentVariableW(L"TS_PNPUTIL_RECORD", m_record.c_str());
    DeleteFileW(m_record.c_str());
}

PnputilStandIn::~PnputilStandIn()
{
    SetEnvironmentVariableW(L"TS_PNPUTIL_RECORD", nullptr);
    DeleteFileW(m_path.c_str());
    if (fileExists(m_saved))
        MoveFileExW(m_saved.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::wstring PnputilStandIn::startPath()
{
    // Composed here rather than taken from getNativeSystemDirectory, which it checks.
    if (!sys::win32::isWow64())
        return sys::win32::getSystemDirectory(false) + L"\\pnputil.exe";
    return sys::win32::getWindowsDirectory() + L"\\Sysnative\\pnputil.exe";
}

std::vector<std::string> PnputilStandIn::commandLines() const
{
    return linesOf(readFile(m_record));
}

}} // namespace ts::test
