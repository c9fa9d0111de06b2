#include "hubSeries.h"

#include <algorithm>
#include <charconv>

namespace {

void appendNumber(std::string& out, std::uint64_t value)
{
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, written.ptr);
}

} // namespace

hubSeries::deviceCounts& hubSeries::device(std::string_view key)
{
    auto found = m_devices.find(key);
    if (found == m_devices.end())
        found = m_devices.emplace(std::string(key), deviceCounts()).first;
    return found->second;
}

void hubSeries::add(deviceCounts& counts, std::size_t bytes, std::size_t second)
{
    second = std::max(second, m_taken);
    if (counts.empty() || counts.back().second < second)
        counts.push_back({second, 0, 0});
    ++counts.back().commands;
    counts.back().bytes += bytes;
}

std::string hubSeries::takeCsvRows(std::size_t before)
{
    struct row {
        const std::string* device;
        secondCounts counts;
    };
    std::vector<row> rows;
    for (const auto& [device, counts] : m_devices)
        for (const secondCounts& counted : counts) {
            if (counted.second >= before)
                break;
            rows.push_back({&device, counted});
        }
    // Gathered device by device, written second by second, devices in key order within each.
    std::stable_sort(rows.begin(), rows.end(),
                     [](const row& a, const row& b) { return a.counts.second < b.counts.second; });
    std::string out;
    for (const row& r : rows) {
        appendNumber(out, r.counts.second + 1);
        out += ',';
        out += *r.device;
        out += ',';
        appendNumber(out, r.counts.commands);
        out += ',';
        appendNumber(out, r.counts.bytes);
        out += '\n';
    }
    dropSeconds(before);
    return out;
}

void hubSeries::dropSeconds(std::size_t before)
{
    for (auto& [device, counts] : m_devices) {
        const auto kept = std::find_if(counts.begin(), counts.end(),
                                       [before](const secondCounts& counted) { return counted.second >= before; });
        counts.erase(counts.begin(), kept);
    }
    m_taken = std::max(m_taken, before);
}
