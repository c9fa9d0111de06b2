/* Time on the monotonic clock, for bounded spins and turns. */
#ifndef RKCLOCK_H
#define RKCLOCK_H

#include <time.h>

namespace rkwin {

/* Nanoseconds since start, both on the monotonic clock. */
inline long nanosecondsSince(const timespec& start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec);
}

} // namespace rkwin

#endif
