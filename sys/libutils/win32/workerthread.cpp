#include "sys/libutils/win32/workerthread.h"

#include <windows.h>

namespace ts { namespace sys { namespace win32 {

WorkerThread::WorkerThread(std::function<void()> body) : m_body(std::move(body))
{
    m_handle.reset(CreateThread(nullptr, 0, &WorkerThread::entry, this, 0, nullptr));
}

WorkerThread::~WorkerThread()
{
    join();
}

void WorkerThread::join()
{
    if (m_handle.valid())
        WaitForSingleObject(m_handle.get(), INFINITE);
    m_handle.reset();
}

DWORD WINAPI WorkerThread::entry(void* parameter)
{
    static_cast<WorkerThread*>(parameter)->m_body();
    return 0;
}

unsigned processorCount()
{
    DWORD_PTR process = 0, system = 0;
    unsigned count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1)
            ++count;
    if (count == 0) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        count = info.dwNumberOfProcessors;
    }
    return count ? count : 1;
}

uint64_t availableMemory()
{
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status))
        return 0;
    return status.ullAvailVirtual < status.ullAvailPageFile ? status.ullAvailVirtual : status.ullAvailPageFile;
}

}}} // namespace ts::sys::win32
