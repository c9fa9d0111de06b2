#ifndef TIMEHISTOGRAM_H
#define TIMEHISTOGRAM_H

#include <cstdint>
#include <string>
#include <vector>

/*
 * Times in nanoseconds, in log-scale buckets: 64 to each doubling, one per
 * value below 64. Memory stays the same however long a run goes, a quantile
 * read back is within 1.6 % of the true one, and because every generator on
 * every host uses the same buckets, histograms of many generators and many
 * seconds pool exactly by adding their counts bucket by bucket.
 */
class timeHistogram {
public:
    timeHistogram();

    void add(std::uint64_t nanoseconds, std::uint64_t times = 1);
    /* Every time of the other one, as if each had been added here. */
    void merge(const timeHistogram& other);
    void clear();
    std::uint64_t count() const { return total; }

    /* The nearest-rank q-quantile, 0 < q <= 1, in milliseconds; 0 without times. */
    double quantileMs(double q) const;
    double maxMs() const;

    /*
     * "NAME_ns_min=A NAME_ns_max=B NAME_buckets=E": E lists the buckets that
     * hold times in rising order, each as its distance from the one before
     * (the first: its index), followed by ":count" unless the count is 1;
     * "-" when there are none. A busy second still makes a short line.
     */
    std::string encoded(const char* name) const;

    /* The bucket that holds a time, and the time that stands for a bucket. */
    static std::size_t bucketOf(std::uint64_t nanoseconds);
    static double middleOf(std::size_t bucket);

private:
    std::vector<std::uint64_t> buckets;
    std::uint64_t total = 0;
    std::uint64_t smallest = 0;
    std::uint64_t largest = 0;
};

#endif /* TIMEHISTOGRAM_H */
