#include "hubTraffic.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

// A %d field: optional minus, digits, within int.
bool takeInt(const std::string& text, std::size_t& at, long& value)
{
    const std::size_t start = at;
    if (at < text.size() && text[at] == '-')
        ++at;
    const std::size_t digits = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        ++at;
    if (at == digits || at - start > 11)
        return false;
    errno = 0;
    const long long parsed = std::strtoll(text.substr(start, at - start).c_str(), nullptr, 10);
    if (errno != 0 || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<long>(parsed);
    return true;
}

bool takeText(const std::string& text, std::size_t& at, const char* expected)
{
    const std::string want(expected);
    if (text.compare(at, want.size(), want) != 0)
        return false;
    at += want.size();
    return true;
}

const char* const countedWords[] = {"IR", "NS", "RM", "RD"};

std::string commandWord(const std::string& text)
{
    const std::string word = text.substr(0, text.find(' '));
    for (const char* known : countedWords)
        if (word == known)
            return word;
    return "other";
}

std::string rangeJson(const std::optional<long>& value)
{
    return value ? std::to_string(*value) : "null";
}

std::string rangeText(const hubRange& range)
{
    if (!range.min)
        return "none";
    return std::to_string(*range.min) + ".." + std::to_string(*range.max);
}

std::string fixed(double value)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3f", value);
    return buffer;
}

double perSecond(std::uint64_t count, double seconds)
{
    return seconds > 0 ? static_cast<double>(count) / seconds : 0.0;
}

void countsJson(std::ostringstream& out, const std::map<std::string, hubCount>& counts)
{
    out << '{';
    const char* comma = "";
    for (const auto& [key, count] : counts) {
        out << comma << '"' << key << "\":{\"messages\":" << count.messages
            << ",\"bytes\":" << count.bytes << '}';
        comma = ",";
    }
    out << '}';
}

} // namespace

bool parseIrText(const std::string& text, irFields& fields)
{
    std::size_t at = 0;
    if (!takeText(text, at, "IR ") || !takeInt(text, at, fields.device) || !takeText(text, at, " ") ||
        !takeInt(text, at, fields.slot) || !takeText(text, at, " '"))
        return false;
    const std::string closing = "' 0";
    if (text.size() < at + closing.size() || text.compare(text.size() - closing.size(), closing.size(), closing) != 0)
        return false;
    fields.text = text.substr(at, text.size() - closing.size() - at);
    /* Two memchr scans: find_first_of would search the set anew for every character. */
    const std::size_t size = fields.text.size();
    return std::memchr(fields.text.data(), '\'', size) == nullptr && std::memchr(fields.text.data(), '%', size) == nullptr;
}

std::string hubTraffic::deviceKey(const std::string& text) const
{
    std::size_t at = text.find(' ');
    long device = 0;
    if (at == std::string::npos || !takeInt(text, ++at, device))
        return "unknown";
    if (at < text.size() && text[at] != ' ')
        return "unknown";
    if (device < 1 || static_cast<unsigned long>(device) > m_deviceLimit)
        return "unknown";
    return std::to_string(device);
}

bool hubTraffic::record(const std::string& text, const deviceTest& isRegistered, std::size_t second)
{
    const std::string word = commandWord(text);
    const std::string device = deviceKey(text);
    m_total.add(text.size());
    m_words[word].add(text.size());
    m_devices[device].add(text.size());
    m_series.add(device, text.size(), second);
    if (word != "IR")
        return true;
    irFields fields;
    if (!parseIrText(text, fields) || !isRegistered(fields.device)) {
        ++m_malformed;
        return false;
    }
    m_slots.see(fields.slot);
    m_sizes.see(static_cast<long>(fields.text.size()));
    return true;
}

std::string hubTraffic::summaryText(double seconds) const
{
    std::ostringstream out;
    out << "kivstandin summary\n"
        << "  messages   " << m_total.messages << " in " << fixed(seconds) << " s ("
        << fixed(perSecond(m_total.messages, seconds)) << " per second)\n"
        << "  bytes      " << m_total.bytes << " (" << fixed(perSecond(m_total.bytes, seconds))
        << " per second)\n"
        << "  words     ";
    for (const auto& [word, count] : m_words)
        out << ' ' << word << ' ' << count.messages << '/' << count.bytes;
    out << (m_words.empty() ? " none" : "") << " (messages/bytes)\n"
        << "  IR slots   " << rangeText(m_slots) << "\n"
        << "  IR sizes   " << rangeText(m_sizes) << "\n"
        << "  malformed  " << m_malformed << "\n"
        << "  bad frames " << m_badFrames << "\n"
        << "  values     " << m_values << "\n";
    return out.str();
}

std::string hubTraffic::summaryJson(double seconds, std::size_t drivers) const
{
    std::ostringstream out;
    out << "{\"messages\":" << m_total.messages << ",\"bytes\":" << m_total.bytes
        << ",\"seconds\":" << fixed(seconds) << ",\"rate\":" << fixed(perSecond(m_total.messages, seconds))
        << ",\"byte_rate\":" << fixed(perSecond(m_total.bytes, seconds)) << ",\"malformed\":" << m_malformed
        << ",\"bad_frames\":" << m_badFrames << ",\"values\":" << m_values << ",\"slot_min\":" << rangeJson(m_slots.min)
        << ",\"slot_max\":" << rangeJson(m_slots.max) << ",\"size_min\":" << rangeJson(m_sizes.min)
        << ",\"size_max\":" << rangeJson(m_sizes.max) << ",\"words\":";
    countsJson(out, m_words);
    out << ",\"devices\":";
    countsJson(out, m_devices);
    out << ",\"series\":" << m_series.json(m_series.secondsFor(seconds)) << ",\"drivers\":" << drivers << "}\n";
    return out.str();
}
