// The environment cleanup against packages that Wine's msiexec installed in the prefix,
// run as Setup runs it under the Windows versions Wine can present.
#include "tk/installer/libinstall/environmentcleanup.h"

#include "support/cleanerlog.h"
#include "support/cleanupfixtures.h"
#include "support/inffixtures.h"
#include "support/msifixtures.h"
#include "support/testsupport.h"
#include "tk/installer/libinstall/productdata.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ts::tk::install;
namespace test = ts::test;
namespace msi = ts::test::msi;

namespace {

using msi::Fixture;
using test::kLegacyFirst;
using test::kLegacyLater;
using test::kMarrowPaint;
const wchar_t kUnknownProduct[] = L"{7D3B9E15-0A4C-4E8F-B261-5C9A8D7E6F01}";

const Fixture& graphicsNamed() { return test::nativeFixture(test::kGraphicsNamed, test::kGraphicsNamed64); }
const Fixture& lowercaseNamed() { return test::nativeFixture(test::kLowercaseNamed, test::kLowercaseNamed64); }
const Fixture& kUnrelated = kMarrowPaint;

msi::RegistryExport registration(const Fixture& fixture)
{
    return msi::productRegistration(fixture.productCode);
}

void setCoreValue(const wchar_t* name, const std::wstring& data)
{
    // The Core settings group as the option framework reads it: this 32-bit program's view.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tessaline\\Core", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void clearTessaline()
{
    test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", test::RegistryTree(), KEY_WOW64_32KEY);
    test::writeRegistryTree(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", test::RegistryTree(), KEY_WOW64_64KEY);
}

// The packages are installed once for the whole suite (msiexec is slow under Wine); the
// cases that remove some run last.
class EnvironmentCleanupSystemTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_saved32.reset(new test::SavedRegistryKey(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_32KEY));
        s_saved64.reset(new test::SavedRegistryKey(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_64KEY));
        clearTessaline();
        for (const Fixture* fixture : all())
            if (!msi::isRegistered(fixture->productCode))
                msi::install(fixture->package);
    }
    static void TearDownTestSuite()
    {
        for (const Fixture* fixture : all())
            if (msi::isRegistered(fixture->productCode))
                msi::uninstall(fixture->productCode);
        s_saved64.reset();
        s_saved32.reset();
    }
    void SetUp() override
    {
        clearTessaline();
        for (const Fixture* fixture : all())
            ASSERT_TRUE(msi::isRegistered(fixture->productCode)) << test::narrow(fixture->package);
    }
    static std::vector<const Fixture*> all()
    {
        return {&kLegacyFirst, &kLegacyLater, &graphicsNamed(), &lowercaseNamed(), &kUnrelated};
    }
    // Every fixture's registration and the product's settings, in both views.
    static msi::RegistryExport everything()
    {
        msi::RegistryExport data;
        for (const Fixture* fixture : all())
            for (auto& key : registration(*fixture))
                data[key.first] = key.second;
        for (auto& key : msi::exportTree(L"HKLM\\Software\\Tessaline"))
            data[key.first] = key.second;
        for (auto& key : msi::exportTree(L"HKLM(32-bit view)\\Software\\Tessaline"))
            data[key.first] = key.second;
        return data;
    }

    static std::unique_ptr<test::SavedRegistryKey> s_saved32, s_saved64;
};
std::unique_ptr<test::SavedRegistryKey> EnvironmentCleanupSystemTest::s_saved32;
std::unique_ptr<test::SavedRegistryKey> EnvironmentCleanupSystemTest::s_saved64;

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

} // namespace

TEST_F(EnvironmentCleanupSystemTest, RelatedProductsOfInstalledPackages)
{
    WindowsCleanupSystem system;
    EXPECT_EQ(std::vector<std::wstring>{kLegacyFirst.productCode}, system.relatedProducts(kLegacyUpgradeCodes[0]));
    EXPECT_EQ(std::vector<std::wstring>{kLegacyLater.productCode}, system.relatedProducts(kLegacyUpgradeCodes[33]));
    EXPECT_TRUE(system.relatedProducts(kLegacyUpgradeCodes[1]).empty());
    EXPECT_TRUE(system.installedPerMachine(kLegacyFirst.productCode));
    EXPECT_FALSE(system.installedPerMachine(L"{3A0C5E4B-1D2F-4B6A-8C9E-0F1A2B3C4D09}"));
}

TEST_F(EnvironmentCleanupSystemTest, OtherWindowsVersionsTouchNothing)
{
    const auto before = everything();
    for (const wchar_t* version : {L"win7", L"win8", L"win10"}) {
        std::unique_ptr<test::Windows10VersionValues> windows10;
        if (version == std::wstring(L"win10"))
            windows10.reset(new test::Windows10VersionValues);
        test::CleanupRun run = test::runCleanup(version);
        EXPECT_TRUE(run.finished && run.exitCode == 0) << test::narrow(version) << " " << run.exitCode;
        EXPECT_EQ("", joined(run.lines)) << test::narrow(version);
        EXPECT_EQ("", msi::compareExports(before, everything())) << test::narrow(version);
    }
}

TEST_F(EnvironmentCleanupSystemTest, RegisteredCoreNotOlderLeavesWindows81Untouched)
{
    for (const wchar_t* registered : {L"7.4.50415.0", L"abc"}) {
        setCoreValue(L"Version", registered);
        setCoreValue(L"GUID", kUnknownProduct);
        const auto before = everything();
        test::CleanupRun run = test::runCleanup(L"win81");
        EXPECT_TRUE(run.finished && run.exitCode == 0) << run.exitCode;
        EXPECT_EQ("", joined(run.lines)) << test::narrow(registered);
        EXPECT_EQ("", msi::compareExports(before, everything())) << test::narrow(registered);
    }
}

TEST_F(EnvironmentCleanupSystemTest, UnknownProductUninstallIsResult2)
{
    // msiexec ends with 1605 for a product it does not know.
    test::CapturedCleanerLog log(ts::tk::cleaner::DebugLevel::Info);
    WindowsCleanupSystem system;
    uninstallProduct(kUnknownProduct, system);
    ASSERT_EQ(2u, log.lines().size());
    EXPECT_EQ(L"INFO: Uninstall complete. Result: 2\n", log.lines()[1]);
}

// Last: it removes the listed products.
TEST_F(EnvironmentCleanupSystemTest, OutdatedCoreOnWindows81RemovesCoreAndListedProductsOnly)
{
    setCoreValue(L"Version", L"7.3.1000.0");
    setCoreValue(L"GUID", kUnknownProduct);
    const auto tessalineBefore = msi::exportTree(L"HKLM\\Software\\Tessaline");
    const auto lowercaseBefore = registration(lowercaseNamed());
    const auto unrelatedBefore = registration(kUnrelated);

    test::CleanupRun run = test::runCleanup(L"win81");
    EXPECT_TRUE(run.finished && run.exitCode == 0) << run.exitCode;
    auto uninstalling = [](const Fixture& fixture) {
        return "INFO: Uninstalling product. Product code: " + test::narrow(fixture.productCode);
    };
    const std::vector<std::string> expected = {
        "INFO: Uninstalling product. Product code: " + test::narrow(kUnknownProduct),
        "INFO: Uninstall complete. Result: 2",
        uninstalling(kLegacyFirst),
        "INFO: Uninstall complete. Result: 0",
        uninstalling(kLegacyLater),
        "INFO: Uninstall complete. Result: 0",
        uninstalling(graphicsNamed()),
        "INFO: Uninstall complete. Result: 0",
    };
    EXPECT_EQ(joined(expected), joined(run.lines));
    EXPECT_FALSE(msi::isRegistered(kLegacyFirst.productCode));
    EXPECT_FALSE(msi::isRegistered(kLegacyLater.productCode));
    EXPECT_FALSE(msi::isRegistered(graphicsNamed().productCode));
    EXPECT_EQ("", msi::compareExports(lowercaseBefore, registration(lowercaseNamed())));
    EXPECT_EQ("", msi::compareExports(unrelatedBefore, registration(kUnrelated)));
    EXPECT_EQ("", msi::compareExports(tessalineBefore, msi::exportTree(L"HKLM\\Software\\Tessaline")))
        << "the mocked registration is gone again";
}

// Its own suite, after the one above has uninstalled the listed products, which a run of
// the broken-Core branch would take. One package at a time: only the first OEM INF of the
// class is looked at. The outdated UTF-16 one shows that such a file is read at all.
TEST(EnvironmentCleanupDriverPackageTest, Windows81KeepsNewerUtf16AndThreePartPackages)
{
    test::SavedRegistryKey saved32(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_32KEY);
    test::SavedRegistryKey saved64(HKEY_LOCAL_MACHINE, L"Software\\Tessaline", KEY_WOW64_64KEY);
    clearTessaline();
    test::OemInf outdated, newer, threePart;
    outdated.driverVer = "06/02/2013,7.2.3000.0";
    newer.driverVer = "01/15/2015,10.0.9908.0";
    threePart.driverVer = "04/02/2015,10.0.10053";
    for (const auto& c : {std::make_pair(test::utf16WithMark(test::oemInfText(outdated)), true),
                          std::make_pair(test::utf16WithMark(test::oemInfText(newer)), false),
                          std::make_pair(test::oemInfText(threePart), false)}) {
        test::ScopedInfFile driver(test::freeOemInfName(), c.first);
        const test::TempFolder folder(L"packages");
        test::PnputilStandIn pnputil(folder.path + L"\\pnputil.txt");
        test::CleanupRun run = test::runCleanup(L"win81");
        EXPECT_TRUE(driver.written() && run.finished && run.exitCode == 0) << run.exitCode;
        EXPECT_EQ(c.second ? 1u : 0u, pnputil.commandLines().size()) << joined(run.lines);
        EXPECT_NE(c.second, test::fileExists(driver.path()));
    }
}
