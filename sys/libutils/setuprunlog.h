// The front end's own plain-text run log (the mupLogFile option).
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/runlogline.h"
#include "sys/libutils/win32/handle.h"
#include <cstdint>
#include <string>

namespace ts { namespace sys {

class SetupRunLog {
public:
    SetupRunLog(); // takes the start time stamp
    ~SetupRunLog();
    SetupRunLog(const SetupRunLog&) = delete;
    SetupRunLog& operator=(const SetupRunLog&) = delete;

    // Opens `path` for appending (shared read and write) and writes "Start Tessaline Setup".
    // When the file cannot be opened every later line is dropped silently.
    void open(const std::string& path);
    void write(int level, const std::string& text);
    // Writes "Stop Tessaline Setup" and closes; later calls do nothing.
    void close();
    bool isOpen() const { return m_file.valid(); }

private:
    uint64_t elapsedMs() const;
    int64_t m_start;
    win32::FileHandle m_file;
};

}} // namespace ts::sys
