#include "sys/libutils/setuprunlog.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace ts::sys;
using ts::test::readFile;

TEST(SetupRunLog, LineFormat)
{
    EXPECT_EQ("[00:00:00.016] INFO   \tStart Tessaline Setup", formatRunLogLine(16, 4, "Start Tessaline Setup"));
    EXPECT_EQ("[01:02:03.004] ERROR  \tx", formatRunLogLine(3723004, 2, "x"));
    EXPECT_EQ("[100:00:00.000] VERBOSE\t", formatRunLogLine(360000000, 6, ""));
}

TEST(SetupRunLog, AppendsAndBracketsTheRun)
{
    const ts::test::TempFolder temp(L"runlog");
    const std::wstring& dir = temp.path;
    std::string path = ts::test::narrow(dir) + "\\run.log";
    ts::test::writeFile(ts::test::widen(path), "earlier line\r\n");
    {
        SetupRunLog log;
        log.open(ts::test::widen(path));
        log.write(2, "something failed");
        // Another reader and writer may have the file open meanwhile.
        EXPECT_NE("", readFile(ts::test::widen(path)));
        log.close();
        log.write(4, "after close");
        log.close();
    }
    std::string text = readFile(ts::test::widen(path));
    EXPECT_EQ(0u, text.find("earlier line\r\n["));
    EXPECT_NE(std::string::npos, text.find("] INFO   \tStart Tessaline Setup\r\n"));
    EXPECT_NE(std::string::npos, text.find("] ERROR  \tsomething failed\r\n"));
    EXPECT_EQ(text.size() - strlen("Stop Tessaline Setup\r\n"), text.rfind("Stop Tessaline Setup\r\n"));
    EXPECT_EQ(std::string::npos, text.find("after close"));
}

TEST(SetupRunLog, MissingFolderDropsLinesSilently)
{
    SetupRunLog log;
    log.open(L"Z:\\no\\such\\folder\\run.log");
    EXPECT_FALSE(log.isOpen());
    log.write(2, "dropped");
    log.close();
}
