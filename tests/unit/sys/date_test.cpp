#include "sys/libutils/date.h"
#include "testlogger.h"

#include <gtest/gtest.h>

using ts::sys::Date;

namespace {

// Lines of the ts::sys::Date module at ERROR that end in `text` (the reader drops
// trailing blanks).
int dateErrors(std::string text)
{
    text.erase(text.find_last_not_of(' ') + 1);
    const std::string ending = "\t" + text;
    int count = 0;
    for (const std::string& line : ts::test::decodedCapture())
        if (line.find("\tts::sys::Date\t") != std::string::npos &&
            line.find("\tERROR\tdate.cpp:") != std::string::npos && line.size() >= ending.size() &&
            line.compare(line.size() - ending.size(), std::string::npos, ending) == 0)
            ++count;
    return count;
}

struct Expected {
    const char* text;
    int day, month, year;
    const char* error; // the ERROR line's text, or null
};

} // namespace

TEST(Date, ParseCases)
{
    ts::test::testLogger();
    const Expected cases[] = {
        {"03/07/2015", 3, 6, 115, nullptr},
        {"3.7.2015", 3, 6, 115, nullptr},
        {"31-12-1999", 31, 11, 99, nullptr},
        {"29/02/2015", 29, 1, 115, nullptr}, // leap years are not told apart
        {"30/04/2015", 30, 3, 115, nullptr},
        {"31/04/2015", 1, 3, 115, "Invalid day of month: 31"},
        {"30/02/2016", 1, 1, 116, "Invalid day of month: 30"},
        {"31/09/2015", 1, 8, 115, "Invalid day of month: 31"},
        {"00/01/2015", 1, 0, 115, "Invalid day of month: 0"},
        {"2015-07-03", 1, 6, -1897, "Invalid day of month: 2015"},
        {"05/13/2015", 5, 0, 115, "Invalid month: 13"},
        {"05/00/2015", 5, 0, 115, "Invalid month: 0"},
        {"31/00/2015", 31, 0, 115, "Invalid month: 0"}, // January has 31 days
        {"", 0, 0, 0, "Date parse error: "},
        {"03/07", 0, 0, 0, "Date parse error: 03/07"},
        {"03/07/2015/1", 0, 0, 0, "Date parse error: 03/07/2015/1"},
        {"03//2015", 0, 0, 0, "Date parse error: 03//2015"},
        {"3 /7/2015", 0, 0, 0, "Date parse error: 3 /7/2015"},
        {"aa/07/2015", 0, 0, 0, "Date parse error: aa/07/2015"},
        {"03/07/99999999999", 0, 0, 0, "Date parse error: 03/07/99999999999"},
    };
    for (const Expected& c : cases) {
        const int before = c.error ? dateErrors(c.error) : 0;
        Date date(c.text);
        EXPECT_EQ(c.day, date.day()) << c.text;
        EXPECT_EQ(c.month, date.month()) << c.text;
        EXPECT_EQ(c.year, date.year()) << c.text;
        EXPECT_EQ(0, date.get().tm_hour + date.get().tm_min + date.get().tm_sec + date.get().tm_wday +
                         date.get().tm_yday + date.get().tm_isdst)
            << c.text;
        if (c.error) {
            EXPECT_EQ(before + 1, dateErrors(c.error)) << c.text;
        }
    }
}

TEST(Date, ValidDatesWriteNoLine)
{
    ts::test::testLogger();
    const size_t before = ts::test::decodedCapture().size();
    Date a("03/07/2015"), b("29/02/2015"), c("31/12/2015");
    EXPECT_EQ(before, ts::test::decodedCapture().size());
}

TEST(Date, DefaultIsZero)
{
    Date date;
    EXPECT_EQ(0, date.day());
    EXPECT_EQ(0, date.month());
    EXPECT_EQ(0, date.year());
}
