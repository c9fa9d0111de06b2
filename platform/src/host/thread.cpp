#include "rkwin.h"

#include <cstdint>
#include <sched.h>

/*
 * Linux has no priority boost to switch off; what it does instead is let a
 * thread that a wait released preempt the one running. SCHED_BATCH keeps
 * the thread's share of the processor and gives that up, so it stands for
 * a thread without its boost. Real-time and idle policies have no boost
 * either and are left as they are.
 */

namespace {

HANDLE currentThreadPseudoHandle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-2)); }

int currentPolicy() { return sched_getscheduler(0) & ~SCHED_RESET_ON_FORK; }

bool isCurrentThread(HANDLE thread)
{
    if (thread == currentThreadPseudoHandle())
        return true;
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
}

} // namespace

HANDLE WINAPI GetCurrentThread(void) { return currentThreadPseudoHandle(); }

BOOL WINAPI SetThreadPriorityBoost(HANDLE thread, BOOL disablePriorityBoost)
{
    if (!isCurrentThread(thread))
        return FALSE;
    const int policy = currentPolicy();
    if (policy != SCHED_OTHER && policy != SCHED_BATCH)
        return TRUE;
    sched_param parameters{};
    if (sched_setscheduler(0, disablePriorityBoost ? SCHED_BATCH : SCHED_OTHER, &parameters) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI GetThreadPriorityBoost(HANDLE thread, BOOL* disablePriorityBoost)
{
    if (!isCurrentThread(thread))
        return FALSE;
    if (!disablePriorityBoost) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *disablePriorityBoost = currentPolicy() == SCHED_BATCH;
    return TRUE;
}
