// Commands and bytes per device and second of the hub's run: how the load
// went over time, where the summary's totals only say how much came.
#ifndef HUB_SERIES_H
#define HUB_SERIES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class hubSeries {
    struct count {
        std::uint64_t commands = 0;
        std::uint64_t bytes = 0;
    };

public:
    using deviceCounts = std::vector<count>;

    // The counts of a device (the summary's device key), made empty on first
    // use; they stay where they are as other devices are added.
    deviceCounts& device(std::string_view key);
    // Counts one text of that many bytes in a second of the run, 0 being the first.
    void add(deviceCounts& counts, std::size_t bytes, std::size_t second);
    void add(std::string_view key, std::size_t bytes, std::size_t second) { add(device(key), bytes, second); }

    // The seconds a run of that length covers: every second begun (at least
    // the first) and every second that has counts.
    std::size_t secondsFor(double elapsedSeconds) const;

    // {"seconds":N,"devices":{DEVICE:{"commands":[...],"bytes":[...]}}},
    // N numbers per array, zeros included.
    std::string json(std::size_t seconds) const;

    // CSV rows "second,device,commands,bytes" of the seconds from..to-1 (the
    // column counts from 1), one per device seen so far.
    std::string csvRows(std::size_t from, std::size_t to) const;
    static const char* csvHeader() { return "second,device,commands,bytes\n"; }

private:
    static count at(const deviceCounts& counts, std::size_t second);

    std::map<std::string, deviceCounts, std::less<>> m_devices;
    std::size_t m_counted = 0; // one past the latest second with counts
};

#endif
