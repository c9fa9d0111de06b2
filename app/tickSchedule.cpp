#include "tickSchedule.h"

void tickSchedule::start(clock::time_point now, clock::duration tickTime)
{
    interval = tickTime;
    lastFired = now;
}

tickOutcome tickSchedule::fire(clock::time_point now)
{
    tickOutcome outcome;
    outcome.tickTime = interval;
    const clock::time_point due = lastFired + interval;
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
