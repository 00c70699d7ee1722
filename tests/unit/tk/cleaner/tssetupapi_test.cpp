#include "tk/libcleaner/tssetupapi.h"

#include "support/testsupport.h"
#include "tk/installer/libinstall/productdata.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <stdexcept>

namespace ts { namespace tk { namespace cleaner {
namespace {

using sys::Version;

const bool kLoggerReady = (test::testLogger(), true);

const GUID& kProductClass = install::kProductDeviceClassGuid;
const GUID kDisplayClass = {0x4d36e968, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
const char kModule[] = "InfSearchTest";

// SetupAPI as the search sees it: a listing that behaves like Windows' (a buffer too
// small fails and reports the size), INF classes by file name, class names by GUID.
class FakeInfSystem : public IInfSystem {
public:
    bool getInfFileList(std::vector<wchar_t>& buffer, DWORD& requiredSize) override
    {
        bool zeroed = true;
        for (wchar_t c : buffer)
            zeroed = zeroed && c == L'\0';
        calls.push_back({buffer.size(), zeroed});
        std::vector<wchar_t> list;
        for (const std::wstring& name : listing)
            list.insert(list.end(), name.c_str(), name.c_str() + name.size() + 1);
        list.push_back(L'\0');
        requiredSize = static_cast<DWORD>(list.size());
        if (calls.size() == failingCall)
            return false;
        if (buffer.size() < list.size())
            return false;
        std::copy(list.begin(), list.end(), buffer.begin());
        return true;
    }
    bool getClassName(const GUID& classGuid, std::wstring& name) override
    {
        if (!IsEqualGUID(classGuid, kProductClass))
            return false;
        name = L"TessalineDisplay";
        return true;
    }
    bool getInfClass(const std::wstring& infPath, GUID& classGuid) override
    {
        const std::wstring name = infPath.substr(infPath.rfind(L'\\') + 1);
        auto known = classes.find(name);
        if (known == classes.end())
            return false;
        classGuid = known->second;
        return true;
    }
    std::wstring getWindowsDirectory() override { return windows; }

    struct Call {
        size_t bufferSize;
        bool zeroed;
    };
    std::vector<std::wstring> listing;
    size_t failingCall = 0; // 1-based; 0: none fails on its own
    std::vector<Call> calls;
    std::map<std::wstring, GUID> classes;
    std::wstring windows = L"C:\\windows";
};

std::vector<std::wstring> namesOf(const wchar_t* list)
{
    std::vector<std::wstring> names;
    for (const wchar_t* name = list; *name; name += wcslen(name) + 1)
        names.push_back(name);
    return names;
}

std::wstring oemName(int number)
{
    return L"oem" + std::to_wstring(number) + L".inf";
}

// The decoded log from `from` on, one line per entry, joined by line feeds: a text that
// ends in a line feed shows as an empty line after it.
std::string logSince(size_t from)
{
    std::vector<std::string> lines = test::decodedCapture();
    std::string text;
    for (size_t i = from; i < lines.size(); ++i)
        text += lines[i] + "\n";
    return text;
}

// The texts of this test's DEBUG lines since `from`.
std::vector<std::string> debugTextsSince(size_t from)
{
    std::vector<std::string> lines = test::decodedCapture(), texts;
    const std::string marker = std::string("\t") + kModule + "\t";
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].find(marker) == std::string::npos || lines[i].find("\tDEBUG\t") == std::string::npos)
            continue;
        texts.push_back(lines[i].substr(lines[i].rfind('\t') + 1));
    }
    return texts;
}

class InfSearch : public ::testing::Test {
protected:
    TsSetupApi search(Version ownVersion = Version()) { return TsSetupApi(ownVersion, kModule, m_system); }

    FakeInfSystem m_system;
};

TEST_F(InfSearch, ShortListIsTakenFromTheFirstTry)
{
    m_system.listing = {L"oem1.inf", L"netrtx.inf", L"machine.inf"};
    std::vector<wchar_t> list(5, L'x');
    search().getCachedInfList(list);
    ASSERT_EQ(1u, m_system.calls.size());
    EXPECT_EQ(1024u, m_system.calls[0].bufferSize);
    EXPECT_TRUE(m_system.calls[0].zeroed);
    EXPECT_EQ(m_system.listing, namesOf(list.data()));
}

TEST_F(InfSearch, LongListIsFetchedAgainAtTheSizeItReports)
{
    for (int number = 0; number < 120; ++number)
        m_system.listing.push_back(oemName(number));
    std::vector<wchar_t> list;
    search().getCachedInfList(list);
    ASSERT_EQ(2u, m_system.calls.size());
    EXPECT_EQ(1024u, m_system.calls[0].bufferSize);
    EXPECT_LT(1024u, m_system.calls[1].bufferSize);
    EXPECT_TRUE(m_system.calls[1].zeroed);
    EXPECT_EQ(m_system.listing, namesOf(list.data()));
}

TEST_F(InfSearch, ListOfExactlyTheFirstSizeIsFetchedAgain)
{
    // 93 names of 10 characters and their NULs, 92 of 11: 1023 characters, then the end.
    std::wstring name(10, L'a');
    for (int i = 0; i < 93; ++i)
        m_system.listing.push_back(name);
    std::vector<wchar_t> list;
    search().getCachedInfList(list);
    EXPECT_EQ(2u, m_system.calls.size());
    EXPECT_EQ(1024u, m_system.calls[1].bufferSize);
    EXPECT_EQ(93u, namesOf(list.data()).size());
}

TEST_F(InfSearch, FailedSecondFetchThrows)
{
    for (int number = 0; number < 120; ++number)
        m_system.listing.push_back(oemName(number));
    m_system.failingCall = 2;
    std::vector<wchar_t> list;
    try {
        search().getCachedInfList(list);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_STREQ("Unable to get list of all cached INF files", e.what());
    }
}

TEST_F(InfSearch, FailedFirstCallThatFitsIsNotLookedAt)
{
    m_system.listing = {L"oem1.inf"};
    m_system.failingCall = 1;
    std::vector<wchar_t> list;
    search().getCachedInfList(list);
    EXPECT_EQ(1u, m_system.calls.size());
    EXPECT_TRUE(namesOf(list.data()).empty());
}

TEST_F(InfSearch, UnknownClassHasAPlaceholderNameAndAWarning)
{
    TsSetupApi api = search();
    const size_t before = test::decodedCapture().size();
    EXPECT_EQ(L"TessalineDisplay", api.getClassName(kProductClass));
    EXPECT_TRUE(debugTextsSince(before).empty());
    EXPECT_EQ(L"<unknown-setup-class>", api.getClassName(kDisplayClass));
    EXPECT_EQ(std::vector<std::string>{"WARNING! Unable to get name of device-setup-class-guid, probably not installed"},
              debugTextsSince(before));
    EXPECT_NE(std::string::npos, logSince(before).find("probably not installed\n\n")) << "ends with a line feed";
}

TEST_F(InfSearch, InfPathIsInTheInfFolderOfTheWindowsFolder)
{
    TsSetupApi api = search();
    EXPECT_EQ(L"C:\\windows\\inf\\oem7.inf", api.getInfPath(L"oem7.inf"));
    m_system.windows = L"D:\\";
    EXPECT_EQ(L"D:\\inf\\OEM7.INF", api.getInfPath(L"OEM7.INF"));
}

// INF files in a Windows folder of the test's own, their classes in the fake SetupAPI.
class InfSearchFilters : public InfSearch {
protected:
    void SetUp() override
    {
        m_system.windows = m_temp.path;
        CreateDirectoryW((m_temp.path + L"\\inf").c_str(), nullptr);
    }

    void add(const std::wstring& name, const GUID* infClass, const std::string& text = "")
    {
        m_system.listing.push_back(name);
        if (infClass)
            m_system.classes[name] = *infClass;
        if (!text.empty())
            test::writeFile(m_temp.path + L"\\inf\\" + name, text);
    }
    std::wstring path(const std::wstring& name) const { return m_temp.path + L"\\inf\\" + name; }

    // The product's packages and what each filter must tell apart.
    void addMixedFolder()
    {
        const std::string product = "[Version]\r\nProvider=%Mfg%\r\nDriverVer=10/15/2014,7.4.50415.0\r\n"
                                    "[Services]\r\nAddService=tsusbvid\r\n[Strings]\r\nMfg=\"Tessaline Inc.\"\r\n";
        const GUID none = {};
        add(L"OEM12.INF", &kProductClass, product);
        add(L"netrtx.inf", &kProductClass, product);
        add(L"oem1.inf", &kDisplayClass, product);
        add(L"oem2.inf", nullptr, product); // its class cannot be read
        add(L"oem3.inf", &none, product);
        add(L"oem4.inf", &kProductClass, "[Version]\r\nProvider=Tessaline\r\nAddService=tsusbvid\r\n"); // no DriverVer
        add(L"oem5.inf", &kProductClass, "Provider=Other Corp\r\nDriverVer=01/01/2010,1.0.0.0\r\nAddService=tsusbvid\r\n");
        add(L"oem6.inf", &kProductClass, "Provider=Tessaline\r\nDriverVer=01/01/2010,1.0.0.0\r\nAddService=other\r\n");
        add(L"oem7.inf", &kProductClass, "; Provider in Strings\r\nAddService=tsusbvid\r\n");
        add(L"oe", &kProductClass);
    }
    std::vector<wchar_t> list() const
    {
        std::vector<wchar_t> list;
        for (const std::wstring& name : m_system.listing)
            list.insert(list.end(), name.c_str(), name.c_str() + name.size() + 1);
        list.push_back(L'\0');
        return list;
    }

    const test::TempFolder m_temp{L"infsearch"};
};

TEST_F(InfSearchFilters, NamesAndProviderNarrowTheProductsOemFiles)
{
    addMixedFolder();
    std::vector<std::wstring> found = {L"stale"};
    const size_t before = test::decodedCapture().size();
    search().findInfFiles(list().data(), kProductClass, false, {L"tsusbvid"}, L"Tessaline", found);
    EXPECT_EQ((std::vector<std::wstring>{path(L"OEM12.INF"), path(L"oem4.inf")}), found);
    const std::vector<std::string> expected = {
        "Removing Class 'TessalineDisplay' Tessaline cached INF files from the system ...",
        "Unable to find Provider in: " + test::narrow(path(L"oem7.inf")),
        "Processed 3 inf files, skipped 7",
    };
    EXPECT_EQ(expected, debugTextsSince(before));
    EXPECT_NE(std::string::npos, logSince(before).find("Processed 3 inf files, skipped 7\n\n")) << "ends with a line feed";
}

TEST_F(InfSearchFilters, VersionCheckAgainstZeroKeepsOnlyFilesWithoutDriverVer)
{
    addMixedFolder();
    std::vector<std::wstring> found;
    const size_t before = test::decodedCapture().size();
    search(Version()).findInfFiles(list().data(), kProductClass, true, {}, L"", found);
    EXPECT_EQ((std::vector<std::wstring>{path(L"oem4.inf"), path(L"oem7.inf")}), found);
    const std::vector<std::string> expected = {
        "Removing Class 'TessalineDisplay'  cached INF files from the system ...",
        "WARNING! file not deleted, file is newer version then cleaner itself: 7.4.50415.0 > 0.0.0.0",
        "WARNING! file not deleted, file is newer version then cleaner itself: 1.0.0.0 > 0.0.0.0",
        "WARNING! file not deleted, file is newer version then cleaner itself: 1.0.0.0 > 0.0.0.0",
        "Processed 3 inf files, skipped 7",
    };
    EXPECT_EQ(expected, debugTextsSince(before));
}

TEST_F(InfSearchFilters, VersionCheckLeavesOutOnlyHigherVersions)
{
    addMixedFolder();
    std::vector<std::wstring> found;
    search(Version(7, 4, 50415, 0)).findInfFiles(list().data(), kProductClass, true, {}, L"", found);
    EXPECT_EQ(5u, found.size());
    search(Version(7, 4, 50414, 9)).findInfFiles(list().data(), kProductClass, true, {}, L"", found);
    EXPECT_EQ((std::vector<std::wstring>{path(L"oem4.inf"), path(L"oem5.inf"), path(L"oem6.inf"), path(L"oem7.inf")}),
              found);
}

TEST_F(InfSearchFilters, UnknownClassStillSearchesAndEmptyListCountsNothing)
{
    const GUID none = {};
    add(L"oem1.inf", &kDisplayClass, "Provider=x\r\n");
    std::vector<std::wstring> found = {L"stale"};
    const size_t before = test::decodedCapture().size();
    search().findInfFiles(list().data(), kDisplayClass, false, {}, L"", found);
    EXPECT_EQ(std::vector<std::wstring>{path(L"oem1.inf")}, found);
    std::vector<std::string> texts = debugTextsSince(before);
    ASSERT_EQ(3u, texts.size());
    EXPECT_EQ("WARNING! Unable to get name of device-setup-class-guid, probably not installed", texts[0]);
    EXPECT_EQ("Removing Class '<unknown-setup-class>'  cached INF files from the system ...", texts[1]);
    EXPECT_EQ("Processed 1 inf files, skipped 0", texts[2]);

    const wchar_t empty[] = L"\0";
    search().findInfFiles(empty, none, false, {}, L"", found);
    EXPECT_TRUE(found.empty());
    EXPECT_EQ("Processed 0 inf files, skipped 0", debugTextsSince(before).back());
}

} // namespace
}}} // namespace ts::tk::cleaner
