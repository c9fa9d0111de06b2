#include "rkwin.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sched.h>
#include <thread>
#include <unistd.h>

TEST(LastError, IsKeptPerThread)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    DWORD seenByOtherThread = 12345;
    std::thread other([&] {
        SetLastError(ERROR_INVALID_PARAMETER);
        seenByOtherThread = GetLastError();
    });
    other.join();
    EXPECT_EQ(seenByOtherThread, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(TickCount, CountsMillisecondsSinceBoot)
{
    double uptimeSeconds = 0;
    std::ifstream("/proc/uptime") >> uptimeSeconds;
    ASSERT_GT(uptimeSeconds, 0.0);
    const DWORD expected = static_cast<DWORD>(static_cast<uint64_t>(uptimeSeconds * 1000.0));
    const DWORD ticks = GetTickCount();
    // /proc/uptime has centisecond resolution and is read a moment earlier.
    EXPECT_LT(static_cast<DWORD>(ticks - expected), 2000u);
}

TEST(TickCount, AdvancesAtLeastAsLongAsASleep)
{
    const DWORD before = GetTickCount();
    Sleep(50);
    EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 49u);
}

TEST(CurrentProcessId, IsTheProcessId)
{
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
}

/* In a thread of its own, so that the test program's main thread keeps its policy. */
TEST(ThreadPriorityBoost, SwitchedOffRunsTheThreadAsBatchUntilSwitchedOnAgain)
{
    std::thread([] {
        BOOL disabled = FALSE;
        ASSERT_TRUE(SetThreadPriorityBoost(GetCurrentThread(), TRUE));
        ASSERT_TRUE(GetThreadPriorityBoost(GetCurrentThread(), &disabled));
        EXPECT_TRUE(disabled);
        EXPECT_EQ(sched_getscheduler(0), SCHED_BATCH);
        ASSERT_TRUE(SetThreadPriorityBoost(GetCurrentThread(), FALSE));
        ASSERT_TRUE(GetThreadPriorityBoost(GetCurrentThread(), &disabled));
        EXPECT_FALSE(disabled);
        EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER);
    }).join();
}

TEST(ThreadPriorityBoost, RefusesAnyHandleButTheCallingThreads)
{
    BOOL disabled = FALSE;
    HANDLE other = reinterpret_cast<HANDLE>(static_cast<intptr_t>(1234));
    EXPECT_FALSE(SetThreadPriorityBoost(other, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(GetThreadPriorityBoost(other, &disabled));
}
