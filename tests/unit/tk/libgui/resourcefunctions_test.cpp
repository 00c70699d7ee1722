#include "unit/sys/testlogger.h"
#include "support/testsupport.h"

#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>

using namespace ts::tk::gui::resource;

namespace {

const bool kLoggerReady = (ts::test::testLogger(), true);

struct Language {
    const char* name;
    uint16_t id;
};

const Language kLanguages[] = {
    {"English", 0x0409},     {"German", 0x0407},         {"French", 0x040C},      {"Spanish", 0x0C0A},
    {"Italian", 0x0410},     {"PortugueseBR", 0x0416},   {"PortuguesePT", 0x0816}, {"Dutch", 0x0413},
    {"Swedish", 0x041D},     {"Danish", 0x0406},         {"Norwegian", 0x0414},   {"Finnish", 0x040B},
    {"Polish", 0x0415},      {"Czech", 0x0405},          {"Hungarian", 0x040E},   {"Russian", 0x0419},
    {"Turkish", 0x041F},     {"Greek", 0x0408},          {"Japanese", 0x0411},    {"Korean", 0x0412},
    {"ChineseSimplified", 0x0804}, {"ChineseTraditional", 0x0404}, {"Arabic", 0x0401}, {"Hebrew", 0x040D},
    {"Thai", 0x041E},
};

class SetupMessages : public ::testing::TestWithParam<Language> {
protected:
    static void SetUpTestSuite()
    {
        s_setup = LoadLibraryExW((ts::test::buildDir() + L"\\bin\\Setup.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite()
    {
        if (s_setup)
            FreeLibrary(s_setup);
    }
    static HMODULE s_setup;
};
HMODULE SetupMessages::s_setup = nullptr;

} // namespace

TEST_P(SetupMessages, EveryMessageIsTranslatedAndTakesTheProductName)
{
    ASSERT_NE(nullptr, s_setup);
    const Language& language = GetParam();
    for (uint32_t id = 32; id <= 37; ++id) {
        std::wstring pattern = loadString(s_setup, id, L"<missing>", language.id);
        ASSERT_NE(L"<missing>", pattern) << language.name << " " << id;
        std::wstring english = loadString(s_setup, id, L"", 0x0409);
        if (language.id != 0x0409) {
            EXPECT_NE(english, pattern) << language.name << " " << id;
        }
        if (id != 37) {
            EXPECT_NE(std::wstring::npos, pattern.find(L"%1")) << language.name << " " << id;
            std::wstring text = formatMessage(pattern, L"Gizmo 3000");
            EXPECT_NE(std::wstring::npos, text.find(L"Gizmo 3000")) << language.name << " " << id;
            EXPECT_EQ(std::wstring::npos, text.find(L"%1")) << language.name << " " << id;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, SetupMessages, ::testing::ValuesIn(kLanguages),
                         [](const ::testing::TestParamInfo<Language>& info) { return info.param.name; });

TEST(ResourceStrings, MissingTablesGiveTheFallback)
{
    // This test program carries no string table.
    EXPECT_EQ(L"Install %1 software", loadString(32, L"Install %1 software", 0x0409));
    EXPECT_EQ(L"", loadString(0));
}

TEST(ResourceStrings, FormatMessageFillsInsertsOnce)
{
    EXPECT_EQ(L"Install Gizmo software", formatMessage(L"Install %1 software", L"Gizmo"));
    EXPECT_EQ(L"a %1 b", formatMessage(L"a %1 b", L"%1"));
}

TEST(TextConversion, NonAsciiBecomesQuestionMarksOrDecimalValues)
{
    EXPECT_EQ("caf?", toNarrow(L"caf\u00E9"));
    EXPECT_EQ("a?b", toNarrow(L"a\U0001F600b")); // a surrogate pair is one character
    EXPECT_EQ("caf233", logText(L"caf\u00E9"));
    EXPECT_EQ("x5535756832y", logText(L"x\U0001F600y")); // both units, in order
    EXPECT_EQ(L"\u00E9t\u00E9", toWide("\xE9t\xE9"));
}

TEST(OpenUrl, UnknownProtocolReturnsZeroAndWarns)
{
    struct Reporter : ts::sys::Logger::Logged {
        Reporter() : Identity("UrlReporter", ""), Logged(ts::test::testLogger(), "UrlReporter", "") {}
    } reporter;
    EXPECT_EQ(0u, OpenURL(&reporter, L"tsnoprotocol-xyz:nothing"));
    EXPECT_TRUE(ts::test::captureContains("\tWARN\tresourcefunctions.cpp:"));
    EXPECT_TRUE(ts::test::captureContains(
        "\tts::tk::gui::resource::OpenURLUnable to open URL: tsnoprotocol-xyz:nothing : "));
    EXPECT_TRUE(ts::test::captureContains(", win32 0x"));
    EXPECT_EQ(0u, OpenURL(nullptr, L"tsnoprotocol-xyz:nothing"));
}
