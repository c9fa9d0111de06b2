// Commands and bytes per device and second of the hub's run: how the load
// went over time, where the summary's totals only say how much came.
#ifndef HUB_SERIES_H
#define HUB_SERIES_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class hubSeries {
public:
    // Counts one text of that many bytes for a device (the summary's device
    // key) in a second of the run, 0 being the first.
    void add(const std::string& device, std::size_t bytes, std::size_t second);

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
    struct count {
        std::uint64_t commands = 0;
        std::uint64_t bytes = 0;
    };
    static count at(const std::vector<count>& counts, std::size_t second);

    std::map<std::string, std::vector<count>> m_devices;
    std::size_t m_counted = 0; // one past the latest second with counts
};

#endif
