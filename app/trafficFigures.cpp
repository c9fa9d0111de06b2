#include "trafficFigures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {
constexpr int subBucketBits = 6;
constexpr std::uint64_t subBuckets = std::uint64_t(1) << subBucketBits;
/* Below subBuckets one bucket per value; above, subBuckets per doubling up to 2^64. */
constexpr std::size_t bucketCount = (64 - subBucketBits + 1) * subBuckets;

int highestBit(std::uint64_t value)
{
    return 63 - __builtin_clzll(value);
}

std::size_t bucketOf(std::uint64_t value)
{
    if (value < subBuckets)
        return static_cast<std::size_t>(value);
    const int shift = highestBit(value) - subBucketBits;
    return static_cast<std::size_t>((static_cast<std::uint64_t>(shift) + 1) * subBuckets +
                                    ((value >> shift) - subBuckets));
}

/* The middle of a bucket stands for every time in it. */
double middleOf(std::size_t bucket)
{
    if (bucket < subBuckets)
        return static_cast<double>(bucket);
    const int shift = static_cast<int>(bucket / subBuckets) - 1;
    const double lowest = std::ldexp(static_cast<double>(subBuckets + bucket % subBuckets), shift);
    return lowest + (std::ldexp(1.0, shift) - 1) / 2;
}

constexpr double nanosecondsPerMs = 1e6;

double secondsBetween(trafficFigures::clock::time_point from, trafficFigures::clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}
}

answerTimes::answerTimes() : buckets(bucketCount, 0) {}

void answerTimes::add(std::uint64_t nanoseconds)
{
    ++buckets[bucketOf(nanoseconds)];
    smallest = total == 0 ? nanoseconds : std::min(smallest, nanoseconds);
    largest = std::max(largest, nanoseconds);
    ++total;
}

void answerTimes::clear()
{
    std::fill(buckets.begin(), buckets.end(), 0);
    total = 0;
    smallest = 0;
    largest = 0;
}

double answerTimes::quantileMs(double q) const
{
    if (total == 0)
        return 0;
    const double wanted = std::ceil(q * static_cast<double>(total));
    const std::uint64_t rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(wanted));
    std::uint64_t seen = 0;
    std::size_t bucket = 0;
    while (bucket + 1 < buckets.size() && seen + buckets[bucket] < rank)
        seen += buckets[bucket++];
    const double value = std::clamp(middleOf(bucket), static_cast<double>(smallest),
                                    static_cast<double>(largest));
    return value / nanosecondsPerMs;
}

double answerTimes::maxMs() const
{
    return static_cast<double>(largest) / nanosecondsPerMs;
}

trafficFigures::clock::time_point trafficFigures::now()
{
    return clock::now();
}

void trafficFigures::start(clock::time_point now)
{
    runStart = now;
    intervalStart = now;
}

void trafficFigures::record(clock::duration answer, bool sendFailed)
{
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(answer).count();
    const std::uint64_t time = nanoseconds > 0 ? static_cast<std::uint64_t>(nanoseconds) : 0;
    wholeRun.add(time);
    thisInterval.add(time);
    if (sendFailed)
        ++failed;
}

intervalFigures trafficFigures::takeInterval(clock::time_point now)
{
    intervalFigures figures;
    figures.commands = thisInterval.count();
    figures.seconds = secondsBetween(intervalStart, now);
    figures.answerP50Ms = thisInterval.quantileMs(0.5);
    figures.answerP99Ms = thisInterval.quantileMs(0.99);
    thisInterval.clear();
    intervalStart = now;
    return figures;
}

std::string trafficFigures::runLine(clock::time_point now) const
{
    const double seconds = secondsBetween(runStart, now);
    const double rate = seconds > 0 ? static_cast<double>(commands()) / seconds : 0;
    char line[256];
    std::snprintf(line, sizeof line,
                  "SkerrowDriver: run: commands=%llu seconds=%.2f rate=%.2f answer_ms_p50=%.3f "
                  "answer_ms_p99=%.3f answer_ms_max=%.3f failures=%llu",
                  static_cast<unsigned long long>(commands()), seconds, rate, wholeRun.quantileMs(0.5),
                  wholeRun.quantileMs(0.99), wholeRun.maxMs(),
                  static_cast<unsigned long long>(failed));
    return line;
}
