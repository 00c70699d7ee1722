// Worker threads: the Thread base class and the per-thread name slot that the logger
// prints.
#pragma once
#include "sys/libutils/logger.h"

#include <cstdint>
#include <memory>
#include <string>

namespace ts { namespace sys {

// Stores a copy of `name` (nothing for null) for the calling thread, freeing the
// previous copy.
void setCurrentThreadName(const char* name);
// The calling thread's name, "" when none is set.
std::string getCurrentThreadName();

// The base of every worker thread. The most-derived class builds the Identity base with
// its module name; the Windows thread is created suspended in the constructor and runs
// run() once start() resumes it. Whatever escapes run() is logged at FATAL as "Top level
// exception: ..." and ends the process with abort().
//
// The object is shared with the new thread: a subclass destructor must call join(-1)
// before its members go.
class Thread : public Logger::Logged {
public:
    enum State : int32_t { None = 0, CreatedSuspended = 1, Started = 2 };

    // Throws SystemError (code 10, the Windows error) when the thread cannot be created.
    explicit Thread(const std::string& moduleName);
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // A thread that was created but never started is let go without running run().
    ~Thread() override;

    // Creates the thread if needed and resumes it once. True while it is running; false
    // when it could not be started or has already ended.
    bool start();
    // Waits for a started thread; `timeoutMicroseconds` -1 waits forever, others are
    // rounded up to whole milliseconds. True when the thread has ended (the handle is then
    // closed and the state is None again) or was never started; false on time-out.
    bool join(int64_t timeoutMicroseconds);

    // Identity name + ":" + identity label, as taken when the thread was created.
    const std::string& threadName() const;
    uint32_t threadId() const;
    State state() const;
    // True when the creator's impersonation token was given to the thread.
    bool tokenCopied() const;

protected:
    // The thread body; its result is not the thread's exit code.
    virtual uint32_t run() = 0;

private:
    struct ThreadState;
    bool create();
    static unsigned long __stdcall startRoutine(void* parameter);
    void runOnThread();

    std::unique_ptr<ThreadState> m_state;
};

// The exception record of the debugger thread-naming convention (0x406D1388): type
// 0x1000, the name, the thread id and 0, as the words RaiseException is given.
struct ThreadNameInfo {
    uint32_t type;
    const char* name;
    uint32_t threadId;
    uint32_t flags;
};
ThreadNameInfo makeThreadNameInfo(const char* name, uint32_t threadId);

}} // namespace ts::sys
