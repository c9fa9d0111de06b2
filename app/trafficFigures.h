#ifndef TRAFFICFIGURES_H
#define TRAFFICFIGURES_H

#include "tickSchedule.h"
#include "timeHistogram.h"

#include <chrono>
#include <cstdint>
#include <string>

/*
 * The counts of a stretch of the run, the whole run or one second of it.
 * Answer times are taken around each send; response times from when the
 * command's tick was due, so that a command waiting behind others of its
 * tick, or a tick the timer fired late, shows. Failed sends are counted
 * apart and enter neither histogram.
 */
struct periodFigures {
    timeHistogram answer;
    timeHistogram response;
    std::uint64_t sends = 0;
    std::uint64_t failures = 0;
    std::uint64_t ticks = 0;
    std::uint64_t lateTicks = 0;
    std::uint64_t skippedTicks = 0;
    /* The commands the skipped ticks stood for: entered as responses, never sent. */
    std::uint64_t omitted = 0;

    bool idle() const { return sends == 0 && ticks == 0; }
    void merge(const periodFigures& other);
    void clear();
    /* "ticks=T late_ticks=L skipped_ticks=K omitted=O" and both histograms. */
    std::string tickAndTimeFields() const;
};

/* What the status bar shows of the interval just ended, and the interval's debug line. */
struct intervalFigures {
    std::uint64_t commands = 0;
    std::uint64_t answered = 0;
    double seconds = 0;
    double answerP50Ms = 0;
    double answerP99Ms = 0;
    /* "SkerrowDriver: second: ..."; empty for an interval without ticks or sends. */
    std::string line;
};

/*
 * The generator's counts for the whole run and for the interval since the
 * status bar last read them. A command is counted in the interval alone; the
 * interval joins the run when it ends, which halves the counting per command.
 * Times come from the caller so that they are monotonic and so that tests can
 * give their own.
 */
class trafficFigures {
public:
    using clock = std::chrono::steady_clock;

    /* The monotonic clock's time, for the caller to hand back. */
    static clock::time_point now();

    /* The run and its first interval begin. */
    void start(clock::time_point now);
    /* Generating begins with a drawn tick time; ticks are due from now on. */
    void startTicks(clock::time_point now, clock::duration tickTime);
    /*
     * The tick timer fired: counts the tick, and the ticks it dropped with
     * the commands each would have sent on average. Returns when the fired
     * tick was due, for its commands' response times.
     */
    clock::time_point tickFired(clock::time_point now, double commandsPerTick);
    void record(clock::time_point due, clock::time_point sent, clock::time_point answered, bool failed);

    /* The interval that ends now; the next one begins. */
    intervalFigures takeInterval(clock::time_point now);

    std::uint64_t commands() const { return wholeRun.sends + thisInterval.sends; }
    std::uint64_t failures() const { return wholeRun.failures + thisInterval.failures; }
    std::uint64_t lateTicks() const { return wholeRun.lateTicks + thisInterval.lateTicks; }

    /*
     * "SkerrowDriver: run: commands=N seconds=S rate=R answer_ms_p50=A
     * answer_ms_p99=B answer_ms_max=C failures=F" followed by the response
     * times, the tick counts and both histograms, over the run until now.
     */
    std::string runLine(clock::time_point now) const;

private:
    void recordSkipped(const tickOutcome& tick, clock::time_point now, std::uint64_t commandsPerTick);

    tickSchedule schedule;
    periodFigures wholeRun; /* until the interval began */
    periodFigures thisInterval;
    clock::time_point runStart;
    clock::time_point intervalStart;
};

#endif /* TRAFFICFIGURES_H */
