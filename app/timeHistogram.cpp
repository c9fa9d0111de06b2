#include "timeHistogram.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int subBucketBits = 6;
constexpr std::uint64_t subBuckets = std::uint64_t(1) << subBucketBits;
/* Below subBuckets one bucket per value; above, subBuckets per doubling up to 2^64. */
constexpr std::size_t bucketCount = (64 - subBucketBits + 1) * subBuckets;

constexpr double nanosecondsPerMs = 1e6;

int highestBit(std::uint64_t value)
{
    return 63 - __builtin_clzll(value);
}
}

std::size_t timeHistogram::bucketOf(std::uint64_t value)
{
    if (value < subBuckets)
        return static_cast<std::size_t>(value);
    const int shift = highestBit(value) - subBucketBits;
    return static_cast<std::size_t>((static_cast<std::uint64_t>(shift) + 1) * subBuckets +
                                    ((value >> shift) - subBuckets));
}

/* The middle of a bucket stands for every time in it. */
double timeHistogram::middleOf(std::size_t bucket)
{
    if (bucket < subBuckets)
        return static_cast<double>(bucket);
    const int shift = static_cast<int>(bucket / subBuckets) - 1;
    const double lowest = std::ldexp(static_cast<double>(subBuckets + bucket % subBuckets), shift);
    return lowest + (std::ldexp(1.0, shift) - 1) / 2;
}

timeHistogram::timeHistogram() : buckets(bucketCount, 0) {}

void timeHistogram::add(std::uint64_t nanoseconds, std::uint64_t times)
{
    if (times == 0)
        return;
    buckets[bucketOf(nanoseconds)] += times;
    smallest = total == 0 ? nanoseconds : std::min(smallest, nanoseconds);
    largest = std::max(largest, nanoseconds);
    total += times;
}

void timeHistogram::merge(const timeHistogram& other)
{
    if (other.total == 0)
        return;
    for (std::size_t bucket = 0; bucket < buckets.size(); ++bucket)
        buckets[bucket] += other.buckets[bucket];
    smallest = total == 0 ? other.smallest : std::min(smallest, other.smallest);
    largest = std::max(largest, other.largest);
    total += other.total;
}

void timeHistogram::clear()
{
    std::fill(buckets.begin(), buckets.end(), 0);
    total = 0;
    smallest = 0;
    largest = 0;
}

double timeHistogram::quantileMs(double q) const
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

double timeHistogram::maxMs() const
{
    return static_cast<double>(largest) / nanosecondsPerMs;
}

std::string timeHistogram::encoded(const char* name) const
{
    const std::string prefix(name);
    std::string text = prefix + "_ns_min=" + std::to_string(smallest) + " " + prefix +
                       "_ns_max=" + std::to_string(largest) + " " + prefix + "_buckets=";
    if (total == 0)
        return text + "-";
    std::size_t previous = 0;
    const char* comma = "";
    for (std::size_t bucket = 0; bucket < buckets.size(); ++bucket) {
        if (buckets[bucket] == 0)
            continue;
        text += comma + std::to_string(bucket - previous);
        if (buckets[bucket] != 1)
            text += ":" + std::to_string(buckets[bucket]);
        previous = bucket;
        comma = ",";
    }
    return text;
}
