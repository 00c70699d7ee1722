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

// The built Setup.exe's resources, loaded once for the program's life.
HMODULE setupModule()
{
    static const HMODULE module = LoadLibraryExW((ts::test::buildDir() + L"\\bin\\Setup.exe").c_str(), nullptr,
                                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    return module;
}

class SetupMessages : public ::testing::TestWithParam<Language> {};

} // namespace

TEST_P(SetupMessages, EveryMessageIsTranslatedAndTakesTheProductName)
{
    const HMODULE setup = setupModule();
    ASSERT_NE(nullptr, setup);
    const Language& language = GetParam();
    for (uint32_t id = 32; id <= 37; ++id) {
        std::wstring pattern = loadString(setup, id, L"<missing>", language.id);
        ASSERT_NE(L"<missing>", pattern) << language.name << " " << id;
        std::wstring english = loadString(setup, id, L"", 0x0409);
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

namespace {

// A user language of another country (or the bare language) and the language whose
// translation it must read.
struct Regional {
    const char* name;
    uint16_t id;
    uint16_t reads;
};

const Regional kRegionalLanguages[] = {
    {"EnglishBritain", 0x0809, 0x0409},   {"GermanAustria", 0x0C07, 0x0407},    {"GermanSwitzerland", 0x0807, 0x0407},
    {"FrenchCanada", 0x0C0C, 0x040C},     {"FrenchBelgium", 0x080C, 0x040C},    {"SpanishMexico", 0x080A, 0x0C0A},
    {"SpanishTraditionalSort", 0x040A, 0x0C0A}, {"ItalianSwitzerland", 0x0810, 0x0410},
    {"PortugueseNeutral", 0x0016, 0x0816}, {"DutchBelgium", 0x0813, 0x0413},    {"SwedishFinland", 0x081D, 0x041D},
    {"DanishNeutral", 0x0006, 0x0406},    {"NorwegianNynorsk", 0x0814, 0x0414}, {"FinnishNeutral", 0x000B, 0x040B},
    {"PolishNeutral", 0x0015, 0x0415},    {"CzechNeutral", 0x0005, 0x0405},     {"HungarianNeutral", 0x000E, 0x040E},
    {"RussianMoldova", 0x0819, 0x0419},   {"TurkishNeutral", 0x001F, 0x041F},   {"GreekNeutral", 0x0008, 0x0408},
    {"JapaneseNeutral", 0x0011, 0x0411},  {"KoreanNeutral", 0x0012, 0x0412},    {"ChineseSingapore", 0x1004, 0x0804},
    {"ChineseSimplifiedNeutral", 0x0004, 0x0804}, {"ChineseHongKong", 0x0C04, 0x0404},
    {"ChineseMacau", 0x1404, 0x0404},     {"ChineseTraditionalNeutral", 0x7C04, 0x0404},
    {"ArabicEgypt", 0x0C01, 0x0401},      {"ArabicEmirates", 0x3801, 0x0401},   {"HebrewNeutral", 0x000D, 0x040D},
    {"ThaiNeutral", 0x001E, 0x041E},
};

class RegionalMessages : public ::testing::TestWithParam<Regional> {};

} // namespace

TEST_P(RegionalMessages, ReadTheTranslationOfTheirLanguage)
{
    const HMODULE setup = setupModule();
    ASSERT_NE(nullptr, setup);
    for (uint32_t id = 32; id <= 37; ++id) {
        const std::wstring expected = loadString(setup, id, L"<missing>", GetParam().reads);
        ASSERT_NE(L"<missing>", expected) << id;
        EXPECT_EQ(expected, loadString(setup, id, L"<missing>", GetParam().id)) << GetParam().name << " " << id;
    }
}

INSTANTIATE_TEST_SUITE_P(Languages, RegionalMessages, ::testing::ValuesIn(kRegionalLanguages),
                         [](const ::testing::TestParamInfo<Regional>& info) { return info.param.name; });

TEST(CountryMessages, CountriesWithTheirOwnTextKeepIt)
{
    const HMODULE setup = setupModule();
    ASSERT_NE(nullptr, setup);
    // "Installing ..." differs between Brazil and Portugal, and between the two scripts.
    EXPECT_NE(loadString(setup, 34, L"", 0x0416), loadString(setup, 34, L"", 0x0816));
    EXPECT_NE(loadString(setup, 34, L"", 0x0804), loadString(setup, 34, L"", 0x0404));
    EXPECT_NE(loadString(setup, 34, L"", 0x0C04), loadString(setup, 34, L"", 0x1004));
    // A language without a translation gets the compiled-in English text, whatever
    // block the loader itself would offer (for the neutral language, the user's own).
    EXPECT_EQ(L"fallback", loadString(setup, 36, L"fallback", 0x0441)); // Swahili
    EXPECT_EQ(L"fallback", loadString(setup, 36, L"fallback", 0x0000));
}

TEST(ResourceStrings, LanguagesTriedForAUserLanguage)
{
    EXPECT_EQ((std::vector<uint16_t>{0x0C07, 0x0007}), stringTableLanguages(0x0C07));
    EXPECT_EQ((std::vector<uint16_t>{0x0407, 0x0007}), stringTableLanguages(0x0407));
    EXPECT_EQ((std::vector<uint16_t>{0x0007}), stringTableLanguages(0x0007));
    EXPECT_EQ((std::vector<uint16_t>{0x0000}), stringTableLanguages(0x0000));
    EXPECT_EQ((std::vector<uint16_t>{0x0C04, 0x0404}), stringTableLanguages(0x0C04));
    EXPECT_EQ((std::vector<uint16_t>{0x1404, 0x0404}), stringTableLanguages(0x1404));
    EXPECT_EQ((std::vector<uint16_t>{0x1004, 0x0804}), stringTableLanguages(0x1004));
    EXPECT_EQ((std::vector<uint16_t>{0x0404}), stringTableLanguages(0x0404));
    EXPECT_EQ((std::vector<uint16_t>{0x0004, 0x0804}), stringTableLanguages(0x0004));
}

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
