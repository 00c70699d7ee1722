#include "tk/installer/libinstall/environmentcleanup.h"

#include "support/cleanerlog.h"
#include "support/registrytree.h"
#include "sys/libutils/win32/library.h"
#include "sys/libutils/win32/process.h"
#include "tk/installer/libinstall/productdata.h"
#include "tk/libcleaner/debuglog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

using namespace ts::tk::install;
namespace cleaner = ts::tk::cleaner;
namespace reg = ts::sys::win32::registry;
namespace test = ts::test;
using ts::sys::Version;

namespace {

const Version kThreshold(7, 4, 50415, 0);
const wchar_t kTessaline[] = L"Software\\Tessaline";
const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Records what the cleanup starts; answers related-product questions from a table.
class RecordingSystem : public ICleanupSystem {
public:
    bool runProcess(const std::wstring& commandLine, const std::wstring& program, DWORD& exitCode) override
    {
        commandLines.push_back(commandLine);
        programs.push_back(program);
        if (duringRun)
            duringRun();
        exitCode = starts ? exit : ERROR_FILE_NOT_FOUND;
        return starts;
    }
    bool startProcess(const std::wstring& commandLine, const std::wstring& program) override
    {
        commandLines.push_back(commandLine);
        programs.push_back(program);
        return starts;
    }
    std::vector<std::wstring> relatedProducts(const std::wstring& upgradeCode) override
    {
        queried.push_back(upgradeCode);
        auto found = related.find(upgradeCode);
        return found == related.end() ? std::vector<std::wstring>() : found->second;
    }
    bool installedPerMachine(const std::wstring& productCode) override { return !perUser.count(productCode); }

    bool starts = true;
    DWORD exit = 0;
    std::function<void()> duringRun;
    std::map<std::wstring, std::vector<std::wstring>> related;
    std::set<std::wstring> perUser;
    std::vector<std::wstring> commandLines, programs, queried;
};

REGSAM view() { return reg::nativeViewFlag(); }

void setString(const std::wstring& keyPath, const wchar_t* name, const std::wstring& data)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | view(), nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

test::RegistryData valueOf(const std::wstring& keyPath, const wchar_t* name)
{
    test::RegistryTree tree = test::readRegistryTree(HKEY_LOCAL_MACHINE, keyPath, view());
    auto key = tree.keys.find(L"");
    if (key == tree.keys.end() || !key->second.count(name))
        return test::RegistryData();
    return key->second.at(name);
}

test::RegistryData stringData(const std::wstring& text)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return test::RegistryData{REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

test::RegistryData dwordData(DWORD number)
{
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&number);
    return test::RegistryData{REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof number)};
}

// Runs with the cleaner log collected and HKLM\Software\Tessaline put back afterwards;
// Add/Remove Programs entries made through addEntry are removed again.
class EnvironmentCleanupTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::wstring& entry : m_entries)
            test::writeRegistryTree(HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\" + entry, test::RegistryTree(),
                                    view());
    }
    void addEntry(const std::wstring& keyName, const std::wstring& displayName)
    {
        m_entries.push_back(keyName);
        setString(std::wstring(kUninstall) + L"\\" + keyName, L"DisplayName", displayName);
    }
    static void clearTessaline()
    {
        test::writeRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, test::RegistryTree(), view());
    }

    test::SavedRegistryKey m_savedTree{HKEY_LOCAL_MACHINE, kTessaline, view()};
    test::CapturedCleanerLog m_log;
    std::vector<std::wstring>& m_lines = test::CapturedCleanerLog::lines();
    std::vector<std::wstring> m_entries;
};

} // namespace

TEST(CleanupBranchTest, FollowsTheRegisteredCoreVersion)
{
    EXPECT_EQ(CleanupBranch::BrokenCore, chooseCleanupBranch(L"", kThreshold));
    EXPECT_EQ(CleanupBranch::OutdatedCore, chooseCleanupBranch(L"7.3.1000.0", kThreshold));
    EXPECT_EQ(CleanupBranch::OutdatedCore, chooseCleanupBranch(L"7, 4, 50414, 65535", kThreshold));
    EXPECT_EQ(CleanupBranch::None, chooseCleanupBranch(L"7.4.50415.0", kThreshold)) << "equal is not older";
    EXPECT_EQ(CleanupBranch::None, chooseCleanupBranch(L"7.9.1488.0", kThreshold));
    EXPECT_EQ(CleanupBranch::None, chooseCleanupBranch(L"abc", kThreshold));
    EXPECT_EQ(CleanupBranch::None, chooseCleanupBranch(L"7.3.70000.0", kThreshold)) << "parts above 65535";
}

TEST(InstallerResultTest, MapsExitCodes)
{
    const struct { bool started; DWORD exitCode; int result; } cases[] = {
        {true, 0, 0},     {true, 1641, 1}, {true, 3010, 1}, {true, 1605, 2},
        {true, 1, 2},     {true, 1602, 2}, {false, 0, 2},   {false, 3010, 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, installerResultFromExit(c.started, c.exitCode)) << c.started << " " << c.exitCode;
}

TEST(CleanupCommandTest, CommandLinesAreExact)
{
    EXPECT_EQ(L"msiexec /qn /norestart /x {4067D4F4-2C44-4CFA-B37E-2F85B6D57131} REBOOT=ReallySuppress",
              uninstallCommandLine(L"{4067D4F4-2C44-4CFA-B37E-2F85B6D57131}"));
    EXPECT_EQ(L"C:\\windows\\system32\\pnputil.exe -f -d C:\\windows\\inf\\oem12.inf",
              driverPackageDeleteCommandLine(L"C:\\windows\\system32", L"C:\\windows\\inf\\oem12.inf"));
}

TEST(CleanupCommandTest, RelatedProductsComeFromMsiOrdinal205)
{
    HMODULE msi = LoadLibraryW(L"msi.dll");
    ASSERT_NE(nullptr, msi);
    void* byName = reinterpret_cast<void*>(GetProcAddress(msi, "MsiEnumRelatedProductsW"));
    EXPECT_NE(nullptr, byName);
    EXPECT_EQ(byName, ts::sys::win32::systemFunction<void*>("msi.dll", WORD(205)));
    FreeLibrary(msi);
}

TEST_F(EnvironmentCleanupTest, UninstallRunsTheSystemMsiexecAndLogsItsResult)
{
    RecordingSystem system;
    system.exit = 1605;
    uninstallProduct(L"{B31F4426-D1E3-4896-96BA-FD4FADB971AB}", system);
    ASSERT_EQ(1u, system.commandLines.size());
    EXPECT_EQ(uninstallCommandLine(L"{B31F4426-D1E3-4896-96BA-FD4FADB971AB}"), system.commandLines[0]);
    EXPECT_EQ(ts::sys::win32::systemProgramPath(L"msiexec.exe"), system.programs[0]);
    ASSERT_EQ(2u, m_lines.size());
    EXPECT_EQ(L"INFO: Uninstalling product. Product code: {B31F4426-D1E3-4896-96BA-FD4FADB971AB}\n", m_lines[0]);
    EXPECT_EQ(L"INFO: Uninstall complete. Result: 2\n", m_lines[1]);

    m_lines.clear();
    system.exit = 3010;
    uninstallProduct(L"{0}", system);
    EXPECT_EQ(L"INFO: Uninstall complete. Result: 1\n", m_lines.back());
    m_lines.clear();
    system.starts = false;
    uninstallProduct(L"{0}", system);
    EXPECT_EQ(L"INFO: Uninstall complete. Result: 2\n", m_lines.back());
}

TEST_F(EnvironmentCleanupTest, InstallerCommandWithoutWaitingOnlyStarts)
{
    RecordingSystem system;
    EXPECT_EQ(InstallerStarted, runInstallerCommand(L"msiexec /x {0}", false, system));
    system.starts = false;
    EXPECT_EQ(InstallerFailed, runInstallerCommand(L"msiexec /x {0}", false, system));
}

TEST_F(EnvironmentCleanupTest, MockLeavesExistingSettingsAsItFoundThem)
{
    clearTessaline();
    setString(L"Software\\Tessaline\\Logger", L"verbosity", L"DEBUG");
    setString(L"Software\\Tessaline\\Core", L"InstallerApiFileLocation", L"C:\\Program Files\\Tessaline\\api.dll");
    setString(L"Software\\Tessaline\\Core", L"GUID", L"{0D1F9702-A86B-403E-9746-C24A3CF3E9BF}");
    setString(L"Software\\Tessaline\\Core", L"DebugLocation", L"C:\\dumps");
    // Another type than the mock's DWORD: it must come back as text.
    setString(L"Software\\Tessaline\\Products", L"ProductCount", L"2");
    setString(L"Software\\Tessaline\\Products\\Tessaline Graphics", L"Version", L"2.0.0.0");
    test::RegistryTree before = test::readRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, view());

    RecordingSystem system;
    system.duringRun = [] {
        EXPECT_EQ(stringData(L"0"), valueOf(L"Software\\Tessaline\\Core", L"GUID"));
        EXPECT_EQ(dwordData(1), valueOf(L"Software\\Tessaline\\Products", L"ProductCount"));
    };
    uninstallWithMock(L"{4067D4F4-2C44-4CFA-B37E-2F85B6D57131}", system);
    ASSERT_EQ(1u, system.commandLines.size());
    EXPECT_EQ("", test::registryDifferences(before, test::readRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, view())));
}

TEST_F(EnvironmentCleanupTest, MockRemovesWhatItCreatedWithWhatWasWrittenBelowIt)
{
    clearTessaline();
    RecordingSystem system;
    system.duringRun = [] {
        EXPECT_EQ(stringData(L"0"), valueOf(L"Software\\Tessaline\\Core", L"GUID"));
        // An uninstaller writing below the mock's keys.
        setString(L"Software\\Tessaline\\Products\\Orlin", L"State", L"removed");
    };
    uninstallWithMock(L"{0}", system);
    EXPECT_FALSE(test::readRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, view()).exists);
}

TEST_F(EnvironmentCleanupTest, MockKeepsLoggerSettingsAndTakesItsOwnKeysAgain)
{
    clearTessaline();
    setString(L"Software\\Tessaline\\Logger", L"directory", L"C:\\Logs");
    setString(L"Software\\Tessaline\\Core", L"Version", L"7.3.1000.0"); // a Core group without GUID
    test::RegistryTree before = test::readRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, view());
    {
        RegistryMock mock;
        EXPECT_EQ(stringData(L"0"), valueOf(L"Software\\Tessaline\\Core", L"GUID"));
    }
    EXPECT_EQ("", test::registryDifferences(before, test::readRegistryTree(HKEY_LOCAL_MACHINE, kTessaline, view())));
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(EnvironmentCleanupTest, ListedProductsInTableOrderThenByDisplayName)
{
    std::optional<reg::RegistryKey> installed = findUninstallEntry(L"Tessaline Graphics");
    addEntry(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D02}", L"tessaline graphics");
    addEntry(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D01}", L"Orlin USB Graphics");
    RecordingSystem system;
    system.related[kLegacyUpgradeCodes[0]] = {L"{A0000000-0000-0000-0000-000000000001}",
                                             L"{A0000000-0000-0000-0000-000000000002}"};
    system.related[kLegacyUpgradeCodes[33]] = {L"{A0000000-0000-0000-0000-000000000003}"};
    system.perUser = {L"{A0000000-0000-0000-0000-000000000002}"}; // left to its user
    uninstallListedProducts(system);

    ASSERT_EQ(35u, system.queried.size());
    for (size_t i = 0; i < 35; ++i)
        EXPECT_EQ(kLegacyUpgradeCodes[i], system.queried[i]);
    std::vector<std::wstring> expected = {
        uninstallCommandLine(L"{A0000000-0000-0000-0000-000000000001}"),
        uninstallCommandLine(L"{A0000000-0000-0000-0000-000000000003}")};
    if (installed) // a real "Tessaline Graphics" of the prefix comes before the second name
        expected.push_back(uninstallCommandLine(installed->getKeyName()));
    expected.push_back(uninstallCommandLine(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D01}"));
    EXPECT_EQ(expected, system.commandLines) << "the lower-case name is not matched";
    EXPECT_NE(m_lines.end(), std::find(m_lines.begin(), m_lines.end(),
                                       L"INFO: Product not installed per machine, left to its user. Product code: "
                                       L"{A0000000-0000-0000-0000-000000000002}\n"));
}

TEST_F(EnvironmentCleanupTest, NoRelatedProductsNoMsiexec)
{
    if (findUninstallEntry(L"Tessaline Graphics") || findUninstallEntry(L"Orlin USB Graphics"))
        GTEST_SKIP() << "the prefix holds a product of a listed name";
    RecordingSystem system;
    uninstallListedProducts(system);
    EXPECT_EQ(35u, system.queried.size());
    EXPECT_TRUE(system.commandLines.empty());
    EXPECT_TRUE(m_lines.empty());
}

TEST_F(EnvironmentCleanupTest, CoreUninstallEntryIsFoundByItsExactName)
{
    if (findUninstallEntry(kCoreDisplayName))
        GTEST_SKIP() << "the prefix holds a Tessaline Core Software";
    removeCoreUninstallEntry();
    EXPECT_TRUE(m_lines.empty()) << "nothing to find, nothing logged";

    addEntry(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D03}", L"tessaline core software");
    addEntry(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D04}", L"Tessaline Core Software");
    removeCoreUninstallEntry();
    ASSERT_EQ(1u, m_lines.size());
    EXPECT_EQ(L"INFO: Tessaline Core Software key found. Will try to delete.\n", m_lines[0]);
    const std::wstring base = std::wstring(kUninstall) + L"\\";
    EXPECT_FALSE(test::readRegistryTree(HKEY_LOCAL_MACHINE, base + L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D04}", view()).exists);
    EXPECT_TRUE(test::readRegistryTree(HKEY_LOCAL_MACHINE, base + L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D03}", view()).exists);
}

TEST_F(EnvironmentCleanupTest, RegisteredCoreIsUninstalledWithoutMock)
{
    // The Core settings group is read as the option framework reads it (this program's view).
    test::SavedRegistryKey core(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Core");
    test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Core", test::RegistryTree());
    RecordingSystem system;
    uninstallRegisteredCore(system);
    EXPECT_TRUE(system.commandLines.empty());

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Core", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const wchar_t code[] = L"{0D1F9702-A86B-403E-9746-C24A3CF3E9BF}";
    RegSetValueExW(key, L"GUID", 0, REG_SZ, reinterpret_cast<const BYTE*>(code), sizeof code);
    RegCloseKey(key);
    system.duringRun = [] {
        EXPECT_FALSE(test::readRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Products", view()).exists)
            << "no mock around the Core's own uninstall";
    };
    test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Products", test::RegistryTree(), view());
    uninstallRegisteredCore(system);
    ASSERT_EQ(1u, system.commandLines.size());
    EXPECT_EQ(uninstallCommandLine(code), system.commandLines[0]);
}
