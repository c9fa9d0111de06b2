#include "hubTraffic.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <sstream>

namespace {

// A %d field: optional minus, digits, within int.
bool takeInt(std::string_view text, std::size_t& at, long& value)
{
    const std::size_t start = at;
    if (at < text.size() && text[at] == '-')
        ++at;
    const std::size_t digits = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        ++at;
    if (at == digits || at - start > 11)
        return false;
    long long parsed = 0;
    const auto [end, error] = std::from_chars(text.data() + start, text.data() + at, parsed);
    if (error != std::errc() || end != text.data() + at || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<long>(parsed);
    return true;
}

// The pieces compared here are a few characters long: a loop beats a library call.
bool sameText(const char* text, std::string_view expected)
{
    for (std::size_t i = 0; i < expected.size(); ++i)
        if (text[i] != expected[i])
            return false;
    return true;
}

bool takeText(std::string_view text, std::size_t& at, std::string_view expected)
{
    if (at > text.size() || text.size() - at < expected.size() || !sameText(text.data() + at, expected))
        return false;
    at += expected.size();
    return true;
}

const std::string_view countedWords[] = {"IR", "NS", "RM", "RD"};

// Every counted word has two letters; the first word of any other text counts as "other".
std::string_view commandWord(std::string_view text)
{
    const bool twoLetters = text.size() == 2 || (text.size() > 2 && text[2] == ' ');
    for (std::string_view known : countedWords)
        if (twoLetters && sameText(text.data(), known))
            return known;
    return "other";
}

template <typename Counts>
typename Counts::mapped_type& countFor(Counts& counts, std::string_view key)
{
    auto found = counts.find(key);
    if (found == counts.end())
        found = counts.emplace(std::string(key), typename Counts::mapped_type()).first;
    return found->second;
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

template <typename Counts>
void countsJson(std::ostringstream& out, const Counts& counts)
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

void malformedJson(std::ostringstream& out, const hubDeviceCounts& devices)
{
    out << '{';
    const char* comma = "";
    for (const auto& [key, count] : devices) {
        out << comma << '"' << key << "\":" << count.malformed;
        comma = ",";
    }
    out << '}';
}

void registrationsJson(std::ostringstream& out, const std::vector<hubRegistration>& registrations)
{
    out << '[';
    const char* comma = "";
    for (const hubRegistration& r : registrations) {
        out << comma << "{\"device\":" << r.device << ",\"window\":" << r.window << ",\"mode\":" << r.mode
            << ",\"reply\":" << r.reply << ",\"time\":" << fixed(r.seconds) << '}';
        comma = ",";
    }
    out << ']';
}

} // namespace

bool parseIrText(std::string_view text, irFields& fields)
{
    std::size_t at = 0;
    if (!takeText(text, at, "IR ") || !takeInt(text, at, fields.device) || !takeText(text, at, " ") ||
        !takeInt(text, at, fields.slot) || !takeText(text, at, " '"))
        return false;
    const std::string_view closing = "' 0";
    if (text.size() < at + closing.size() || !sameText(text.data() + text.size() - closing.size(), closing))
        return false;
    fields.text = text.substr(at, text.size() - closing.size() - at);
    return fields.text.find('\'') == std::string_view::npos && fields.text.find('%') == std::string_view::npos;
}

// The second field when it names a device the hub serves, else 0.
unsigned long hubTraffic::deviceNumber(std::string_view text) const
{
    std::size_t at = text.find(' ');
    long device = 0;
    if (at == std::string_view::npos || !takeInt(text, ++at, device))
        return 0;
    if (at < text.size() && text[at] != ' ')
        return 0;
    return servedDevice(device);
}

unsigned long hubTraffic::servedDevice(long device) const
{
    if (device < 1 || static_cast<unsigned long>(device) > m_deviceLimit)
        return 0;
    return static_cast<unsigned long>(device);
}

hubTraffic::judgement hubTraffic::judge(std::string_view text, const deviceTest& isRegistered) const
{
    judgement judged;
    judged.word = commandWord(text);
    judged.bytes = text.size();
    const bool isIr = judged.word == "IR";
    irFields fields;
    const bool parsed = isIr && parseIrText(text, fields);
    // A parsed IR text has read the field that the counts go by already.
    judged.device = parsed ? servedDevice(fields.device) : deviceNumber(text);
    judged.wellFormed = !isIr || (parsed && isRegistered(fields.device));
    judged.slot = fields.slot;
    judged.irTextBytes = fields.text.size();
    return judged;
}

void hubTraffic::count(const judgement& judged, std::size_t second)
{
    countKeys(judged.word, judged.device, judged.bytes, second);
    if (!judged.wellFormed) {
        ++m_malformed;
        ++m_last.deviceCount->malformed;
    } else if (judged.word == "IR") {
        m_slots.see(judged.slot);
        m_sizes.see(static_cast<long>(judged.irTextBytes));
    }
}

// Map nodes stay where they are, so the last text's entries can be kept.
void hubTraffic::countKeys(std::string_view word, unsigned long device, std::size_t bytes, std::size_t second)
{
    if (m_last.wordCount == nullptr || word != m_last.word || device != m_last.device) {
        const std::string key = device == 0 ? "unknown" : std::to_string(device);
        m_last.word = word; // one of the words' static names
        m_last.device = device;
        m_last.wordCount = &countFor(m_words, word);
        m_last.deviceCount = &countFor(m_devices, key);
        m_last.series = &m_series.device(key);
    }
    m_total.add(bytes);
    m_last.wordCount->add(bytes);
    m_last.deviceCount->add(bytes);
    m_series.add(*m_last.series, bytes, second);
}

void hubTraffic::recordRegistration(const hubRegistration& registration)
{
    if (m_registrations.size() < registrationsKept)
        m_registrations.push_back(registration);
    else
        ++m_registrationsDropped;
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

std::string hubTraffic::summaryJson(double seconds, std::size_t drivers, double startedUtc, int workstation) const
{
    std::ostringstream out;
    out << "{\"messages\":" << m_total.messages << ",\"bytes\":" << m_total.bytes
        << ",\"seconds\":" << fixed(seconds) << ",\"started_utc\":" << fixed(startedUtc)
        << ",\"workstation\":" << workstation
        << ",\"rate\":" << fixed(perSecond(m_total.messages, seconds))
        << ",\"byte_rate\":" << fixed(perSecond(m_total.bytes, seconds)) << ",\"malformed\":" << m_malformed
        << ",\"bad_frames\":" << m_badFrames << ",\"values\":" << m_values << ",\"slot_min\":" << rangeJson(m_slots.min)
        << ",\"slot_max\":" << rangeJson(m_slots.max) << ",\"size_min\":" << rangeJson(m_sizes.min)
        << ",\"size_max\":" << rangeJson(m_sizes.max) << ",\"words\":";
    countsJson(out, m_words);
    out << ",\"devices\":";
    countsJson(out, m_devices);
    out << ",\"malformed_devices\":";
    malformedJson(out, m_devices);
    out << ",\"registrations\":";
    registrationsJson(out, m_registrations);
    out << ",\"registrations_dropped\":" << m_registrationsDropped << ",\"drivers\":" << drivers << "}\n";
    return out.str();
}
