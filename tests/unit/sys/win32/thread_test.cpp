#include "unit/sys/testlogger.h"

#include "sys/libutils/win32/thread.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <stdexcept>
#include <string>

using namespace ts::sys;

namespace {

const bool kLoggerReady = (ts::test::testLogger(), true);

// A body that records what it saw on its own thread and waits until released.
class ProbeThread : public Thread {
public:
    explicit ProbeThread(const std::string& label = "")
        : Identity("ProbeThread", label), Thread("ProbeModule"), m_release(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_running(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~ProbeThread() override
    {
        SetEvent(m_release);
        join(-1);
        CloseHandle(m_release);
        CloseHandle(m_running);
    }
    void release() { SetEvent(m_release); }
    bool waitRunning() { return WaitForSingleObject(m_running, 10000) == WAIT_OBJECT_0; }

    std::atomic<int> runs{0};
    std::string nameSeen;
    DWORD idSeen = 0;

protected:
    uint32_t run() override
    {
        ++runs;
        nameSeen = getCurrentThreadName();
        idSeen = GetCurrentThreadId();
        SetEvent(m_running);
        WaitForSingleObject(m_release, INFINITE);
        return 7;
    }

private:
    HANDLE m_release;
    HANDLE m_running;
};

class ThrowingThread : public Thread {
public:
    ThrowingThread() : Identity("ThrowingThread", "worker"), Thread("ThrowingThread") {}
    ~ThrowingThread() override { join(-1); }
protected:
    uint32_t run() override { throw std::runtime_error("body failed"); }
};

DWORD WINAPI readName(void* out)
{
    *static_cast<std::string*>(out) = getCurrentThreadName();
    return 0;
}

} // namespace

TEST(ThreadChild, Run)
{
    if (ts::test::childCase() == "thread-throws") {
        ThrowingThread thread;
        thread.start();
        Sleep(30000);
        ExitProcess(0x57);
    }
}

TEST(Thread, NamedAfterIdentityAndAddressThenRenamedToTheModule)
{
    ProbeThread thread;
    char address[16];
    snprintf(address, sizeof address, "%08X",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(static_cast<const Identity*>(&thread))));
    EXPECT_EQ(std::string("ProbeThread:") + address, thread.threadName());
    EXPECT_EQ("ProbeModule", thread.name());
    EXPECT_EQ(Thread::CreatedSuspended, thread.state());
    EXPECT_NE(0u, thread.threadId());
    EXPECT_FALSE(thread.tokenCopied()); // the test thread impersonates nobody
}

TEST(Thread, BodySeesItsNameAndRunsOnceWhenStartedTwice)
{
    ProbeThread thread("label");
    EXPECT_TRUE(thread.start());
    ASSERT_TRUE(thread.waitRunning());
    EXPECT_TRUE(thread.start());
    EXPECT_EQ(Thread::Started, thread.state());
    EXPECT_EQ("ProbeThread:label", thread.nameSeen);
    EXPECT_EQ(thread.threadId(), thread.idSeen);
    EXPECT_FALSE(thread.join(0));
    EXPECT_FALSE(thread.join(1));
    thread.release();
    EXPECT_TRUE(thread.join(-1));
    EXPECT_EQ(Thread::None, thread.state());
    EXPECT_EQ(1, thread.runs.load());
    EXPECT_TRUE(thread.join(0)); // nothing left to wait for
}

TEST(Thread, StartAfterTheBodyEndedReturnsFalse)
{
    ProbeThread thread;
    thread.release();
    thread.start();
    bool ended = false;
    for (int i = 0; i < 1000 && !ended; ++i) {
        ended = !thread.start();
        if (!ended)
            Sleep(10);
    }
    EXPECT_TRUE(ended);
    EXPECT_EQ(1, thread.runs.load());
}

TEST(Thread, NeverStartedThreadNeverRunsItsBody)
{
    ProbeThread* thread = new ProbeThread;
    EXPECT_TRUE(thread->join(0));
    EXPECT_TRUE(thread->join(-1));
    delete thread; // must return although the thread was never resumed
    SUCCEED();
}

TEST(Thread, CreationAndStartAreLogged)
{
    ProbeThread thread;
    thread.release();
    thread.start();
    thread.join(-1);
    EXPECT_TRUE(ts::test::captureContains("Created thread " + thread.threadName() + " (ID: " +
                                          std::to_string(thread.threadId()) + ")"));
    EXPECT_TRUE(ts::test::captureContains("Thread " + thread.threadName() + " started"));
}

TEST(Thread, ForeignThreadHasAnEmptyName)
{
    std::string seen = "unset";
    HANDLE thread = CreateThread(nullptr, 0, readName, &seen, 0, nullptr);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EXPECT_EQ("", seen);
}

TEST(Thread, DebuggerNamingRecordHasTheConventionalWords)
{
    ThreadNameInfo info = makeThreadNameInfo("X:1", 42);
    EXPECT_EQ(0x1000u, info.type);
    EXPECT_STREQ("X:1", info.name);
    EXPECT_EQ(42u, info.threadId);
    EXPECT_EQ(0u, info.flags);
    EXPECT_EQ(4 * sizeof(ULONG_PTR), sizeof info);
}

TEST(Thread, BodyThatThrowsEndsTheProcessAfterOneFatalLine)
{
    std::wstring dir;
    uint32_t code = ts::test::runChildCase("ThreadChild.Run", "thread-throws", dir);
    EXPECT_EQ(3u, code); // abort()
    std::vector<std::string> lines = ts::test::decodeFile(ts::test::readFile(dir + L"\\TSUNIT.log"));
    bool found = false;
    for (const std::string& line : lines)
        found |= line.find("\tThrowingThread:worker\tThrowingThread\tworker\tFATAL\t") != std::string::npos &&
                 line.find("\tTop level exception: body failed") != std::string::npos;
    EXPECT_TRUE(found) << (lines.empty() ? "no log" : lines.back());
    ts::test::removeTree(dir);
}
