// The cleanup's debug log collected for one test: its lines ("INFO: text\n") while the
// object lives, at the level given; the previous sink and the threshold 0 come back.
#pragma once
#include "tk/libcleaner/debuglog.h"

#include <string>
#include <vector>

namespace ts { namespace test {

class CapturedCleanerLog {
public:
    explicit CapturedCleanerLog(tk::cleaner::DebugLevel level = tk::cleaner::DebugLevel::Verbose)
    {
        lines().clear();
        m_previous = tk::cleaner::setDebugLogSink([](const std::wstring& line) { lines().push_back(line); });
        tk::cleaner::setDebugLogThreshold(static_cast<int>(level));
    }
    ~CapturedCleanerLog()
    {
        tk::cleaner::setDebugLogThreshold(0);
        tk::cleaner::setDebugLogSink(m_previous);
    }
    CapturedCleanerLog(const CapturedCleanerLog&) = delete;
    CapturedCleanerLog& operator=(const CapturedCleanerLog&) = delete;

    static std::vector<std::wstring>& lines()
    {
        static std::vector<std::wstring> collected;
        return collected;
    }

private:
    tk::cleaner::DebugLogSink m_previous = nullptr;
};

}} // namespace ts::test
