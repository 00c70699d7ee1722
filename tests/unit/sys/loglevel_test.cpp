#include "sys/libutils/logger.h"
#include "sys/libutils/setuprunlog.h"

#include <gtest/gtest.h>

namespace ts { namespace sys {
namespace {

TEST(LogLevel, NamedLevelsAreTheNumbersOfTheirNames)
{
    const struct { int level; const char* name; } levels[] = {
        {LogLevel::Always, "ALWAYS"}, {LogLevel::Fatal, "FATAL"}, {LogLevel::Error, "ERROR"},
        {LogLevel::Warn, "WARN"},     {LogLevel::Info, "INFO"},   {LogLevel::Debug, "DEBUG"},
        {LogLevel::Verbose, "VERBOSE"},
    };
    int expected = 0;
    for (const auto& entry : levels) {
        EXPECT_EQ(expected++, entry.level) << entry.name;
        EXPECT_STREQ(entry.name, levelName(entry.level));
        EXPECT_EQ(entry.level, parseLevel(entry.name, -1));
    }
    EXPECT_EQ(LogLevel::Count, expected);
    EXPECT_STREQ("", levelName(LogLevel::Count));
}

}
}} // namespace ts::sys
