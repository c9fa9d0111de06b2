#include "rkwin.h"

#include <gtest/gtest.h>

#include <fstream>
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
