#include "tk/libcleaner/inftext.h"
#include "tk/libcleaner/systemio.h"

#include "support/inffixtures.h"
#include "support/testsupport.h"
#include "unit/sys/testlogger.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ts { namespace tk { namespace cleaner {
namespace {

using sys::Version;

const bool kLoggerReady = (test::testLogger(), true);

struct ReaderProbe : sys::Logger::Logged {
    ReaderProbe() : Identity("InfReaderTest", ""), sys::Logger::Logged(test::testLogger(), "InfReaderTest", "") {}
};

Version driverVersionOf(const std::string& text)
{
    std::istringstream in(text);
    return findDriverVersionText(in);
}

InfProviderText providerOf(const std::string& text)
{
    std::istringstream in(text);
    return findProviderText(in);
}

bool mentions(const std::string& text, const std::vector<std::wstring>& names)
{
    std::istringstream in(text);
    return textMentionsAny(in, names);
}

// The captured log lines from `from` on that hold `text`.
std::vector<std::string> logLinesWith(size_t from, const std::string& text)
{
    std::vector<std::string> lines = test::decodedCapture(), found;
    for (size_t i = from; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos)
            found.push_back(lines[i]);
    return found;
}

TEST(InfDriverVersion, TakesTheVersionAfterTheComma)
{
    EXPECT_EQ(Version(7, 4, 50415, 0), driverVersionOf("[Version]\nDriverVer=10/15/2014,7.4.50415.0\n"));
    EXPECT_EQ(Version(7, 4, 50415, 0), driverVersionOf("[Version]\r\nDriverVer = 10/15/2014, 7.4.50415.0 \t \r\n"));
    EXPECT_EQ(Version(7, 4, 50415, 0), driverVersionOf("DriverVer=10/15/2014,7.4.50415.0"));
    // The last comma counts; text after the fourth number is ignored.
    EXPECT_EQ(Version(1, 2, 3, 4), driverVersionOf("DriverVer=10/15/2014,9.9.9.9,1.2.3.4 ; build 7\n"));
}

TEST(InfDriverVersion, IsZeroWithoutACommaOrAParsableVersion)
{
    EXPECT_EQ(Version(), driverVersionOf("DriverVer=10/15/2014\r\n"));
    EXPECT_EQ(Version(), driverVersionOf("DriverVer=10/15/2014,7.65536.0.0\r\n"));
    EXPECT_EQ(Version(), driverVersionOf("[Version]\nClass=Display\n"));
    EXPECT_EQ(Version(), driverVersionOf(""));
    // Case-sensitive.
    EXPECT_EQ(Version(), driverVersionOf("driverver=10/15/2014,7.4.50415.0\n"));
}

TEST(InfDriverVersion, ShortVersionsGetZeroParts)
{
    EXPECT_EQ(Version(10, 0, 10053, 0), driverVersionOf("DriverVer=04/02/2015,10.0.10053\r\n"));
    EXPECT_EQ(Version(7, 4, 0, 0), driverVersionOf("DriverVer=10/15/2014,7.4\r\n"));
}

TEST(InfDriverVersion, FirstLineMentioningDriverVerIsTakenEvenInAComment)
{
    EXPECT_EQ(Version(), driverVersionOf("; DriverVer is set by the build\nDriverVer=10/15/2014,7.4.50415.0\n"));
    EXPECT_EQ(Version(3, 0, 0, 0),
              driverVersionOf("; DriverVer format: date,3.0.0.0\nDriverVer=10/15/2014,7.4.50415.0\n"));
}

TEST(InfProvider, ValueAfterTheFirstEqualsSignIsKeptAsItIs)
{
    InfProviderText provider = providerOf("[Version]\r\nProvider = Tessaline=Graphics \r\nProvider=Second\r\n");
    EXPECT_EQ(L" Tessaline=Graphics \r", provider.text);
    EXPECT_FALSE(provider.unresolved);
}

TEST(InfProvider, TokenIsLookedUpInTheLinesAfterIt)
{
    const std::string inf = "[Version]\r\n"
                            "; Mfg is named in [Strings]\r\n"
                            "Provider=%Mfg%\r\n"
                            "[Strings]\r\n"
                            "Mfg=\"Tessaline Graphics Inc.\"\r\n";
    InfProviderText provider = providerOf(inf);
    EXPECT_EQ(L"\"Tessaline Graphics Inc.\"\r", provider.text);
    EXPECT_FALSE(provider.unresolved);
    // The provider filter of the package search looks for the maker's name inside it.
    EXPECT_NE(std::wstring::npos, provider.text.find(L"Tessaline"));
}

TEST(InfProvider, ProviderNameMatchesTheKeyToo)
{
    EXPECT_EQ(L"Other Corp", providerOf("ProviderName=Other Corp\nProvider=Tessaline\n").text);
}

TEST(InfProvider, NoValueGivesEmptyTextAndOnlyAnUnusableLineIsUnresolved)
{
    struct Case {
        const char* text;
        bool unresolved;
    };
    const Case cases[] = {
        {"; Provider comes later\nProvider=Tessaline\n", true}, // neither "=" nor "%"
        {"Provider=%Mfg\nMfg=Tessaline\n", true},                 // no closing "%"
        {"[Version]\nClass=Display\n", false},                   // no provider line
        {"Provider=%Mfg%\n[Strings]\nOther=x\n", false},          // the token is never defined
    };
    for (const Case& c : cases) {
        InfProviderText provider = providerOf(c.text);
        EXPECT_EQ(L"", provider.text) << c.text;
        EXPECT_EQ(c.unresolved, provider.unresolved) << c.text;
    }
    // The token's own line may hold another token: followed once more.
    EXPECT_EQ(L"Tessaline", providerOf("Provider=%Mfg%\nMfg=%Maker%\nMaker=Tessaline\n").text);
}

TEST(InfMentions, AnyNameAsCaseSensitiveSubstring)
{
    const std::string inf = "[Models]\r\n%Dev% = Install, USB\\VID_17E9&PID_0001\r\nServiceBinary=tsusbvid.sys\r\n";
    EXPECT_TRUE(mentions(inf, {L"nothing", L"tsusbvid"}));
    EXPECT_TRUE(mentions(inf, {L"VID_17E9"}));
    EXPECT_FALSE(mentions(inf, {L"TSUSBVID", L"vid_17e9"}));
    EXPECT_FALSE(mentions(inf, {}));
    EXPECT_FALSE(mentions("", {L"tsusbvid"}));
}

TEST(InfMentions, EachByteIsOneCharacter)
{
    // Latin-1 é is the character 0xE9; the two UTF-8 bytes of é are two characters.
    EXPECT_TRUE(mentions("Provider=Caf\xE9\n", {L"Caf\u00E9"}));
    EXPECT_FALSE(mentions("Provider=Caf\xC3\xA9\n", {L"Caf\u00E9"}));
    EXPECT_TRUE(mentions("Provider=Caf\xC3\xA9\n", {L"Caf\u00C3\u00A9"}));
}

class InfFileReaders : public ::testing::Test {
protected:
    std::wstring write(const wchar_t* name, const std::string& content)
    {
        std::wstring path = m_temp.path + L"\\" + name;
        test::writeFile(path, content);
        return path;
    }

    const test::TempFolder m_temp{L"infread"};
    ReaderProbe m_probe;
};

TEST_F(InfFileReaders, ReadTheFileWithItsCarriageReturns)
{
    std::wstring path = write(L"oem3.inf", "[Version]\r\nProvider=%Mfg%\r\nDriverVer = 10/15/2014, 7.4.50415.0 \r\n"
                                           "[Strings]\r\nMfg=\"Tessaline\"\r\n");
    EXPECT_TRUE(infMentionsAny(path, {L"[Strings]\r"}));
    EXPECT_EQ(L"\"Tessaline\"\r", readInfProvider(path, m_probe));
    EXPECT_EQ(Version(7, 4, 50415, 0), readInfDriverVersion(path));
}

TEST_F(InfFileReaders, Utf16AndUtf8WithTheirMarksReadAsTheAnsiForm)
{
    const std::string ansi = "[Version]\r\nProvider=Caf\xE9\r\nDriverVer=01/15/2015,10.0.9908.0\r\n";
    const std::string utf8 = "\xEF\xBB\xBF[Version]\r\nProvider=Caf\xC3\xA9\r\nDriverVer=01/15/2015,10.0.9908.0\r\n";
    for (const std::string& text : {ansi, test::utf16WithMark(ansi), utf8}) {
        std::wstring path = write(L"oem4.inf", text);
        EXPECT_TRUE(infMentionsAny(path, {L"[Version]\r"}));
        EXPECT_EQ(L"Caf\u00E9\r", readInfProvider(path, m_probe));
        EXPECT_EQ(Version(10, 0, 9908, 0), readInfDriverVersion(path));
    }
    // Without its mark UTF-16 is read byte by byte and matches nothing.
    EXPECT_EQ(L"", readInfProvider(write(L"oem4.inf", test::utf16WithMark(ansi).substr(2)), m_probe));
}

TEST_F(InfFileReaders, MissingFileReadsAsEmptyWithoutMessage)
{
    const size_t before = test::decodedCapture().size();
    std::wstring path = m_temp.path + L"\\absent.inf";
    EXPECT_FALSE(infMentionsAny(path, {L""}));
    EXPECT_EQ(L"", readInfProvider(path, m_probe));
    EXPECT_EQ(Version(), readInfDriverVersion(path));
    EXPECT_TRUE(logLinesWith(before, "Unable to find Provider").empty());
}

TEST_F(InfFileReaders, UnresolvedProviderIsLoggedAtDebugWithThePath)
{
    std::wstring path = write(L"oem5.inf", "[Version]\r\n; Provider: see Strings\r\nProvider=Tessaline\r\n");
    const size_t before = test::decodedCapture().size();
    EXPECT_EQ(L"", readInfProvider(path, m_probe));
    std::vector<std::string> lines = logLinesWith(before, "Unable to find Provider in: ");
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("\tInfReaderTest\t")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("\tDEBUG\t")) << lines[0];
    const std::string expected = "Unable to find Provider in: " + test::narrow(path);
    EXPECT_EQ(expected, lines[0].substr(lines[0].size() - expected.size())) << lines[0];

    // A resolved provider says nothing.
    std::wstring good = write(L"oem6.inf", "Provider=Tessaline\r\n");
    const size_t after = test::decodedCapture().size();
    EXPECT_EQ(L"Tessaline\r", readInfProvider(good, m_probe));
    EXPECT_TRUE(logLinesWith(after, "Unable to find Provider").empty());
}

} // namespace
}}} // namespace ts::tk::cleaner
