#ifndef TICKSCHEDULE_H
#define TICKSCHEDULE_H

#include <chrono>
#include <cstdint>

/* Where one firing of the tick timer stands against the drawn tick time. */
struct tickOutcome {
    using clock = std::chrono::steady_clock;

    /* When the tick that fired was due: its commands' response times start here. */
    clock::time_point due;
    /* It fired more than a tick time after it was due. */
    bool late = false;
    /* Ticks that fell due while this one waited and that the timer dropped. */
    std::uint64_t skipped = 0;
    /* The first of those was due here, the others a tick time apart. */
    clock::time_point firstSkippedDue;
    clock::duration tickTime{};
};

/*
 * The ticks a drawn tick time promises, against the firings of a timer that
 * cannot keep them while a send blocks: Qt's timer then fires once, late, and
 * drops the ticks it missed. A tick is due a tick time after the firing
 * before it, and 5 % more, the slack a coarse timer allows itself; so the
 * timer's own rounding, early or late, never adds up from tick to tick. A
 * firing more than a tick time after that is late, and the ticks that fell
 * due meanwhile, a tick time apart, were dropped.
 */
class tickSchedule {
public:
    using clock = tickOutcome::clock;

    void start(clock::time_point now, clock::duration tickTime);
    tickOutcome fire(clock::time_point now);

private:
    clock::duration interval{};
    clock::time_point lastFired;
};

#endif /* TICKSCHEDULE_H */
