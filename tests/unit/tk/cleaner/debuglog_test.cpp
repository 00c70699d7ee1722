#include "tk/libcleaner/debuglog.h"
#include "tk/installer/libinstall/productdata.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <set>
#include <vector>

using namespace ts::tk::cleaner;

namespace {

std::vector<std::wstring> g_lines;
void collect(const std::wstring& line) { g_lines.push_back(line); }

class CleanerDebugLog : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lines.clear();
        m_previous = setDebugLogSink(&collect);
    }
    void TearDown() override
    {
        setDebugLogThreshold(0);
        setDebugLogSink(m_previous);
    }
    DebugLogSink m_previous = nullptr;
};

} // namespace

TEST_F(CleanerDebugLog, IsSilentUntilTheThresholdIsRaised)
{
    int built = 0;
    auto count = [&built] { ++built; return L"x"; };
    TS_CLEANER_LOG(Always, count());
    TS_CLEANER_LOG(Error, count());
    EXPECT_TRUE(g_lines.empty());
    EXPECT_EQ(0, built) << "texts are built only for lines that are written";
}

TEST_F(CleanerDebugLog, WritesLinesUpToTheThresholdWithTheirLevelName)
{
    setDebugLogThreshold(static_cast<int>(DebugLevel::Info));
    TS_CLEANER_LOG(Warn, L"Unable to read Products key for user id ", std::wstring(L"S-1-5-18"));
    TS_CLEANER_LOG(Info, "Processed ", 12, L" inf files, skipped ", 3u);
    TS_CLEANER_LOG(Debug, L"not written");
    ASSERT_EQ(2u, g_lines.size());
    EXPECT_EQ(L"WARN: Unable to read Products key for user id S-1-5-18\n", g_lines[0]);
    EXPECT_EQ(L"INFO: Processed 12 inf files, skipped 3\n", g_lines[1]);
}

TEST_F(CleanerDebugLog, NamesEveryLevel)
{
    const wchar_t* expected[] = {L"LOGNEVER", L"ALWAYS", L"FATAL", L"ERROR", L"WARN", L"INFO", L"DEBUG", L"VERBOSE"};
    for (int level = 0; level < 8; ++level)
        EXPECT_STREQ(expected[level], debugLevelName(static_cast<DebugLevel>(level)));
}

TEST(CleanupProductData, UpgradeCodesAreDistinctRegistryTextsEndedByAnEmptyEntry)
{
    using ts::tk::install::kLegacyUpgradeCodes;
    std::set<std::wstring> seen;
    for (int i = 0; i < 35; ++i) {
        const std::wstring code = kLegacyUpgradeCodes[i];
        ASSERT_EQ(38u, code.size()) << i;
        EXPECT_EQ(L'{', code.front());
        EXPECT_EQ(L'}', code.back());
        for (size_t k = 1; k < 37; ++k) {
            if (k == 9 || k == 14 || k == 19 || k == 24)
                EXPECT_EQ(L'-', code[k]) << i;
            else
                EXPECT_TRUE(std::iswxdigit(code[k]) && !std::iswupper(code[k])) << i;
        }
        EXPECT_TRUE(seen.insert(code).second) << "duplicate " << i;
    }
    EXPECT_STREQ(L"", kLegacyUpgradeCodes[35]);
}
