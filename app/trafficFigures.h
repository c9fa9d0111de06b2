#ifndef TRAFFICFIGURES_H
#define TRAFFICFIGURES_H

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

/*
 * Answer times in log-scale buckets, 64 to each doubling: memory stays the
 * same however long a run goes, and a quantile read back is within 1.6 % of
 * the true one (times below 64 ns are kept exactly).
 */
class answerTimes {
public:
    answerTimes();

    void add(std::uint64_t nanoseconds);
    void clear();
    std::uint64_t count() const { return total; }

    /* The nearest-rank q-quantile, 0 < q <= 1, in milliseconds; 0 without times. */
    double quantileMs(double q) const;
    double maxMs() const;

private:
    std::vector<std::uint64_t> buckets;
    std::uint64_t total = 0;
    std::uint64_t smallest = 0;
    std::uint64_t largest = 0;
};

/* What the status bar shows of the interval just ended. */
struct intervalFigures {
    std::uint64_t commands = 0;
    double seconds = 0;
    double answerP50Ms = 0;
    double answerP99Ms = 0;
};

/*
 * The generator's counts: every send with KIV's answer time and whether it
 * failed, for the whole run and for the interval since the status bar last
 * read them. Times come from the caller so that they are monotonic and so
 * that tests can give their own.
 */
class trafficFigures {
public:
    using clock = std::chrono::steady_clock;

    /* The monotonic clock's time, for the caller to hand back. */
    static clock::time_point now();

    /* The run and its first interval begin. */
    void start(clock::time_point now);
    void record(clock::duration answer, bool failed);

    /* The interval that ends now; the next one begins. */
    intervalFigures takeInterval(clock::time_point now);

    std::uint64_t commands() const { return wholeRun.count(); }
    std::uint64_t failures() const { return failed; }

    /*
     * "SkerrowDriver: run: commands=N seconds=S rate=R answer_ms_p50=A
     * answer_ms_p99=B answer_ms_max=C failures=F", over the run until now.
     */
    std::string runLine(clock::time_point now) const;

private:
    answerTimes wholeRun;
    answerTimes thisInterval;
    std::uint64_t failed = 0;
    clock::time_point runStart;
    clock::time_point intervalStart;
};

#endif /* TRAFFICFIGURES_H */
