#include "sys/libutils/win32/workerthread.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>

using namespace ts::sys::win32;

TEST(WorkerThread, RunsTheBodyOnAnotherThreadAndWaitsForItWhenDestroyed)
{
    std::atomic<int> runs{0};
    std::atomic<DWORD> id{0};
    {
        WorkerThread worker([&] {
            Sleep(50);
            id = GetCurrentThreadId();
            ++runs;
        });
        EXPECT_TRUE(worker.started());
    }
    EXPECT_EQ(1, runs.load());
    EXPECT_NE(GetCurrentThreadId(), id.load());
}

TEST(WorkerThread, JoinedOnceAndThenNoLongerRunning)
{
    std::atomic<bool> done{false};
    WorkerThread worker([&] {
        Sleep(20);
        done = true;
    });
    worker.join();
    EXPECT_TRUE(done.load());
    EXPECT_FALSE(worker.started());
    worker.join();
}

TEST(ProcessorCount, AtLeastOneAndNoMoreThanTheSystemHas)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    EXPECT_GE(processorCount(), 1u);
    EXPECT_LE(processorCount(), info.dwNumberOfProcessors);
}
