#include "tickSchedule.h"

namespace {
/*
 * A coarse timer promises its interval to within 5 %, and Qt uses that slack
 * to fire several timers at one wake-up: a tick is due only once the promise
 * has run out, so that the timer's own slack is not taken for the system's.
 */
constexpr int coarseSlackDivisor = 20;
}

void tickSchedule::start(clock::time_point now, clock::duration tickTime)
{
    interval = tickTime;
    lastFired = now;
}

tickOutcome tickSchedule::fire(clock::time_point now)
{
    tickOutcome outcome;
    outcome.tickTime = interval;
    const clock::time_point due = lastFired + interval + interval / coarseSlackDivisor;
    lastFired = now;
    /* An early firing owes nothing ahead, and neither does a timer without a tick time. */
    outcome.due = now < due ? now : due;
    if (interval <= clock::duration::zero() || now - due < interval)
        return outcome;
    outcome.late = true;
    outcome.skipped = static_cast<std::uint64_t>((now - due) / interval);
    outcome.firstSkippedDue = due + interval;
    return outcome;
}
