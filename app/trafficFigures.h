#ifndef TRAFFICFIGURES_H
#define TRAFFICFIGURES_H

#include "tickSchedule.h"
#include "timeHistogram.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

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

/* What the status bar shows of the last second that ended. */
struct secondSummary {
    std::uint64_t commands = 0;
    std::uint64_t answered = 0;
    double answerP50Ms = 0;
    double answerP99Ms = 0;
};

/*
 * The generator's counts, second by second and for the whole run. Its
 * seconds are the wall clock's, so that a runner can lay the seconds of many
 * generators and of the hub side by side; each second that had a tick or a
 * send gives a line "SkerrowDriver: second: utc=END seconds=LENGTH ...". A
 * command is counted in its second alone, and a second joins the run when it
 * ends, which halves the counting per command. Times come from the caller so
 * that they are monotonic and so that tests can give their own.
 */
class trafficFigures {
public:
    using clock = std::chrono::steady_clock;

    /* The monotonic clock's time, for the caller to hand back. */
    static clock::time_point now();
    /* The wall clock's time in milliseconds since the Unix epoch. */
    static std::int64_t utcMsNow();

    /* The run begins at now, which is utcMs on the wall clock. */
    void start(clock::time_point now, std::int64_t utcMs);
    /* Generating begins with a drawn tick time; ticks are due from now on. */
    void startTicks(clock::time_point now, clock::duration tickTime);
    /*
     * The tick timer fired: counts the tick, and the ticks it dropped with
     * the commands each would have sent on average. Returns when the fired
     * tick was due, for its commands' response times.
     */
    clock::time_point tickFired(clock::time_point now, double commandsPerTick);
    void record(clock::time_point due, clock::time_point sent, clock::time_point answered, bool failed);

    /* Ends the seconds that are over by now; the lines of those that had traffic, oldest first. */
    std::vector<std::string> takeEndedSeconds(clock::time_point now);
    /* Ends the run's last second early, at now; its line, or nothing. */
    std::vector<std::string> takeLastSecond(clock::time_point now);
    const secondSummary& lastSecond() const { return lastEnded; }

    std::uint64_t commands() const { return wholeRun.sends + thisSecond.sends; }
    std::uint64_t failures() const { return wholeRun.failures + thisSecond.failures; }
    std::uint64_t lateTicks() const { return wholeRun.lateTicks + thisSecond.lateTicks; }

    /*
     * "SkerrowDriver: run: commands=N seconds=S rate=R answer_ms_p50=A
     * answer_ms_p99=B answer_ms_max=C failures=F" followed by the response
     * times, the tick counts and both histograms, over the run until now.
     */
    std::string runLine(clock::time_point now) const;

private:
    void recordSkipped(const tickOutcome& tick, clock::time_point now, std::uint64_t commandsPerTick);
    void endSecondsBefore(clock::time_point now);
    void endThisSecond(clock::time_point end, std::int64_t endUtcMs);
    std::vector<std::string> takeLines();

    tickSchedule schedule;
    periodFigures wholeRun; /* until this second began */
    periodFigures thisSecond;
    secondSummary lastEnded;
    std::vector<std::string> endedLines;
    clock::time_point runStart;
    clock::time_point secondStart;
    clock::time_point secondEnd;
    std::int64_t secondEndUtcMs = 0;
};

#endif /* TRAFFICFIGURES_H */
