#include "sys/libutils/date.h"

#include "sys/libutils/logger.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast.hpp>
#include <cstring>
#include <vector>

namespace ts { namespace sys {

namespace {

struct DateLogger : Logger::Logged {
    DateLogger() : Identity("ts::sys::Date", ""), Logger::Logged(Logger::instance(), "ts::sys::Date", "") {}
};

const Logger::Logged& dateLogger()
{
    static DateLogger logger;
    return logger;
}

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

Date::Date()
{
    std::memset(&m_tm, 0, sizeof m_tm);
}

Date::Date(const std::string& text) : Date()
{
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
        TS_LOG(dateLogger(), LogLevel::Error) << "Date parse error: " << text;
        return;
    }
    m_tm.tm_mday = day;
    m_tm.tm_mon = month - 1;
    m_tm.tm_year = year - 1900;
    if (m_tm.tm_mon < 0 || m_tm.tm_mon > 11) {
        TS_LOG(dateLogger(), LogLevel::Error) << "Invalid month: " << month;
        m_tm.tm_mon = 0;
    }
    if (m_tm.tm_mday < 1 || m_tm.tm_mday > daysInMonth(m_tm.tm_mon)) {
        TS_LOG(dateLogger(), LogLevel::Error) << "Invalid day of month: " << day;
        m_tm.tm_mday = 1;
    }
}

}} // namespace ts::sys
