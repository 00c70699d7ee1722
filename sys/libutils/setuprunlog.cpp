#include "sys/libutils/setuprunlog.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/text.h"

namespace ts { namespace sys {

namespace {
int64_t ticks()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}
int64_t frequency()
{
    LARGE_INTEGER f;
    if (!QueryPerformanceFrequency(&f) || f.QuadPart < 1000)
        return 0;
    return f.QuadPart;
}

struct SetupLibraryLog : Logger::Logged {
    SetupLibraryLog() : Identity("Setup", ""), Logged(Logger::instance(), "Setup", "") {}
};
} // namespace

SetupRunLog::SetupRunLog() : m_start(frequency() ? ticks() : GetTickCount()) {}

SetupRunLog::~SetupRunLog()
{
    close();
}

uint64_t SetupRunLog::elapsedMs() const
{
    int64_t f = frequency();
    if (!f)
        return static_cast<uint32_t>(GetTickCount() - static_cast<DWORD>(m_start));
    return static_cast<uint64_t>((ticks() - m_start) * 1000 / f);
}

void SetupRunLog::mirrorToLibraryLog()
{
    if (!m_library)
        m_library.reset(new SetupLibraryLog);
}

void SetupRunLog::open(const std::wstring& path)
{
    m_opened = true;
    if (!path.empty()) {
        m_file.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD error = m_file.valid() ? 0 : GetLastError();
        if (error && m_library) {
            TS_LOG(*m_library, LogLevel::Error) << "The run log " << logText(path) << " could not be opened: "
                                                << toNarrow(windowsErrorText(error));
        }
    }
    write(LogLevel::Info, "Start Tessaline Setup");
}

void SetupRunLog::write(int level, const std::string& text)
{
    if (m_library) {
        TS_LOG(*m_library, level) << text;
    }
    if (!m_file.valid())
        return;
    std::string line = formatRunLogLine(elapsedMs(), level, text) + "\r\n";
    DWORD written = 0;
    WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void SetupRunLog::close()
{
    if (!m_opened)
        return;
    write(LogLevel::Info, "Stop Tessaline Setup");
    m_opened = false;
    m_file.reset();
}

}} // namespace ts::sys
