// Commands and bytes per device and second of the hub's run: how the load
// went over time, where the summary's totals only say how much came. Only
// the seconds not yet taken are kept, so a run of any length holds a few
// seconds per device at most.
#ifndef HUB_SERIES_H
#define HUB_SERIES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

class hubSeries {
    struct secondCounts {
        std::size_t second = 0;
        std::uint64_t commands = 0;
        std::uint64_t bytes = 0;
    };

public:
    // A device's seconds with counts that have not been taken, oldest first.
    // Taking them keeps the vector's room, so counting the next second
    // allocates nothing.
    using deviceCounts = std::vector<secondCounts>;

    // The counts of a device (the summary's device key), made empty on first
    // use; they stay where they are as other devices are added and as
    // seconds are taken.
    deviceCounts& device(std::string_view key);
    // Counts one text of that many bytes in a second of the run, 0 being the
    // first. A second already taken is past writing: its count goes to the
    // first second still kept, so that the rows still add up to the totals.
    void add(deviceCounts& counts, std::size_t bytes, std::size_t second);
    void add(std::string_view key, std::size_t bytes, std::size_t second) { add(device(key), bytes, second); }

    // CSV rows "second,device,commands,bytes" of the seconds before `before`
    // (the column counts from 1), one per device with counts in that second;
    // those seconds are forgotten.
    std::string takeCsvRows(std::size_t before);
    // The same seconds forgotten without making their rows.
    void dropSeconds(std::size_t before);
    static const char* csvHeader() { return "second,device,commands,bytes\n"; }

private:
    std::map<std::string, deviceCounts, std::less<>> m_devices;
    std::size_t m_taken = 0; // seconds before this one have been taken
};

#endif
