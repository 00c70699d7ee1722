// The fixture packages themselves: what the prefix's msiexec registers for them, and that
// the test support removes it again.
#include "support/msifixtures.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace msi = ts::test::msi;
using ts::test::fileExists;
using ts::test::narrow;

namespace {

std::wstring productKey(const msi::Fixture& fixture)
{
    return std::wstring(msi::kUserDataKey) + L"\\Products\\" + msi::packedGuid(fixture.productCode);
}

TEST(MsiFixtureTest, PackedGuidReversesTheGroupsAndSwapsTheBytes)
{
    EXPECT_EQ(L"2079F1D0B68AE30479642CA4C33F9EFB", msi::packedGuid(L"{0D1F9702-A86B-403E-9746-C24A3CF3E9BF}"));
    EXPECT_EQ(L"", msi::packedGuid(L"{0D1F9702}"));
}

TEST(MsiFixtureTest, InstallRegistersTheProductTheWayWindowsInstallerDoes)
{
    const std::wstring packed = msi::packedGuid(msi::kCore73.productCode);
    std::wstring localPackage;
    {
        msi::InstalledFixture core(msi::kCore73);
        ASSERT_EQ(0u, core.installResult());
        EXPECT_EQ(L"Tessaline Core Software", msi::installProperty(msi::kCore73.productCode, L"DisplayName"));
        EXPECT_EQ(L"7.3.1000.0", msi::installProperty(msi::kCore73.productCode, L"DisplayVersion"));
        localPackage = core.localPackage();
        EXPECT_TRUE(fileExists(localPackage)) << narrow(localPackage);
        EXPECT_NE(std::wstring::npos, core.installLocation().find(L"\\Tessaline\\Core\\"))
            << narrow(core.installLocation());
        EXPECT_TRUE(fileExists(core.installLocation() + L"core.txt"));

        msi::RegistryExport registration = msi::productRegistration(msi::kCore73.productCode);
        EXPECT_TRUE(registration.count(productKey(msi::kCore73) + L"\\InstallProperties")) << msi::exportText(registration);
        EXPECT_TRUE(registration.count(std::wstring(msi::kClassesInstallerKey) + L"\\Products\\" + packed));
        EXPECT_TRUE(registration.count(std::wstring(msi::kClassesInstallerKey) + L"\\Features\\" + packed));
        const std::wstring upgrade = msi::packedGuid(msi::kCoreUpgradeCode);
        EXPECT_TRUE(registration[std::wstring(msi::kInstallerKey) + L"\\UpgradeCodes\\" + upgrade].count(packed));
        EXPECT_TRUE(registration[std::wstring(msi::kClassesInstallerKey) + L"\\UpgradeCodes\\" + upgrade].count(packed));
        for (const std::wstring& component : msi::kCore73.componentCodes) {
            std::wstring key = std::wstring(msi::kUserDataKey) + L"\\Components\\" + msi::packedGuid(component);
            EXPECT_TRUE(registration[key].count(packed)) << narrow(key);
        }
    }
    EXPECT_FALSE(msi::isRegistered(msi::kCore73.productCode));
    EXPECT_TRUE(msi::productRegistration(msi::kCore73.productCode).empty())
        << msi::exportText(msi::productRegistration(msi::kCore73.productCode));
    EXPECT_FALSE(fileExists(localPackage));
}

TEST(MsiFixtureTest, TwoProductsShareOneComponentKey)
{
    msi::InstalledFixture core(msi::kCore73);
    msi::InstalledFixture viewer(msi::kOrvaneViewer);
    ASSERT_EQ(0u, core.installResult());
    ASSERT_EQ(0u, viewer.installResult());
    msi::RegistryExport shared = msi::exportTree(std::wstring(msi::kUserDataKey) + L"\\Components\\" +
                                                 msi::packedGuid(msi::kSharedComponent));
    ASSERT_EQ(1u, shared.size());
    const msi::KeyValues& values = shared.begin()->second;
    EXPECT_EQ(2u, values.size()) << msi::exportText(shared);
    EXPECT_TRUE(values.count(core.packed()));
    EXPECT_TRUE(values.count(viewer.packed()));
}

TEST(MsiFixtureTest, ForgettingABrokenRegistrationLeavesOtherProductsAlone)
{
    msi::InstalledFixture viewer(msi::kOrvaneViewer);
    ASSERT_EQ(0u, viewer.installResult());
    msi::RegistryExport viewerBefore = msi::productRegistration(msi::kOrvaneViewer.productCode);
    {
        msi::InstalledFixture core(msi::kCore73);
        ASSERT_EQ(0u, core.installResult());
        // Without its cached package msiexec cannot uninstall it; the owner still cleans up.
        DeleteFileW(core.localPackage().c_str());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"SOFTWARE\\Classes\\Installer\\Features\\" + core.packed()).c_str());
    }
    EXPECT_TRUE(msi::productRegistration(msi::kCore73.productCode).empty())
        << msi::exportText(msi::productRegistration(msi::kCore73.productCode));
    EXPECT_EQ("", msi::compareExports(viewerBefore, msi::productRegistration(msi::kOrvaneViewer.productCode)));
}

TEST(MsiFixtureTest, CompareExportsNamesEveryDifferenceKeyByKey)
{
    msi::RegistryExport before = {{L"HKLM\\A", {{L"x", L"1:00"}, {L"y", L"1:01"}}}, {L"HKLM\\B", {}}};
    msi::RegistryExport after = {{L"HKLM\\A", {{L"x", L"1:02"}, {L"z", L"4:00000000"}}}, {L"HKLM\\C", {}}};
    EXPECT_EQ("~ HKLM\\A\\x: 1:00 -> 1:02\n- HKLM\\A\\y\n+ HKLM\\A\\z\n- HKLM\\B\n+ HKLM\\C\n",
              msi::compareExports(before, after));
    EXPECT_EQ("", msi::compareExports(before, before));
}

} // namespace
