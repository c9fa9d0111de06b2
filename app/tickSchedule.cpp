#include "tickSchedule.h"

void tickSchedule::start(clock::time_point now, clock::duration tickTime)
{
    interval = tickTime;
    nextDue = now + tickTime;
}

tickOutcome tickSchedule::fire(clock::time_point now)
{
    tickOutcome outcome;
    outcome.tickTime = interval;
    if (interval <= clock::duration::zero() || now < nextDue) {
        /* A timer without a tick time owes nothing ahead; an early firing sets the pace. */
        outcome.due = now;
        nextDue = now + interval;
        return outcome;
    }
    outcome.due = nextDue;
    const auto behind = now - nextDue;
    if (behind < interval) {
        nextDue += interval;
        return outcome;
    }
    outcome.late = true;
    outcome.skipped = static_cast<std::uint64_t>(behind / interval);
    outcome.firstSkippedDue = nextDue + interval;
    nextDue = now + interval;
    return outcome;
}
