#include "sys/libutils/win32/tsassert.h"

#include "sys/libutils/logger.h"

namespace ts { namespace sys {

void assertFailed(const char* expression, const char* file, int line)
{
    struct AssertLogger : Logger::Logged {
        AssertLogger() : Identity("AssertLogger", ""), Logger::Logged(Logger::instance(), "AssertLogger", "") {}
    } logger;
    TS_LOG(logger, 2) << "Assert failure: " << expression << " at line " << line << " in file " << file;
}

}} // namespace ts::sys
