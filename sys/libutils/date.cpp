#include "sys/libutils/date.h"

#include "sys/libutils/logger.h"

#include <cstring>

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

} // namespace

Date::Date()
{
    std::memset(&m_tm, 0, sizeof m_tm);
}

Date::Date(const std::string& text)
{
    DateFields fields = parseDate(text);
    m_tm = fields.tm;
    for (const std::string& error : fields.errors)
        TS_LOG(dateLogger(), LogLevel::Error) << error;
}

}} // namespace ts::sys
