#include "sys/libutils/date.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>
#include <cstring>

namespace ts { namespace sys {

namespace {

int daysInMonth(int month)
{
    switch (month) {
    case 1:
        return 29; // leap years are not told apart
    case 3: case 5: case 8: case 10:
        return 30;
    default:
        return 31;
    }
}

} // namespace

DateFields parseDate(const std::string& text)
{
    DateFields out;
    std::memset(&out.tm, 0, sizeof out.tm);
    std::vector<std::string> parts;
    boost::split(parts, text, boost::is_any_of("./-"));
    int day = 0, month = 0, year = 0;
    try {
        if (parts.size() != 3)
            throw boost::bad_lexical_cast();
        day = boost::lexical_cast<int>(parts[0]);
        month = boost::lexical_cast<int>(parts[1]);
        year = boost::lexical_cast<int>(parts[2]);
    } catch (const boost::bad_lexical_cast&) {
        out.errors.push_back("Date parse error: " + text);
        return out;
    }
    std::tm& tm = out.tm;
    tm.tm_mday = day;
    tm.tm_mon = month - 1;
    tm.tm_year = year - 1900;
    if (tm.tm_mon < 0 || tm.tm_mon > 11) {
        out.errors.push_back("Invalid month: " + std::to_string(month));
        tm.tm_mon = 0;
    }
    if (tm.tm_mday < 1 || tm.tm_mday > daysInMonth(tm.tm_mon)) {
        out.errors.push_back("Invalid day of month: " + std::to_string(day));
        tm.tm_mday = 1;
    }
    return out;
}

}} // namespace ts::sys
