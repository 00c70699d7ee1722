// The driver package search over the prefix's own SetupAPI and INF folder.
#include "tk/libcleaner/tssetupapi.h"

#include "support/inffixtures.h"
#include "support/testsupport.h"
#include "sys/libutils/win32/setupinf.h"
#include "sys/libutils/win32/win32nr.h"
#include "tk/installer/libinstall/productdata.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <memory>

namespace ts { namespace tk { namespace cleaner {
namespace {

using sys::Version;
using test::OemInf;
using test::ScopedInfFile;

const bool kLoggerReady = (test::testLogger(), true);

const GUID& kProductClass = install::kProductDeviceClassGuid;
const GUID kDisplayClass = {0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char kDisplayClassText[] = "{4d36e968-e325-11ce-bfc1-08002be10318}";
const char kModule[] = "InfSearchSystemTest";

std::vector<std::wstring> namesOf(const std::vector<wchar_t>& list)
{
    std::vector<std::wstring> names;
    for (const wchar_t* name = list.data(); *name; name += wcslen(name) + 1)
        names.push_back(name);
    return names;
}

std::wstring upperCase(std::wstring text)
{
    for (wchar_t& c : text)
        c = towupper(c);
    return text;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> paths)
{
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool listed(const std::vector<std::wstring>& names, const std::wstring& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The texts of this test's DEBUG lines since `from`.
std::vector<std::string> debugTextsSince(size_t from)
{
    std::vector<std::string> lines = test::decodedCapture(), texts;
    const std::string marker = std::string("\t") + kModule + "\t";
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(marker) != std::string::npos && lines[i].find("\tDEBUG\t") != std::string::npos)
            texts.push_back(lines[i].substr(lines[i].rfind('\t') + 1));
    return texts;
}

OemInf displayInf()
{
    OemInf inf;
    inf.className = "Display";
    inf.classGuid = kDisplayClassText;
    return inf;
}

OemInf otherProviderInf()
{
    OemInf inf;
    inf.manufacturer = "\"Other Corp\"";
    inf.services = {"otherusb"};
    inf.driverVer = "01/01/2010,1.0.0.0";
    return inf;
}

OemInf withoutDriverVer()
{
    OemInf inf;
    inf.driverVer.clear();
    return inf;
}

TEST(SetupInf, ClassOfAnInfIsReadFromItsVersionSection)
{
    ScopedInfFile product(test::freeOemInfName(), OemInf());
    ASSERT_TRUE(product.written());
    GUID read = {};
    ASSERT_TRUE(sys::win32::getInfClass(product.path(), read));
    EXPECT_TRUE(IsEqualGUID(kProductClass, read));

    ScopedInfFile display(test::freeOemInfName(), displayInf());
    ASSERT_TRUE(sys::win32::getInfClass(display.path(), read));
    EXPECT_TRUE(IsEqualGUID(kDisplayClass, read));

    // Without a signature the file is no INF of the current style.
    std::string unsigned_ = test::oemInfText(OemInf());
    unsigned_.erase(unsigned_.find("Signature="), unsigned_.find("Class=") - unsigned_.find("Signature="));
    ScopedInfFile old(test::freeOemInfName(), unsigned_);
    read = GUID();
    EXPECT_FALSE(sys::win32::getInfClass(old.path(), read));
    EXPECT_FALSE(sys::win32::getInfClass(test::infFolder() + L"\\oem-absent.inf", read));
}

TEST(SetupInf, InstalledClassHasItsNameTheProductsIsNotInstalled)
{
    std::wstring name;
    ASSERT_TRUE(sys::win32::getClassNameFromGuid(kDisplayClass, name));
    EXPECT_EQ(L"Display", name);
    EXPECT_FALSE(sys::win32::getClassNameFromGuid(kProductClass, name));

    TsSetupApi api(Version(), kModule);
    EXPECT_EQ(L"Display", api.getClassName(kDisplayClass));
    const size_t before = test::decodedCapture().size();
    EXPECT_EQ(L"<unknown-setup-class>", api.getClassName(kProductClass));
    EXPECT_EQ(std::vector<std::string>{"WARNING! Unable to get name of device-setup-class-guid, probably not installed"},
              debugTextsSince(before));
}

TEST(SetupInf, InfPathIsInTheWindowsInfFolder)
{
    TsSetupApi api(Version(), kModule);
    EXPECT_EQ(test::infFolder() + L"\\oem12.inf", api.getInfPath(L"oem12.inf"));
    EXPECT_EQ(sys::win32::getWindowsDirectory() + L"\\inf\\OEM3.INF", api.getInfPath(L"OEM3.INF"));
}

TEST(CachedInfList, ListsTheOemFilesOfTheInfFolder)
{
    ScopedInfFile product(test::freeOemInfName(), OemInf());
    ScopedInfFile display(test::freeOemInfName(), displayInf());
    std::vector<wchar_t> list;
    TsSetupApi(Version(), kModule).getCachedInfList(list);
    std::vector<std::wstring> names = namesOf(list);
    EXPECT_TRUE(listed(names, product.name()));
    EXPECT_TRUE(listed(names, display.name()));
    EXPECT_FALSE(listed(names, L"oem-absent.inf"));
}

TEST(CachedInfList, LongListIsFetchedWhole)
{
    std::vector<std::unique_ptr<ScopedInfFile>> files;
    size_t characters = 0;
    for (unsigned number = 2000; characters <= 1100;) {
        files.emplace_back(new ScopedInfFile(test::freeOemInfName(number), OemInf()));
        ASSERT_TRUE(files.back()->written());
        characters += files.back()->name().size() + 1;
        number = std::stoul(files.back()->name().substr(3)) + 1;
    }
    std::vector<wchar_t> list;
    TsSetupApi(Version(), kModule).getCachedInfList(list);
    EXPECT_LT(1100u, list.size());
    std::vector<std::wstring> names = namesOf(list);
    for (const auto& file : files)
        EXPECT_TRUE(listed(names, file->name())) << test::narrow(file->name());
}

// The product's packages among others in the prefix's INF folder, searched as the
// cleanup searches them.
class FindInfFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto* file : {&m_capitals, &m_netrtx, &m_display, &m_noDriverVer, &m_otherProvider})
            ASSERT_TRUE((*file)->written()) << test::narrow((*file)->path());
        TsSetupApi(Version(), kModule).getCachedInfList(m_list);
    }

    std::vector<std::wstring> find(Version own, bool checkVersion, const std::vector<std::wstring>& names,
                                   const std::wstring& provider)
    {
        std::vector<std::wstring> found;
        TsSetupApi(own, kModule).findInfFiles(m_list.data(), kProductClass, checkVersion, names, provider, found);
        return found;
    }
    // "Processed <n> inf files, skipped <rest of the list>"
    std::string counts(size_t processed) const
    {
        return "Processed " + std::to_string(processed) + " inf files, skipped " +
               std::to_string(namesOf(m_list).size() - processed);
    }

    std::unique_ptr<ScopedInfFile> m_capitals{new ScopedInfFile(upperCase(test::freeOemInfName()), OemInf())};
    std::unique_ptr<ScopedInfFile> m_netrtx{new ScopedInfFile(L"netrtx.inf", OemInf())};
    std::unique_ptr<ScopedInfFile> m_display{new ScopedInfFile(test::freeOemInfName(), displayInf())};
    std::unique_ptr<ScopedInfFile> m_noDriverVer{new ScopedInfFile(test::freeOemInfName(), withoutDriverVer())};
    std::unique_ptr<ScopedInfFile> m_otherProvider{new ScopedInfFile(test::freeOemInfName(), otherProviderInf())};
    std::vector<wchar_t> m_list;
};

TEST_F(FindInfFiles, ReturnsTheProductsPackagesByNameAndProvider)
{
    const size_t before = test::decodedCapture().size();
    // In the folder's order, which the file system decides.
    std::vector<std::wstring> found = find(Version(), false, {L"tsusbvid"}, L"Tessaline");
    EXPECT_EQ(sorted({m_capitals->path(), m_noDriverVer->path()}), sorted(found));
    std::vector<std::string> texts = debugTextsSince(before);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("WARNING! Unable to get name of device-setup-class-guid, probably not installed", texts[0]);
    EXPECT_EQ("Removing Class '<unknown-setup-class>' Tessaline cached INF files from the system ...", texts[1]);
    // The two packages and the display driver are processed; everything else is skipped.
    EXPECT_EQ(counts(3), texts[2]);
}

TEST_F(FindInfFiles, WithoutNamesAnyProviderOfTheClassIsReturned)
{
    EXPECT_EQ(sorted({m_capitals->path(), m_noDriverVer->path(), m_otherProvider->path()}),
              sorted(find(Version(), false, {}, L"Tessaline")));
}

TEST_F(FindInfFiles, VersionCheckAgainstZeroKeepsOnlyPackagesWithoutDriverVer)
{
    const size_t before = test::decodedCapture().size();
    EXPECT_EQ(std::vector<std::wstring>{m_noDriverVer->path()}, find(Version(), true, {}, L""));
    std::vector<std::string> texts = debugTextsSince(before);
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(),
                            "WARNING! file not deleted, file is newer version then cleaner itself: 7.4.50415.0 > 0.0.0.0"));
    EXPECT_EQ(1, std::count(texts.begin(), texts.end(),
                            "WARNING! file not deleted, file is newer version then cleaner itself: 1.0.0.0 > 0.0.0.0"));
    EXPECT_EQ(counts(2), texts.back());
}

} // namespace
}}} // namespace ts::tk::cleaner
