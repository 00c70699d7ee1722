// A plain worker thread for short parallel work inside one call: unlike Thread it logs,
// names and impersonates nothing, so a caller's log stays as it was.
#pragma once
#include "sys/libutils/win32/handle.h"

#include <cstdint>
#include <functional>

namespace ts { namespace sys { namespace win32 {

class WorkerThread {
public:
    // Starts `body` on a new thread at once; started() is false when the thread could not
    // be created (the body then never runs). The body must not throw.
    explicit WorkerThread(std::function<void()> body);
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    // Waits for the body to end.
    ~WorkerThread();

    bool started() const { return m_handle.valid(); }
    // Waits for the body to end; returns at once when it never started or was joined.
    void join();

private:
    static DWORD WINAPI entry(void* parameter);

    std::function<void()> m_body;
    Handle m_handle;
};

// The processors this process may run on (its affinity mask), at least 1.
unsigned processorCount();
// The memory this process can still have: the smaller of its free address space and
// the commit the system can still give (GlobalMemoryStatusEx); 0 when it cannot be asked.
uint64_t availableMemory();

}}} // namespace ts::sys::win32
