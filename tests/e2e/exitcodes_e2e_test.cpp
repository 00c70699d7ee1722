// Administrators deploy by the README's exit code table. It is the one source: every code
// Setup returns in this suite must be in it with what a deployment tool should do, and a
// run of the whole suite must have seen every code in it.
#include "app/setup/mainflow.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace ts { namespace test {
namespace {

using namespace app::setupInstall;

struct Row {
    std::string meaning;
    std::string deployment;
};

std::string trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r");
    size_t last = text.find_last_not_of(" \t\r");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The rows of the table under the README's heading "Exit codes", by code.
std::map<uint32_t, Row> readmeExitCodes()
{
    std::istringstream in(readFile(sourceDir() + L"\\README.md"));
    std::map<uint32_t, Row> rows;
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (line.rfind("#", 0) == 0) {
            inSection = trimmed(line.substr(line.find_first_not_of('#'))) == "Exit codes";
            continue;
        }
        if (!inSection || line.rfind("| ", 0) != 0)
            continue;
        std::vector<std::string> cells;
        std::istringstream cellsIn(line.substr(1));
        for (std::string cell; std::getline(cellsIn, cell, '|');)
            cells.push_back(trimmed(cell));
        if (cells.empty() || cells[0].empty() || !std::all_of(cells[0].begin(), cells[0].end(), ::isdigit))
            continue;
        rows[static_cast<uint32_t>(std::stoul(cells[0]))] =
            Row{cells.size() > 1 ? cells[1] : "", cells.size() > 2 ? cells[2] : ""};
    }
    return rows;
}

// Every code Setup has (mainflow.h) is documented, with something for a deployment tool
// to do; the codes whose handling administrators rely on say so.
TEST(ExitCodeTable, ListsEveryCodeOfSetupWithWhatToDo)
{
    const std::map<uint32_t, Row> rows = readmeExitCodes();
    std::vector<uint32_t> documented;
    for (const auto& row : rows) {
        documented.push_back(row.first);
        EXPECT_FALSE(row.second.meaning.empty()) << row.first;
        EXPECT_FALSE(row.second.deployment.empty()) << row.first << " has no deployment action";
    }
    const std::vector<uint32_t> setupCodes = {ExitSuccess,        ExitFailure,   ExitNotAdministrator,
                                              ExitAlreadyRunning, ExitUnsupportedOs, ExitNotSigned,
                                              ExitRestartRequired, ExitUpToDate};
    std::vector<uint32_t> sorted = setupCodes;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, documented);
    if (rows.size() != setupCodes.size())
        return;
    EXPECT_NE(std::string::npos, lower(rows.at(ExitSuccess).deployment).find("success"));
    EXPECT_NE(std::string::npos, lower(rows.at(ExitUpToDate).deployment).find("success"));
    EXPECT_NE(std::string::npos, lower(rows.at(ExitRestartRequired).deployment).find("restart"));
    EXPECT_NE(std::string::npos, lower(rows.at(ExitAlreadyRunning).deployment).find("retry later"));
    for (uint32_t code : {ExitNotAdministrator, ExitUnsupportedOs, ExitNotSigned})
        EXPECT_NE(std::string::npos, lower(rows.at(code).deployment).find("do not retry")) << code;
}

// After the last test: what Setup really returned against the table.
class ObservedExitCodes : public ::testing::Environment {
public:
    void TearDown() override
    {
        const std::map<uint32_t, Row> rows = readmeExitCodes();
        const std::map<uint32_t, std::string>& observed = observedSetupExitCodes();
        for (const auto& code : observed)
            EXPECT_TRUE(rows.count(code.first))
                << "Setup returned " << code.first << " in " << code.second
                << ", which the README's exit code table does not list";
        const ::testing::UnitTest& suite = *::testing::UnitTest::GetInstance();
        if (suite.test_to_run_count() != suite.total_test_count())
            return;
        for (const auto& row : rows) {
            // Wine makes every user an administrator: Setup cannot be refused with 5 here.
            if (row.first == ExitNotAdministrator)
                continue;
            EXPECT_TRUE(observed.count(row.first))
                << "The README lists exit code " << row.first << ", which Setup returned in no end-to-end test";
        }
    }
};

const ::testing::Environment* const observedExitCodes = ::testing::AddGlobalTestEnvironment(new ObservedExitCodes);

} // namespace
}} // namespace ts::test
