// The commands that the stand-in hub reads from its standard input.
#include "kivStandin.h"

#include "hubMessages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

bool parseNumber(const std::string& text, long long low, long long high, long long& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= low && value <= high;
}

std::vector<std::string> splitWords(const std::string& line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// The rest of the line after its first count words and the blanks after them.
std::string restAfterWords(const std::string& line, std::size_t count)
{
    const char* blanks = " \t";
    std::size_t at = line.find_first_not_of(blanks);
    for (std::size_t i = 0; i < count && at != std::string::npos; ++i) {
        at = line.find_first_of(blanks, at);
        if (at != std::string::npos)
            at = line.find_first_not_of(blanks, at);
    }
    return at == std::string::npos ? std::string() : line.substr(at);
}

std::string relayResultText(bool replied, unsigned result)
{
    return replied ? std::to_string(result) : "none";
}

} // namespace

void kivStandin::runCommand(const std::string& rawLine)
{
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    const std::vector<std::string> words = splitWords(line);
    if (words.empty())
        return;
    const std::string& command = words[0];
    if (command == "ns")
        commandRelayText(words, line, false);
    else if (command == "text")
        commandRelayText(words, line, true);
    else if (command == "db")
        commandDatabase(words);
    else if (command == "db32")
        commandDatabase32(words);
    else if (command == "ask")
        commandAsk(words);
    else if (command == "close")
        hubSay("ok close " + std::to_string(announceClosing()));
    else if (command == "goodbye")
        commandGoodbye(words);
    else if (command == "status")
        commandStatus();
    else if (command == "quit") {
        m_finished = true;
        hubSay("ok quit");
    } else
        hubSay("error unknown command " + command + " (see --help)");
}

std::optional<hubDriver> kivStandin::driverFor(const std::string& device, const std::string& command)
{
    long long number = 0;
    if (!parseNumber(device, 0, 0xffffffffLL, number)) {
        hubSay("error " + command + " bad device " + device);
        return std::nullopt;
    }
    const hubDriver* driver = m_drivers.find(static_cast<unsigned long>(number));
    if (driver == nullptr) {
        hubSay("error " + command + " no driver for device " + device);
        return std::nullopt;
    }
    return *driver;
}

void kivStandin::commandRelayText(const std::vector<std::string>& words, const std::string& line, bool withWParam)
{
    const std::string command = words[0];
    const std::size_t textWord = withWParam ? 3 : 2;
    if (words.size() < textWord) {
        hubSay("error " + command + " usage: " + command + (withWParam ? " DEVICE WPARAM TEXT" : " DEVICE TEXT"));
        return;
    }
    long long wParam = 0;
    if (withWParam && !parseNumber(words[2], 0, 0xffff, wParam)) {
        hubSay("error " + command + " bad wParam " + words[2] + " (0 to 65535)");
        return;
    }
    const std::string text = restAfterWords(line, textWord);
    if (text.size() >= relayTextSize) {
        hubSay("error " + command + " text longer than " + std::to_string(relayTextSize - 1) + " characters");
        return;
    }
    const std::optional<hubDriver> driver = driverFor(words[1], command);
    if (!driver)
        return;
    relayExchange exchange;
    if (!relaySend(driver->window, withWParam ? msgTextMessage : msgNSMessage, static_cast<unsigned>(wParam),
                   text.c_str(), text.size() + 1, exchange)) {
        hubSay("error " + command + " device " + words[1] + " did not take the message");
        return;
    }
    hubSay("ok " + command + " " + words[1] + " " + relayResultText(exchange.replied, exchange.result));
}

void kivStandin::commandDatabase(const std::vector<std::string>& words)
{
    long long index = 0;
    long long database = 0;
    if (words.size() != 4 || !parseNumber(words[2], 0, 0xffff, index) || !parseNumber(words[3], 0, 0xffff, database)) {
        hubSay("error db usage: db DEVICE INDEX DATABASE (index and database 0 to 65535)");
        return;
    }
    const std::optional<hubDriver> driver = driverFor(words[1], "db");
    if (!driver)
        return;
    const auto lParam = static_cast<LPARAM>(static_cast<DWORD>(index | (database << 16)));
    LRESULT ignored = 0;
    if (!sendValue(*driver, msgDatabaseChange, static_cast<WPARAM>(driver->device), lParam, ignored)) {
        hubSay("error db device " + words[1] + " does not fit the 2074 wrap; use db32");
        return;
    }
    hubSay("ok db " + words[1]);
}

void kivStandin::commandDatabase32(const std::vector<std::string>& words)
{
    long long index = 0;
    long long database = 0;
    const long long low = -0x80000000LL;
    if (words.size() != 4 || !parseNumber(words[2], low, 0xffffffffLL, index) ||
        !parseNumber(words[3], low, 0xffffffffLL, database)) {
        hubSay("error db32 usage: db32 DEVICE INDEX DATABASE (32-bit numbers)");
        return;
    }
    const std::optional<hubDriver> driver = driverFor(words[1], "db32");
    if (!driver)
        return;
    const std::uint32_t record[3] = {static_cast<std::uint32_t>(driver->device), static_cast<std::uint32_t>(index),
                                     static_cast<std::uint32_t>(database)};
    relayExchange exchange;
    if (!relaySend(driver->window, msgDatabaseChangeWide, 0, record, sizeof record, exchange)) {
        hubSay("error db32 device " + words[1] + " did not take the message");
        return;
    }
    hubSay("ok db32 " + words[1] + " " + relayResultText(exchange.replied, exchange.result));
}

void kivStandin::commandAsk(const std::vector<std::string>& words)
{
    long long message = 0;
    if (words.size() != 3 || !parseNumber(words[2], 0, 0xffff, message) ||
        (message != msgDeclineState2 && message != msgTakeState2 && message != msgAcceptState2 &&
         message != msgTakeState1)) {
        hubSay("error ask usage: ask DEVICE MSG (MSG 2179, 2180, 2181 or 2190)");
        return;
    }
    const std::optional<hubDriver> driver = driverFor(words[1], "ask");
    if (!driver)
        return;
    LRESULT result = 0;
    sendValue(*driver, static_cast<UINT>(message), 0, 0, result);
    // The driver's answer moves the state KIV holds for it.
    if (hubDriver* still = m_drivers.find(driver->device)) {
        if (message == msgTakeState2 && result == 1)
            still->state = 2;
        else if (message == msgTakeState1)
            still->state = 1;
    }
    const std::string answerText = words[1] + " " + words[2] + " " + std::to_string(result);
    hubSay("answer " + answerText);
    hubSay("ok ask " + answerText);
}

// The closing message to one driver, so that a run can end a driver while
// the others go on; the driver unregisters by itself, as at closing.
void kivStandin::commandGoodbye(const std::vector<std::string>& words)
{
    if (words.size() != 2) {
        hubSay("error goodbye usage: goodbye DEVICE");
        return;
    }
    const std::optional<hubDriver> driver = driverFor(words[1], "goodbye");
    if (!driver)
        return;
    LRESULT ignored = 0;
    sendValue(*driver, msgKivClosing, 0, 0, ignored);
    logEvent("said goodbye to device " + words[1]);
    hubSay("ok goodbye " + words[1]);
}

void kivStandin::commandStatus()
{
    const std::vector<hubDriver> drivers = m_drivers.snapshot();
    for (const hubDriver& driver : drivers)
        hubSay("driver " + std::to_string(driver.device) + " " +
               std::to_string(reinterpret_cast<std::uintptr_t>(driver.window)) + " " + std::to_string(driver.mode) +
               " " + std::to_string(driver.state));
    char started[48];
    std::snprintf(started, sizeof started, "run started_utc=%.3f", m_startedUtc);
    hubSay(started);
    hubSay("counts messages=" + std::to_string(m_traffic.total().messages) + " malformed=" +
           std::to_string(m_traffic.malformed()) + " bad_frames=" + std::to_string(m_traffic.badFrames()));
    hubSay("ok status " + std::to_string(drivers.size()));
}
