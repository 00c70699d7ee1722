// Setup under Windows 8.1 on a machine that an older installation left in a poor state: a
// broken registration of the old Core software (its cached package gone), a product of a
// legacy upgrade code and an outdated driver package of the product's device class. The
// run removes exactly those, installs the new Core software and leaves every other
// product's registration as it was, key by key, and a user's own per-user package of a
// legacy upgrade code installed.
#include "support/cleanupfixtures.h"
#include "support/inffixtures.h"
#include "support/msifixtures.h"
#include "support/setuprun.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <memory>

namespace test = ts::test;
namespace msi = ts::test::msi;

namespace {

std::wstring machineString(const wchar_t* key, const wchar_t* value)
{
    wchar_t buffer[256] = L"";
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, value, RRF_RT_REG_SZ | 0x00010000 /* RRF_SUBKEY_WOW6464KEY */,
                     nullptr, buffer, &size) != ERROR_SUCCESS)
        return L"";
    return buffer;
}

// Uninstalls what the demo bundle installed and puts the product's settings back.
class DemoInstallation {
public:
    DemoInstallation() { clear(); }
    ~DemoInstallation()
    {
        for (const wchar_t* key : {kCore, kProduct}) {
            std::wstring code = machineString(key, L"ProductCode");
            if (!code.empty())
                msi::uninstall(code);
        }
        clear();
    }
    DemoInstallation(const DemoInstallation&) = delete;
    DemoInstallation& operator=(const DemoInstallation&) = delete;

    static constexpr const wchar_t* kCore = L"SOFTWARE\\Tessaline\\Core";
    static constexpr const wchar_t* kProduct = L"SOFTWARE\\Tessaline\\Products\\Tessaline Graphics";

private:
    // No Core software on the machine: Setup takes the branch for a broken one.
    void clear()
    {
        test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", test::RegistryTree(), KEY_WOW64_64KEY);
        test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", test::RegistryTree(), KEY_WOW64_32KEY);
    }
    test::SavedRegistryKey m_saved64{HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_64KEY};
    test::SavedRegistryKey m_saved32{HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_32KEY};
};

// A user's own package of a listed upgrade code, installed without elevation.
class PerUserInstallation {
public:
    explicit PerUserInstallation(const msi::Fixture& fixture)
        : m_fixture(fixture), m_userDataExisted(userData(KEY_READ) != nullptr),
          m_result(msi::install(fixture.package, L"ALLUSERS=\"\""))
    {
    }
    ~PerUserInstallation()
    {
        msi::uninstall(m_fixture.productCode);
        // Wine leaves the user's empty Installer\UserData key, which other tests would scan.
        if (HKEY key = m_userDataExisted ? nullptr : userData(KEY_ALL_ACCESS)) {
            RegDeleteTreeW(key, nullptr);
            RegCloseKey(key);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, userDataPath().c_str(), KEY_WOW64_64KEY, 0);
        }
    }
    PerUserInstallation(const PerUserInstallation&) = delete;
    PerUserInstallation& operator=(const PerUserInstallation&) = delete;
    uint32_t result() const { return m_result; }
    bool registered() const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\Microsoft\\Installer\\Products\\" +
                                              msi::packedGuid(m_fixture.productCode)).c_str(),
                          0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }

private:
    static std::wstring userDataPath()
    {
        HANDLE token = nullptr;
        BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        wchar_t* sid = nullptr;
        std::wstring path; // empty unless the user's own key is named: never the whole UserData
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
            GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) &&
            ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid))
            path = std::wstring(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\") + sid;
        LocalFree(sid);
        if (token)
            CloseHandle(token);
        return path;
    }
    static HKEY userData(REGSAM access)
    {
        HKEY key = nullptr;
        const std::wstring path = userDataPath();
        return !path.empty() && RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | KEY_WOW64_64KEY, &key) ==
                                    ERROR_SUCCESS
                   ? key
                   : nullptr;
    }

    const msi::Fixture& m_fixture;
    bool m_userDataExisted;
    uint32_t m_result;
};

} // namespace

TEST(EnvironmentCleanupE2eTest, Windows81RunRemovesWhatOlderInstallationsLeft)
{
    DemoInstallation demo;
    const msi::Fixture& oldCore = test::nativeFixture(test::kOldCore, test::kOldCore64);
    const msi::Fixture& lowercase = test::nativeFixture(test::kLowercaseNamed, test::kLowercaseNamed64);

    // The broken old Core software: installed, then its cached package lost.
    msi::InstalledFixture core(oldCore);
    ASSERT_EQ(0u, core.installResult());
    ASSERT_FALSE(core.localPackage().empty());
    ASSERT_TRUE(DeleteFileW(core.localPackage().c_str()));
    msi::InstalledFixture legacy(test::kLegacyFirst);
    ASSERT_EQ(0u, legacy.installResult());
    PerUserInstallation own(test::kLegacyLater);
    ASSERT_EQ(0u, own.result());
    ASSERT_TRUE(own.registered() && !msi::isRegistered(test::kLegacyLater.productCode));
    std::vector<std::unique_ptr<msi::InstalledFixture>> unrelated;
    for (const msi::Fixture* fixture : {&test::kMarrowPaint, &msi::kOrvaneViewer, &lowercase}) {
        unrelated.emplace_back(new msi::InstalledFixture(*fixture));
        ASSERT_EQ(0u, unrelated.back()->installResult()) << test::narrow(fixture->package);
    }
    test::OemInf outdated;
    outdated.driverVer = "06/02/2013,7.2.3000.0";
    test::ScopedInfFile driver(test::freeOemInfName(), outdated);
    test::OemInf otherClass;
    otherClass.className = "Net";
    otherClass.classGuid = "{4d36e972-e325-11ce-bfc1-08002be10318}";
    otherClass.driverVer = "06/02/2013,1.0.0.0";
    test::ScopedInfFile network(test::freeOemInfName(), otherClass);
    ASSERT_TRUE(driver.written() && network.written());

    std::map<std::wstring, msi::RegistryExport> before;
    for (const auto& fixture : unrelated)
        before[fixture->fixture().productCode] = msi::productRegistration(fixture->fixture().productCode);

    test::SetupRun run(L"cleanup81");
    test::PnputilStandIn pnputil(run.dir + L"\\pnputil.txt");
    const std::wstring name = L"TsSetup-cleanup81-" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const std::wstring program = run.dir + L"\\" + name;
    ASSERT_TRUE(CopyFileW(test::e2eBundle(L"demo").c_str(), program.c_str(), FALSE));
    test::WineVersionOverride version(name, L"win81");
    test::ProcessResult result = run.run(L"-silent -mupLogFile {log}", program, nullptr, 600000);
    ASSERT_TRUE(result.started && !result.timedOut);
    EXPECT_EQ(0u, result.exitCode) << run.log();

    // Removed: the broken Core's registrations and its Add/Remove Programs entry, the
    // legacy product, the outdated driver package.
    EXPECT_EQ("", msi::exportText(msi::productRegistration(oldCore.productCode)));
    EXPECT_FALSE(msi::isRegistered(test::kLegacyFirst.productCode));
    EXPECT_TRUE(own.registered()) << "a per-user package is left to its user";
    // Reached through the native system folder, where alone 64-bit Windows keeps it.
    EXPECT_EQ(std::vector<std::string>{test::narrow(test::PnputilStandIn::startPath() + L" -f -d " + driver.path())},
              pnputil.commandLines());
    EXPECT_FALSE(test::fileExists(driver.path()));
    EXPECT_TRUE(test::fileExists(network.path()));
    // Installed: the new Core software and the product.
    EXPECT_EQ(L"7.9.1488.0", machineString(DemoInstallation::kCore, L"Version")) << run.log();
    EXPECT_EQ(L"2.1.40.0", machineString(DemoInstallation::kProduct, L"Version"));
    // Untouched: every other product, key by key.
    for (const auto& fixture : unrelated) {
        EXPECT_TRUE(msi::isRegistered(fixture->fixture().productCode));
        EXPECT_EQ("", msi::compareExports(before[fixture->fixture().productCode],
                                          msi::productRegistration(fixture->fixture().productCode)))
            << test::narrow(fixture->fixture().package);
    }
}
