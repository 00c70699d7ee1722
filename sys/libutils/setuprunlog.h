// The front end's own plain-text run log (the mupLogFile option).
#pragma once
#include "sys/libutils/logger.h"
#include "sys/libutils/runlogline.h"
#include "sys/libutils/win32/handle.h"
#include <cstdint>
#include <memory>
#include <string>

namespace ts { namespace sys {

class SetupRunLog {
public:
    SetupRunLog(); // takes the start time stamp
    ~SetupRunLog();
    SetupRunLog(const SetupRunLog&) = delete;
    SetupRunLog& operator=(const SetupRunLog&) = delete;

    // Every later line also goes to the library log (module "Setup") at its level, so
    // that a run without a run log file leaves a record as well.
    void mirrorToLibraryLog();
    // Opens `path` for appending (shared read and write) and writes "Start Tessaline Setup".
    // When a path is given and the file cannot be opened, the library log gets the path
    // and the system error, and only the library log gets the later lines.
    void open(const std::wstring& path);
    void write(int level, const std::string& text);
    // Writes "Stop Tessaline Setup" and closes; later calls do nothing.
    void close();
    bool isOpen() const { return m_file.valid(); }
    // open() was called (whether or not the file opened) and close() not yet.
    bool isStarted() const { return m_opened; }

private:
    uint64_t elapsedMs() const;
    int64_t m_start;
    bool m_opened = false;
    win32::FileHandle m_file;
    std::unique_ptr<Logger::Logged> m_library;
};

}} // namespace ts::sys
