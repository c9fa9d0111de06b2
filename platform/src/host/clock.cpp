// Time as Win32 counts it: GetTickCount includes time spent suspended,
// which CLOCK_BOOTTIME does and CLOCK_MONOTONIC does not.
#include "rkwin.h"

#include <cerrno>
#include <ctime>
#include <sched.h>

DWORD WINAPI GetTickCount(void)
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const uint64_t milliseconds =
        static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(milliseconds); // wraps after 49.7 days, as on Windows
}

void WINAPI Sleep(DWORD milliseconds)
{
    if (milliseconds == 0) {
        sched_yield(); // Sleep(0) gives up the rest of the time slice
        return;
    }
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}
