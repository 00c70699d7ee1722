// The registration cleaner on products that the prefix's own msiexec installed from the
// packages of tests/testdata/msi.
#include "tk/libcleaner/windowsinstaller.h"

#include "support/msifixtures.h"
#include "support/testsupport.h"
#include "tk/libcleaner/debuglog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <memory>

namespace cleaner = ts::tk::cleaner;
namespace msi = ts::test::msi;
using cleaner::WindowsInstallerCleaner;
using ts::sys::Version;
using ts::test::fileExists;
using ts::test::narrow;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const wchar_t kCoreName[] = L"Tessaline Core Software";
const Version kThreshold(7, 4, 50415, 0);
const std::wstring kInstaller = msi::kInstallerKey;
const std::wstring kUserData = msi::kUserDataKey;
const std::wstring kClasses = msi::kClassesInstallerKey;
const std::wstring kFolders = kInstaller + L"\\Folders";

std::vector<std::wstring> g_lines;
void collect(const std::wstring& line) { g_lines.push_back(line); }

// Without "HKLM\" in front, for the plain API.
std::wstring machineSubkey(const std::wstring& path) { return path.substr(5); }

HKEY openMachineKey(const std::wstring& path, REGSAM access, bool create = false)
{
    HKEY key = nullptr;
    if (create)
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, machineSubkey(path).c_str(), 0, nullptr, 0, access | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr);
    else
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, machineSubkey(path).c_str(), 0, access | KEY_WOW64_64KEY, &key);
    return key;
}

void setString(const std::wstring& keyPath, const std::wstring& name, const std::wstring& data)
{
    HKEY key = openMachineKey(keyPath, KEY_SET_VALUE, true);
    ASSERT_NE(nullptr, key) << narrow(keyPath);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

std::wstring readString(const std::wstring& keyPath, const std::wstring& name)
{
    HKEY key = openMachineKey(keyPath, KEY_QUERY_VALUE);
    if (!key)
        return L"";
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);
    RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return data;
}

void deleteValue(const std::wstring& keyPath, const std::wstring& name)
{
    HKEY key = openMachineKey(keyPath, KEY_SET_VALUE);
    if (!key)
        return;
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

void deleteKeyTree(const std::wstring& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, machineSubkey(keyPath).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(key, nullptr);
        RegCloseKey(key);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, machineSubkey(keyPath).c_str(), KEY_WOW64_64KEY, 0);
    }
}

bool keyExists(const std::wstring& keyPath)
{
    return !msi::exportTree(keyPath).empty();
}

// Folder values that Wine's msiexec does not write, as Windows Installer would; the key
// goes with the test.
class HandWrittenFolders {
public:
    HandWrittenFolders() { m_existed = keyExists(kFolders); }
    ~HandWrittenFolders()
    {
        if (!m_existed)
            deleteKeyTree(kFolders);
        else
            for (const std::wstring& name : m_names)
                deleteValue(kFolders, name);
    }
    void add(const std::wstring& folder)
    {
        setString(kFolders, folder, L"");
        m_names.push_back(folder);
    }

private:
    bool m_existed;
    std::vector<std::wstring> m_names;
};

// Everything of the product below the two Installer trees (the Uninstall entry is not the
// cleaner's business).
msi::RegistryExport installerRegistration(const msi::Fixture& fixture)
{
    const std::wstring packed = msi::packedGuid(fixture.productCode);
    msi::RegistryExport data = msi::exportNamed(kInstaller, packed);
    for (auto& entry : msi::exportNamed(kClasses, packed))
        data[entry.first] = entry.second;
    return data;
}

class WindowsInstallerCleanerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lines.clear();
        m_previousSink = cleaner::setDebugLogSink(&collect);
        cleaner::setDebugLogThreshold(static_cast<int>(cleaner::DebugLevel::Verbose));
    }
    void TearDown() override
    {
        cleaner::setDebugLogThreshold(0);
        cleaner::setDebugLogSink(m_previousSink);
    }
    // Cleans with a cleaner of its own, which commits when it goes.
    bool clean(const Version& version, bool keepInstallLocation)
    {
        WindowsInstallerCleaner cleaner(this);
        return cleaner.cleanProduct(kCoreName, version, keepInstallLocation);
    }
    std::vector<std::wstring> linesWith(const std::wstring& text) const
    {
        std::vector<std::wstring> found;
        std::copy_if(g_lines.begin(), g_lines.end(), std::back_inserter(found),
                     [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
        return found;
    }

    cleaner::DebugLogSink m_previousSink = nullptr;
};

TEST(StripDirectoryPathTest, DropsTrailingBackslashesAndQuotes)
{
    EXPECT_EQ(L"C:\\Program Files\\A", cleaner::stripDirectoryPath(L"C:\\Program Files\\A\\\\\""));
    EXPECT_EQ(L"\"C:\\A", cleaner::stripDirectoryPath(L"\"C:\\A\\\""));
    EXPECT_EQ(L"", cleaner::stripDirectoryPath(L"\\\"\\"));
}

TEST_F(WindowsInstallerCleanerTest, RemovesTheOldCoreAndLeavesEveryOtherProductAlone)
{
    msi::InstalledFixture core(msi::kCore73);
    msi::InstalledFixture newer(msi::kCore750);
    msi::InstalledFixture viewer(msi::kOrvaneViewer);
    msi::InstalledFixture keldor(msi::kKeldorTools);
    for (const msi::InstalledFixture* fixture : {&core, &newer, &viewer, &keldor})
        ASSERT_EQ(0u, fixture->installResult()) << narrow(fixture->fixture().package);
    ASSERT_TRUE(fileExists(core.localPackage()));
    std::vector<msi::RegistryExport> othersBefore;
    for (const msi::Fixture* other : {&msi::kCore750, &msi::kOrvaneViewer, &msi::kKeldorTools})
        othersBefore.push_back(msi::productRegistration(other->productCode));

    EXPECT_TRUE(clean(kThreshold, true));

    EXPECT_TRUE(installerRegistration(msi::kCore73).empty()) << msi::exportText(installerRegistration(msi::kCore73));
    EXPECT_FALSE(fileExists(core.localPackage())) << "the cached package";
    EXPECT_TRUE(fileExists(core.installLocation() + L"core.txt")) << "the install folder is kept";
    for (const std::wstring& component : msi::kCore73.componentCodes) {
        if (component != msi::kSharedComponent) {
            EXPECT_FALSE(keyExists(kUserData + L"\\Components\\" + msi::packedGuid(component)));
        }
    }
    int i = 0;
    for (const msi::Fixture* other : {&msi::kCore750, &msi::kOrvaneViewer, &msi::kKeldorTools}) {
        EXPECT_EQ("", msi::compareExports(othersBefore[i++], msi::productRegistration(other->productCode)))
            << narrow(other->package);
        EXPECT_TRUE(msi::isRegistered(other->productCode));
    }

    const std::wstring product = core.packed();
    const std::wstring upgrade = msi::packedGuid(msi::kCoreUpgradeCode);
    const std::wstring productKey = kUserData + L"\\Products\\" + product;
    const std::wstring classesProduct = kClasses + L"\\Products\\" + product;
    std::vector<std::wstring> components;
    for (const std::wstring& code : msi::kCore73.componentCodes)
        components.push_back(kUserData + L"\\Components\\" + msi::packedGuid(code));
    // The Components keys in enumeration order (Wine sorts subkeys by name).
    std::vector<std::wstring> sorted = components;
    std::sort(sorted.begin(), sorted.end());
    std::vector<std::wstring> expected = {
        L"DEBUG: Checking if 'Tessaline Core Software' is present for user S-1-5-18\n",
        L"INFO: Starting to remove product " + product + L" (Tessaline Core Software) for user S-1-5-18\n",
        L"INFO: Removing components for product " + product + L" for user S-1-5-18\n",
        L"INFO: Removing features for product " + product + L"\n",
        L"DEBUG: Removing upgrade code for the product " + product + L": " + upgrade + L"\n",
        L"DEBUG: Skipping Tessaline Core Software version 7.5.0.0 for S-1-5-18\n",
        L"DEBUG: Removing file: " + core.localPackage() + L"\n",
    };
    for (const std::wstring& component : sorted)
        expected.push_back(L"VERBOSE: Removed value: " + component + L"\\" + product + L"\n");
    expected.push_back(L"VERBOSE: Removed value: " + kInstaller + L"\\UpgradeCodes\\" + upgrade + L"\\" + product + L"\n");
    expected.push_back(L"VERBOSE: Removed value: " + kClasses + L"\\UpgradeCodes\\" + upgrade + L"\\" + product + L"\n");
    // Features are queued before the product keys.
    expected.push_back(L"VERBOSE: Removed key: " + kClasses + L"\\Features\\" + product + L"\n");
    for (const wchar_t* key : {L"\\Features", L"\\InstallProperties", L""})
        expected.push_back(L"VERBOSE: Removed key: " + productKey + key + L"\n");
    for (const wchar_t* key : {L"\\SourceList\\Media", L"\\SourceList\\Net", L"\\SourceList", L""})
        expected.push_back(L"VERBOSE: Removed key: " + classesProduct + key + L"\n");
    const std::wstring shared = kUserData + L"\\Components\\" + msi::packedGuid(msi::kSharedComponent);
    for (const std::wstring& component : sorted)
        expected.push_back(component == shared ? L"VERBOSE: Kept key still in use: " + component + L"\n"
                                               : L"VERBOSE: Removed key: " + component + L"\n");
    expected.push_back(L"VERBOSE: Kept key still in use: " + kInstaller + L"\\UpgradeCodes\\" + upgrade + L"\n");
    expected.push_back(L"VERBOSE: Kept key still in use: " + kClasses + L"\\UpgradeCodes\\" + upgrade + L"\n");
    EXPECT_EQ(expected, g_lines);
}

TEST_F(WindowsInstallerCleanerTest, EqualVersionIsRemovedAndHigherOneSkipped)
{
    msi::InstalledFixture newer(msi::kCore750);
    ASSERT_EQ(0u, newer.installResult());
    msi::RegistryExport before = msi::productRegistration(msi::kCore750.productCode);

    EXPECT_TRUE(clean(Version(7, 4, 50415, 0), true));
    EXPECT_EQ("", msi::compareExports(before, msi::productRegistration(msi::kCore750.productCode)));
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Skipping Tessaline Core Software version 7.5.0.0 for S-1-5-18\n"));

    g_lines.clear();
    EXPECT_TRUE(clean(Version(7, 5, 0, 0), true));
    EXPECT_TRUE(installerRegistration(msi::kCore750).empty()) << msi::exportText(installerRegistration(msi::kCore750));
    EXPECT_EQ(1u, linesWith(L"INFO: Starting to remove product " + newer.packed()).size());
    EXPECT_TRUE(linesWith(L"Skipping").empty());
    // The last product of its upgrade code: the upgrade-code keys go with it.
    EXPECT_FALSE(keyExists(kInstaller + L"\\UpgradeCodes\\" + msi::packedGuid(msi::kCoreUpgradeCode)));
    EXPECT_FALSE(keyExists(kClasses + L"\\UpgradeCodes\\" + msi::packedGuid(msi::kCoreUpgradeCode)));
}

TEST_F(WindowsInstallerCleanerTest, ThreePartVersionReadsWithZeroRevisionAndHigherIsKept)
{
    msi::InstalledFixture three(msi::kCore751);
    ASSERT_EQ(0u, three.installResult());
    ASSERT_EQ(L"7.5.1", msi::installProperty(msi::kCore751.productCode, L"DisplayVersion"));
    msi::RegistryExport before = msi::productRegistration(msi::kCore751.productCode);

    EXPECT_TRUE(clean(kThreshold, true));
    EXPECT_EQ("", msi::compareExports(before, msi::productRegistration(msi::kCore751.productCode)));
    EXPECT_TRUE(fileExists(three.localPackage()));
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Skipping Tessaline Core Software version 7.5.1 for S-1-5-18\n"));
}

TEST_F(WindowsInstallerCleanerTest, ProductWithoutDisplayVersionOrDisplayNameIsSkipped)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    const std::wstring properties = kUserData + L"\\Products\\" + core.packed() + L"\\InstallProperties";
    deleteValue(properties, L"DisplayVersion");
    msi::RegistryExport before = msi::productRegistration(msi::kCore73.productCode);

    EXPECT_TRUE(clean(kThreshold, true));
    EXPECT_EQ("", msi::compareExports(before, msi::productRegistration(msi::kCore73.productCode)));
    EXPECT_TRUE(fileExists(core.localPackage()));
    EXPECT_TRUE(linesWith(L"Starting to remove").empty());

    setString(properties, L"DisplayVersion", L"7.3.1000.0");
    deleteValue(properties, L"DisplayName");
    before = msi::productRegistration(msi::kCore73.productCode);
    EXPECT_TRUE(clean(kThreshold, true));
    EXPECT_EQ("", msi::compareExports(before, msi::productRegistration(msi::kCore73.productCode)));
    EXPECT_TRUE(linesWith(L"Starting to remove").empty());
}

TEST_F(WindowsInstallerCleanerTest, KeepInstallLocationLeavesTheFolderAndItsFolderValues)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    HandWrittenFolders folders;
    folders.add(core.installLocation());
    folders.add(core.installLocation() + L"data\\");
    msi::RegistryExport foldersBefore = msi::exportTree(kFolders);

    EXPECT_TRUE(clean(kThreshold, true));
    EXPECT_TRUE(installerRegistration(msi::kCore73).empty());
    EXPECT_EQ("", msi::compareExports(foldersBefore, msi::exportTree(kFolders)));
    EXPECT_TRUE(fileExists(core.installLocation() + L"data\\data.txt"));
    EXPECT_TRUE(linesWith(L"Cleaning directory").empty());
}

TEST_F(WindowsInstallerCleanerTest, InstallLocationMatchesFolderValuesAsSubstring)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    // As Windows Installer records it without the final backslash: "...\Core" is also
    // part of the sibling "...\CoreB\".
    std::wstring location = cleaner::stripDirectoryPath(core.installLocation());
    setString(kUserData + L"\\Products\\" + core.packed() + L"\\InstallProperties", L"InstallLocation", location);
    const std::wstring sibling = location + L"B\\";
    ts::test::TempFolder unrelated(L"folders");
    ASSERT_EQ(0u, CreateDirectoryW(sibling.c_str(), nullptr) ? 0u : GetLastError());
    ts::test::writeFile(sibling + L"b.txt", "b");
    HandWrittenFolders folders;
    folders.add(location + L"\\");
    folders.add(location + L"\\data\\");
    folders.add(sibling);
    folders.add(unrelated.path + L"\\");

    EXPECT_TRUE(clean(kThreshold, false));

    msi::RegistryExport left = msi::exportTree(kFolders);
    ASSERT_EQ(1u, left.size());
    ASSERT_EQ(1u, left.begin()->second.size()) << msi::exportText(left);
    EXPECT_EQ(unrelated.path + L"\\", left.begin()->second.begin()->first);
    EXPECT_FALSE(fileExists(location + L"\\core.txt"));
    EXPECT_FALSE(fileExists(sibling + L"b.txt")) << "the substring match takes the sibling folder too";
    EXPECT_TRUE(fileExists(unrelated.path));
    EXPECT_EQ(4u, linesWith(L"DEBUG: Cleaning directory: ").size());
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Cleaning directory: " + location + L"\n"));
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Cleaning directory: " + sibling + L"\n"));
    RemoveDirectoryW(sibling.c_str());
}

TEST_F(WindowsInstallerCleanerTest, OnlyTheFirstUpgradeCodeThatListsTheProductIsRemoved)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    // Sorts before the real upgrade code's key, so it is found first.
    const std::wstring first = L"00000000000000000000000000000001";
    setString(kInstaller + L"\\UpgradeCodes\\" + first, core.packed(), L"");
    setString(kClasses + L"\\UpgradeCodes\\" + first, core.packed(), L"");
    const std::wstring real = msi::packedGuid(msi::kCoreUpgradeCode);

    EXPECT_TRUE(clean(kThreshold, true));

    EXPECT_THAT(linesWith(L"Removing upgrade code"),
                ElementsAre(L"DEBUG: Removing upgrade code for the product " + core.packed() + L": " + first + L"\n"));
    EXPECT_FALSE(keyExists(kInstaller + L"\\UpgradeCodes\\" + first));
    EXPECT_FALSE(keyExists(kClasses + L"\\UpgradeCodes\\" + first));
    EXPECT_TRUE(msi::exportTree(kInstaller + L"\\UpgradeCodes\\" + real).begin()->second.count(core.packed()));
    EXPECT_TRUE(msi::exportTree(kClasses + L"\\UpgradeCodes\\" + real).begin()->second.count(core.packed()));
    deleteKeyTree(kInstaller + L"\\UpgradeCodes\\" + first);
    deleteKeyTree(kClasses + L"\\UpgradeCodes\\" + first);
}

TEST_F(WindowsInstallerCleanerTest, FailedDirectoryRemovalDoesNotStopValuesAndKeys)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    const std::wstring missing = core.installLocation() + L"missing\\";
    setString(kUserData + L"\\Products\\" + core.packed() + L"\\InstallProperties", L"InstallLocation", missing);
    HandWrittenFolders folders;
    folders.add(missing);

    EXPECT_TRUE(clean(kThreshold, false));

    std::vector<std::wstring> failed = linesWith(L"DEBUG: Removing directory '" + cleaner::stripDirectoryPath(missing) +
                                                 L"' ended with code: ");
    EXPECT_EQ(2u, failed.size()) << "the install location and its Folders value";
    EXPECT_THAT(failed, Not(Contains(HasSubstr(L"code: 0\n"))));
    EXPECT_TRUE(installerRegistration(msi::kCore73).empty()) << msi::exportText(installerRegistration(msi::kCore73));
    EXPECT_FALSE(keyExists(kFolders) && msi::exportTree(kFolders).begin()->second.count(missing));
    EXPECT_TRUE(fileExists(core.installLocation() + L"core.txt"));
}

TEST_F(WindowsInstallerCleanerTest, MissingFoldersKeyIsReportedButTheProductStillGoes)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    ASSERT_FALSE(keyExists(kFolders)) << "Wine's msiexec writes no Folders key";

    EXPECT_FALSE(clean(kThreshold, false));
    EXPECT_THAT(g_lines, Contains(L"WARN: Unable to read Folders\n"));
    EXPECT_TRUE(installerRegistration(msi::kCore73).empty());
    EXPECT_FALSE(fileExists(core.installLocation() + L"core.txt")) << "the install folder is still removed";
}

TEST_F(WindowsInstallerCleanerTest, SharedComponentKeepsTheOtherProductUninstallable)
{
    msi::InstalledFixture core(msi::kCore73);
    msi::InstalledFixture viewer(msi::kOrvaneViewer);
    ASSERT_EQ(0u, core.installResult());
    ASSERT_EQ(0u, viewer.installResult());
    msi::RegistryExport viewerBefore = msi::productRegistration(msi::kOrvaneViewer.productCode);
    const std::wstring sharedKey = kUserData + L"\\Components\\" + msi::packedGuid(msi::kSharedComponent);
    const std::wstring sharedFile = readString(sharedKey, viewer.packed());
    ASSERT_TRUE(fileExists(sharedFile)) << narrow(sharedFile);

    EXPECT_TRUE(clean(kThreshold, true));

    EXPECT_EQ("", msi::compareExports(viewerBefore, msi::productRegistration(msi::kOrvaneViewer.productCode)));
    msi::RegistryExport shared = msi::exportTree(sharedKey);
    EXPECT_EQ(1u, shared[sharedKey].size()) << msi::exportText(shared);
    EXPECT_TRUE(shared[sharedKey].count(viewer.packed()));

    // The other product still uninstalls cleanly, its share of the component with it.
    EXPECT_EQ(0u, msi::uninstall(msi::kOrvaneViewer.productCode));
    EXPECT_TRUE(msi::productRegistration(msi::kOrvaneViewer.productCode).empty())
        << msi::exportText(msi::productRegistration(msi::kOrvaneViewer.productCode));
    EXPECT_FALSE(keyExists(sharedKey));
    EXPECT_FALSE(fileExists(viewer.installLocation() + L"viewer.txt"));
    EXPECT_FALSE(fileExists(sharedFile)) << "the component's last client is gone";
}

// Keys a test writes by hand, removed with the test.
class HandWrittenKeys {
public:
    ~HandWrittenKeys()
    {
        for (auto key = m_keys.rbegin(); key != m_keys.rend(); ++key)
            deleteKeyTree(*key);
    }
    void set(const std::wstring& keyPath, const std::wstring& name, const std::wstring& data)
    {
        if (!keyExists(keyPath))
            m_keys.push_back(keyPath);
        setString(keyPath, name, data);
    }

private:
    std::vector<std::wstring> m_keys;
};

TEST_F(WindowsInstallerCleanerTest, PatchesOfTheProductGoWithIt)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    // Wine's msiexec applies no patches: the patch registration is written as Windows
    // Installer writes it.
    const std::wstring patch = L"0F1E2D3C4B5A69788796A5B4C3D2E1F0";
    ts::test::TempFolder cache(L"patch");
    const std::wstring patchPackage = cache.path + L"\\1a2b.msp";
    ts::test::writeFile(patchPackage, "patch");
    HandWrittenKeys keys;
    keys.set(kUserData + L"\\Products\\" + core.packed() + L"\\Patches\\" + patch, L"State", L"1");
    keys.set(kUserData + L"\\Patches\\" + patch, L"LocalPackage", patchPackage);
    keys.set(kClasses + L"\\Patches\\" + patch, L"PackageName", L"fix.msp");

    EXPECT_TRUE(clean(kThreshold, true));

    EXPECT_THAT(g_lines, Contains(L"INFO: Removing patches for user S-1-5-18\n"));
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Patch to remove: " + patch + L"\n"));
    EXPECT_THAT(g_lines, Contains(L"DEBUG: Removing file: " + patchPackage + L"\n"));
    EXPECT_FALSE(fileExists(patchPackage));
    EXPECT_FALSE(keyExists(kUserData + L"\\Patches\\" + patch));
    EXPECT_FALSE(keyExists(kClasses + L"\\Patches\\" + patch));
    EXPECT_TRUE(installerRegistration(msi::kCore73).empty()) << msi::exportText(installerRegistration(msi::kCore73));
}

TEST_F(WindowsInstallerCleanerTest, EveryUserIsScannedAndAnUnreadableOneTurnsTheResultFalse)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    // A user with an old Core registration but no Components key, and one with nothing.
    const std::wstring user = L"S-1-5-21-7-7-7";
    const std::wstring empty = L"S-1-5-21-8-8-8";
    const std::wstring product = L"00112233445566778899AABBCCDDEEFF";
    ts::test::TempFolder cache(L"users");
    const std::wstring package = cache.path + L"\\5e6f.msi";
    ts::test::writeFile(package, "package");
    HandWrittenKeys keys;
    keys.set(kInstaller + L"\\UserData\\" + empty, L"", L"");
    const std::wstring properties = kInstaller + L"\\UserData\\" + user + L"\\Products\\" + product + L"\\InstallProperties";
    keys.set(kInstaller + L"\\UserData\\" + user, L"", L"");
    keys.set(properties, L"DisplayName", kCoreName);
    keys.set(properties, L"DisplayVersion", L"7.0.0.0");
    keys.set(properties, L"LocalPackage", package);

    EXPECT_FALSE(clean(kThreshold, true));

    EXPECT_THAT(linesWith(L"Checking if"),
                ElementsAre(L"DEBUG: Checking if 'Tessaline Core Software' is present for user S-1-5-18\n",
                            L"DEBUG: Checking if 'Tessaline Core Software' is present for user " + user + L"\n",
                            L"DEBUG: Checking if 'Tessaline Core Software' is present for user " + empty + L"\n"));
    EXPECT_THAT(g_lines, Contains(L"WARN: Unable to read Components key for user id " + user + L"\n"));
    EXPECT_THAT(g_lines, Contains(L"WARN: Unable to read Products key for user id " + empty + L"\n"));
    EXPECT_THAT(g_lines, Contains(L"INFO: Starting to remove product " + product +
                                  L" (Tessaline Core Software) for user " + user + L"\n"));
    EXPECT_FALSE(keyExists(kInstaller + L"\\UserData\\" + user + L"\\Products\\" + product));
    EXPECT_FALSE(fileExists(package));
    EXPECT_TRUE(installerRegistration(msi::kCore73).empty()) << msi::exportText(installerRegistration(msi::kCore73));
}

TEST_F(WindowsInstallerCleanerTest, CleanerWithoutScanRemovesNothing)
{
    msi::InstalledFixture core(msi::kCore73);
    ASSERT_EQ(0u, core.installResult());
    msi::RegistryExport before = msi::productRegistration(msi::kCore73.productCode);
    { WindowsInstallerCleaner cleaner(this); }
    EXPECT_EQ("", msi::compareExports(before, msi::productRegistration(msi::kCore73.productCode)));
    EXPECT_TRUE(g_lines.empty());
}

} // namespace
