// What the stand-in hub counts of the command texts it receives.
#ifndef HUB_TRAFFIC_H
#define HUB_TRAFFIC_H

#include "hubSeries.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct irFields {
    long device = 0;
    long slot = 0;
    std::string_view text; // inside the parsed text
};

// True when text reads exactly "IR %d %d '%s' 0" with no apostrophe or
// percent sign inside the quoted text.
bool parseIrText(std::string_view text, irFields& fields);

struct hubCount {
    std::uint64_t messages = 0;
    std::uint64_t bytes = 0;
    void add(std::size_t size)
    {
        ++messages;
        bytes += size;
    }
};

// Keyed by word; looked up by view, without a copy of the key.
using hubCounts = std::map<std::string, hubCount, std::less<>>;

struct hubDeviceCount : hubCount {
    std::uint64_t malformed = 0; // malformed IR texts among them
};
using hubDeviceCounts = std::map<std::string, hubDeviceCount, std::less<>>;

// One registration as it was asked for and answered, refusals included.
struct hubRegistration {
    unsigned long device = 0;
    std::uintptr_t window = 0;
    int mode = 0;
    long reply = 0;
    double seconds = 0; // since the hub's start
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
    // It points into its own maps.
    hubTraffic(const hubTraffic&) = delete;
    hubTraffic& operator=(const hubTraffic&) = delete;

    // What counting a text needs of it, so that the text may be gone by then.
    struct judgement {
        std::string_view word; // one of the words' static names
        unsigned long device = 0; // 0 for "unknown"
        std::size_t bytes = 0;
        bool wellFormed = true;
        long slot = 0;
        std::size_t irTextBytes = 0;
    };
    // Whether a command text is well formed, without counting it.
    judgement judge(std::string_view text, const deviceTest& isRegistered) const;
    // Counts a judged text, received in that second of the run (0 being the first).
    void count(const judgement& judged, std::size_t second);
    // Both at once; false when it is a malformed IR text.
    bool record(std::string_view text, const deviceTest& isRegistered, std::size_t second = 0)
    {
        const judgement judged = judge(text, isRegistered);
        count(judged, second);
        return judged.wellFormed;
    }
    void recordBadFrame() { ++m_badFrames; }
    void recordValue() { ++m_values; }
    // Only the first registrationsKept are kept, the rest counted, so that a
    // peer registering in a loop cannot grow the hub without bound.
    void recordRegistration(const hubRegistration& registration);
    static constexpr std::size_t registrationsKept = 10000;

    const hubCount& total() const { return m_total; }
    std::uint64_t malformed() const { return m_malformed; }
    std::uint64_t badFrames() const { return m_badFrames; }
    const hubCounts& words() const { return m_words; }
    // The hub takes the seconds that have passed from it.
    hubSeries& series() { return m_series; }

    std::string summaryText(double seconds) const;
    // startedUtc: Unix seconds when the run began.
    // workstation: as the configuration library gives it, 0 when none is configured.
    std::string summaryJson(double seconds, std::size_t drivers, double startedUtc, int workstation = 0) const;

private:
    unsigned long deviceNumber(std::string_view text) const;
    unsigned long servedDevice(long device) const;
    void countKeys(std::string_view word, unsigned long device, std::size_t bytes, std::size_t second);

    unsigned long m_deviceLimit;
    hubCount m_total;
    hubCounts m_words;
    hubDeviceCounts m_devices;
    hubSeries m_series;
    // Where the last text was counted: a driver sends its commands in
    // bursts, and each burst's texts share their word and device.
    struct {
        std::string_view word;
        unsigned long device = 0;
        hubCount* wordCount = nullptr;
        hubDeviceCount* deviceCount = nullptr;
        hubSeries::deviceCounts* series = nullptr;
    } m_last;
    hubRange m_slots;
    hubRange m_sizes;
    std::uint64_t m_malformed = 0;
    std::uint64_t m_badFrames = 0;
    std::uint64_t m_values = 0;
    std::vector<hubRegistration> m_registrations;
    std::uint64_t m_registrationsDropped = 0;
};

#endif
