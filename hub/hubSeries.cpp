#include "hubSeries.h"

#include <cmath>
#include <sstream>

hubSeries::deviceCounts& hubSeries::device(std::string_view key)
{
    auto found = m_devices.find(key);
    if (found == m_devices.end())
        found = m_devices.emplace(std::string(key), deviceCounts()).first;
    return found->second;
}

void hubSeries::add(deviceCounts& counts, std::size_t bytes, std::size_t second)
{
    if (counts.size() <= second)
        counts.resize(second + 1);
    ++counts[second].commands;
    counts[second].bytes += bytes;
    if (second + 1 > m_counted)
        m_counted = second + 1;
}

std::size_t hubSeries::secondsFor(double elapsedSeconds) const
{
    std::size_t begun = 1;
    if (elapsedSeconds > 1)
        begun = static_cast<std::size_t>(std::ceil(elapsedSeconds));
    return begun > m_counted ? begun : m_counted;
}

hubSeries::count hubSeries::at(const deviceCounts& counts, std::size_t second)
{
    return second < counts.size() ? counts[second] : count{};
}

std::string hubSeries::json(std::size_t seconds) const
{
    std::ostringstream out;
    out << "{\"seconds\":" << seconds << ",\"devices\":{";
    const char* comma = "";
    for (const auto& [device, counts] : m_devices) {
        out << comma << '"' << device << "\":{\"commands\":[";
        for (std::size_t s = 0; s < seconds; ++s)
            out << (s ? "," : "") << at(counts, s).commands;
        out << "],\"bytes\":[";
        for (std::size_t s = 0; s < seconds; ++s)
            out << (s ? "," : "") << at(counts, s).bytes;
        out << "]}";
        comma = ",";
    }
    out << "}}";
    return out.str();
}

std::string hubSeries::csvRows(std::size_t from, std::size_t to) const
{
    std::ostringstream out;
    for (std::size_t s = from; s < to; ++s)
        for (const auto& [device, counts] : m_devices) {
            const count c = at(counts, s);
            out << s + 1 << ',' << device << ',' << c.commands << ',' << c.bytes << '\n';
        }
    return out.str();
}
