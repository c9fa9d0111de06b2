// What the stand-in hub counts of the command texts it receives.
#ifndef HUB_TRAFFIC_H
#define HUB_TRAFFIC_H

#include "hubSeries.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

struct irFields {
    long device = 0;
    long slot = 0;
    std::string text;
};

// True when text reads exactly "IR %d %d '%s' 0" with no apostrophe or
// percent sign inside the quoted text.
bool parseIrText(const std::string& text, irFields& fields);

struct hubCount {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    void add(std::size_t size)
    {
        ++messages;
        bytes += size;
    }
};

struct hubRange {
    std::optional<long> min;
    std::optional<long> max;
    void see(long value)
    {
        if (!min || value < *min)
            min = value;
        if (!max || value > *max)
            max = value;
    }
};

class hubTraffic {
public:
    using deviceTest = std::function<bool(long device)>;

    // Devices are counted apart only from 1 to deviceLimit, the numbers the
    // hub serves; every other field 1 counts as "unknown", so that a peer
    // sending made-up numbers cannot grow the counts without bound.
    explicit hubTraffic(unsigned long deviceLimit = 4094) : m_deviceLimit(deviceLimit) {}

    // Counts one command text, received in that second of the run (0 being
    // the first); false when it is a malformed IR text.
    bool record(const std::string& text, const deviceTest& isRegistered, std::size_t second = 0);
    void recordBadFrame() { ++m_badFrames; }
    void recordValue() { ++m_values; }

    const hubCount& total() const { return m_total; }
    std::uint64_t malformed() const { return m_malformed; }
    std::uint64_t badFrames() const { return m_badFrames; }
    const std::map<std::string, hubCount>& words() const { return m_words; }
    const hubSeries& series() const { return m_series; }

    std::string summaryText(double seconds) const;
    std::string summaryJson(double seconds, std::size_t drivers) const;

private:
    std::string deviceKey(const std::string& text) const;

    unsigned long m_deviceLimit;
    hubCount m_total;
    std::map<std::string, hubCount> m_words;
    std::map<std::string, hubCount> m_devices;
    hubSeries m_series;
    hubRange m_slots;
    hubRange m_sizes;
    std::uint64_t m_malformed = 0;
    std::uint64_t m_badFrames = 0;
    std::uint64_t m_values = 0;
};

#endif
