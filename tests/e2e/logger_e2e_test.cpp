#include "support/testsupport.h"

#include "sys/libutils/logreader.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <set>
#include <sstream>

namespace {

std::set<std::wstring> setupLogs()
{
    return ts::test::tempNames(L"TSS????.log");
}

} // namespace

TEST(SetupLog, ARunLeavesAnEncipheredLogWhoseEveryLineDecodesBannerFirst)
{
    std::set<std::wstring> before = setupLogs();
    ts::test::ProcessResult result =
        ts::test::runProcess(L"\"" + ts::test::buildDir() + L"\\bin\\Setup.exe\" /noSuchOption");
    ASSERT_TRUE(result.started);
    EXPECT_EQ(1u, result.exitCode);

    std::wstring created;
    for (const std::wstring& name : setupLogs())
        if (!before.count(name))
            created = name;
    ASSERT_FALSE(created.empty()) << "no new TSS????.log in the temporary folder";
    std::string content = ts::test::readFile(ts::test::tempPath() + created);
    DeleteFileW((ts::test::tempPath() + created).c_str());
    ASSERT_FALSE(content.empty());

    std::istringstream in(content);
    std::ostringstream out, errors;
    ts::sys::logreader::LogReader reader(out, errors);
    reader.beginInput("setup log");
    size_t encoded = 0;
    for (std::string line; std::getline(in, line); ++encoded) {
        EXPECT_EQ(std::string::npos, line.find_first_not_of(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\r"));
        reader.line(line);
    }
    EXPECT_EQ(0u, reader.failures()) << errors.str();
    std::istringstream text(out.str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_EQ(encoded, lines.size());
    for (const std::string& line : lines) {
        EXPECT_TRUE(ts::sys::logreader::isPlausibleLine(line)) << line;
        EXPECT_EQ(12u, line.find('\t')) << line; // full form: "HH:MM:SS.mmm\t..."
    }
    std::string module = ts::tk::gui::resource::toNarrow(created.substr(0, 7));
    EXPECT_NE(std::string::npos, lines[0].find("\t\t" + module + "\t")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("\tALWAYS\tlogger.cpp:")) << lines[0];
    EXPECT_NE(std::string::npos,
              lines[0].find("\tVersion 7.9.1488.0. Built by Build Server, at ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(". Started at ")) << lines[0];
}
