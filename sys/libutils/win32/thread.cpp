// Win32 only: threads and the thread-name slot, which lives in one process-wide TLS index.
#include "sys/libutils/win32/thread.h"

#include "sys/libutils/win32/localmemory.h"
#include "sys/libutils/exception.h"
#include "sys/libutils/win32/exception.h"
#include "sys/libutils/win32/handle.h"

#include <windows.h>
#include <cstring>

namespace ts { namespace sys {

namespace {

DWORD nameSlot()
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

const DWORD kSetThreadNameException = 0x406D1388;

// Tells an attached debugger the thread's name; without a debugger the exception comes
// back to the guard and is dropped.
void nameThreadForDebugger(const char* name, DWORD threadId)
{
    Sleep(0);
    ThreadNameInfo info = makeThreadNameInfo(name, threadId);
    runGuarded(
        [&] {
            RaiseException(kSetThreadNameException, 0, sizeof info / sizeof(ULONG_PTR),
                           reinterpret_cast<const ULONG_PTR*>(&info));
        },
        [](EXCEPTION_POINTERS* pointers) -> LONG {
            return pointers->ExceptionRecord->ExceptionCode == kSetThreadNameException ? EXCEPTION_EXECUTE_HANDLER
                                                                                        : EXCEPTION_CONTINUE_SEARCH;
        });
}

// Gives `thread` a copy of the calling thread's impersonation token. False when the
// caller impersonates nobody or any step fails.
bool copyImpersonationToken(HANDLE thread)
{
    win32::Handle token;
    if (!OpenThreadToken(GetCurrentThread(), MAXIMUM_ALLOWED, TRUE, token.receive()))
        return false;
    win32::Handle duplicate;
    if (!DuplicateToken(token.get(), SecurityImpersonation, duplicate.receive()))
        return false;
    HANDLE target = thread;
    return SetThreadToken(&target, duplicate.get()) != FALSE;
}

} // namespace

void setCurrentThreadName(const char* name)
{
    DWORD slot = nameSlot();
    if (slot == TLS_OUT_OF_INDEXES)
        return;
    char* copy = nullptr;
    if (name) {
        size_t size = strlen(name) + 1;
        copy = static_cast<char*>(LocalAlloc(LMEM_FIXED, size));
        if (copy)
            memcpy(copy, name, size);
    }
    win32::LocalMemory previous(TlsGetValue(slot));
    TlsSetValue(slot, copy);
}

std::string getCurrentThreadName()
{
    DWORD slot = nameSlot();
    if (slot == TLS_OUT_OF_INDEXES)
        return "";
    const char* name = static_cast<const char*>(TlsGetValue(slot));
    return name ? name : "";
}

ThreadNameInfo makeThreadNameInfo(const char* name, uint32_t threadId)
{
    return ThreadNameInfo{0x1000, name, threadId, 0};
}

struct Thread::ThreadState {
    State state = None;
    win32::Handle handle;
    DWORD id = 0;
    std::string name;
    bool tokenCopied = false;
    // Set before a never-started thread is let go: it then skips run().
    volatile bool abandoned = false;
};

Thread::Thread(const std::string& moduleName) : m_state(std::make_unique<ThreadState>())
{
    m_state->name = name() + ":" + label();
    if (!create())
        throw SystemError(GetLastError(), 10);
    m_name = moduleName;
}

Thread::~Thread()
{
    if (m_state->state == CreatedSuspended) {
        m_state->abandoned = true;
        if (ResumeThread(m_state->handle.get()) != static_cast<DWORD>(-1))
            WaitForSingleObject(m_state->handle.get(), INFINITE);
    }
}

bool Thread::create()
{
    DWORD id = 0;
    HANDLE handle = CreateThread(nullptr, 0, &Thread::startRoutine, this, CREATE_SUSPENDED, &id);
    if (!handle)
        return false;
    m_state->handle.reset(handle);
    m_state->id = id;
    m_state->state = CreatedSuspended;
    TS_LOG(*this, LogLevel::Verbose) << "Created thread " << m_state->name << " (ID: " << id << ")";
    m_state->tokenCopied = copyImpersonationToken(handle);
    return true;
}

bool Thread::start()
{
    if (m_state->state == None && !create())
        return false;
    if (m_state->state == CreatedSuspended && ResumeThread(m_state->handle.get()) != static_cast<DWORD>(-1))
        m_state->state = Started;
    if (m_state->state != Started)
        return false;
    return WaitForSingleObject(m_state->handle.get(), 0) == WAIT_TIMEOUT;
}

bool Thread::join(int64_t timeoutMicroseconds)
{
    if (m_state->state != Started)
        return true;
    DWORD waited = WaitForSingleObject(m_state->handle.get(), 0);
    if (waited == WAIT_TIMEOUT) {
        DWORD ms = timeoutMicroseconds == -1 ? INFINITE : static_cast<DWORD>((timeoutMicroseconds + 999) / 1000);
        waited = WaitForSingleObject(m_state->handle.get(), ms);
    }
    if (waited == WAIT_TIMEOUT)
        return false;
    m_state->handle.reset();
    m_state->state = None;
    return true;
}

const std::string& Thread::threadName() const { return m_state->name; }
uint32_t Thread::threadId() const { return m_state->id; }
Thread::State Thread::state() const { return m_state->state; }
bool Thread::tokenCopied() const { return m_state->tokenCopied; }

unsigned long __stdcall Thread::startRoutine(void* parameter)
{
    Thread* self = static_cast<Thread*>(parameter);
    if (!self->m_state->abandoned)
        runAtThreadTop(*self, [self] { self->runOnThread(); });
    return 0;
}

void Thread::runOnThread()
{
    const char* name = m_state->name.c_str();
    setCurrentThreadName(name);
    nameThreadForDebugger(name, GetCurrentThreadId());
    TS_LOG(*this, LogLevel::Verbose) << "Thread " << m_state->name << " started";
    // Connects the thread to the desktop before the body makes any window.
    GetDesktopWindow();
    run();
    setCurrentThreadName(nullptr);
}

}} // namespace ts::sys
