#include "sys/libutils/runlogline.h"

#include "sys/libutils/logger.h"

#include <cstdio>

namespace ts { namespace sys {

const char* levelName(int level)
{
    static const char* const names[] = {"ALWAYS", "FATAL", "ERROR", "WARN", "INFO", "DEBUG", "VERBOSE"};
    return level >= LogLevel::Always && level < LogLevel::Count ? names[level] : "";
}

std::string formatElapsed(uint64_t ms)
{
    char buffer[48];
    snprintf(buffer, sizeof buffer, "%02llu:%02u:%02u.%03u", static_cast<unsigned long long>(ms / 3600000),
             static_cast<unsigned>(ms / 60000 % 60), static_cast<unsigned>(ms / 1000 % 60),
             static_cast<unsigned>(ms % 1000));
    return buffer;
}

std::string formatRunLogLine(uint64_t elapsedMs, int level, const std::string& text)
{
    char head[64];
    snprintf(head, sizeof head, "[%s] %-7s\t", formatElapsed(elapsedMs).c_str(), levelName(level));
    return head + text;
}

}} // namespace ts::sys
