// The driver's message window fed foreign WM_COPYDATA: fuzzed dwData,
// cbData and bytes, claimed to come from KIV's window, from the driver's own,
// from none or from any slot. The procedure hands each block to
// relayReceive. Oracles: the window takes every block (1); a request is
// answered once, to the sender's slot, with a reply that carries the relay's
// answer tag and gives back the value as eight hex digits or the text as it
// came, zero-padded to the relay's size; system messages never reach the
// driver (no answer, nothing told); a relayed text 2189 reaches the callback
// whole; a stored answer never passes for the result of a later exchange
// that got none; the driver stays connected to its KIV.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "relayHarness.h"
#include "rkhost.h"
#include "telmwm32.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using rkfuzz::FuzzInput;
using rkfuzz::relayHarness;

namespace {

constexpr size_t maxBlocksPerInput = 8;
constexpr size_t maxPayload = 2048;

struct foreignCopy {
    ULONG_PTR dwData = 0;
    std::string payload;
    bool nullData = false;
    WPARAM sender = 0;

    UINT message() const { return static_cast<UINT>((dwData >> 16) & 0xffff); }
    bool isReadable() const { return !(nullData && !payload.empty()); }
    bool isSystem() const { return message() < WM_USER; }
    // What the relay answers: a readable request for a message above the system's.
    bool isRequest() const { return isReadable() && !isSystem() && message() != RELAY_REPLY; }
    bool isValue() const { return payload.size() == RELAY_VALUE_BYTES; }
};

WPARAM senderFrom(uint8_t choice, FuzzInput& input)
{
    relayHarness& harness = relayHarness::instance();
    const auto kiv = reinterpret_cast<WPARAM>(harness.kiv().handle());
    switch (choice % 8) {
    case 0:
    case 1:
        return kiv;
    case 2:
        return LOWORD(kiv);
    case 3:
        return reinterpret_cast<WPARAM>(harness.driverWindow());
    case 4:
        return 0;
    default:
        return static_cast<WPARAM>(input.number(2));
    }
}

foreignCopy copyFrom(FuzzInput& input)
{
    foreignCopy copy;
    const uint8_t flags = input.byte();
    copy.sender = senderFrom(flags, input);
    copy.nullData = (flags & 8) != 0;
    copy.dwData = static_cast<ULONG_PTR>(input.number(4));
    if (flags & 16)
        copy.dwData |= static_cast<ULONG_PTR>(input.number(4)) << 32;
    copy.payload = input.bytes(input.number(2) % (maxPayload + 1));
    return copy;
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::string lowered(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool allZero(const std::string& bytes, size_t from)
{
    return std::all_of(bytes.begin() + static_cast<long>(std::min(from, bytes.size())), bytes.end(),
                       [](char c) { return c == '\0'; });
}

void checkValueReply(const foreignCopy& copy, const rkfuzz::copyArrival& reply)
{
    FUZZ_CHECK(reply.bytes.size() == RELAY_VALUE_BYTES, "a value is answered in another size");
    const std::string digits = reply.bytes.substr(0, 8);
    FUZZ_CHECK(std::all_of(digits.begin(), digits.end(), isHexDigit) && lowered(digits) == digits && allZero(reply.bytes, 8),
               "a value answer is not eight hex digits");
    const std::string asked = copy.nullData ? std::string() : copy.payload.substr(0, 8);
    if (asked.size() == 8 && std::all_of(asked.begin(), asked.end(), isHexDigit))
        FUZZ_CHECK(digits == lowered(asked), "a value comes back changed");
}

void checkTextReply(const foreignCopy& copy, const rkfuzz::copyArrival& reply)
{
    FUZZ_CHECK(reply.bytes.size() == std::max<size_t>(copy.payload.size(), RELAY_TEXT_BYTES),
               "a text is answered in another size");
    FUZZ_CHECK(reply.bytes.compare(0, copy.payload.size(), copy.payload) == 0 && allZero(reply.bytes, copy.payload.size()),
               "a text comes back changed");
}

void checkReply(const foreignCopy& copy, const rkfuzz::copyArrival& reply)
{
    FUZZ_CHECK(reply.dwData <= 0xffffffffU && (reply.dwData >> 16) == RELAY_REPLY, "an answer without the answer tag");
    const unsigned result = static_cast<unsigned>(reply.dwData & 0xffff);
    if (copy.message() == 2189 && !copy.isValue())
        FUZZ_CHECK(result == 1, "a relayed text was not taken");
    if (copy.isValue())
        checkValueReply(copy, reply);
    else
        checkTextReply(copy, reply);
}

// What arrives at KIV: one answer when the sender's slot is KIV's window, and
// none for an answer, a system message or a block that cannot be read.
void checkAnswers(const foreignCopy& copy, const std::vector<rkfuzz::copyArrival>& arrived)
{
    const WORD slot = LOWORD(copy.sender);
    if (slot == 0xffff)
        return; // HWND_BROADCAST: whether a broadcast copy arrives is the platform's business
    const bool toKiv = slot == LOWORD(reinterpret_cast<WPARAM>(relayHarness::instance().kiv().handle()));
    if (!copy.isRequest() || !toKiv) {
        FUZZ_CHECK(arrived.empty(), "KIV got an answer that nobody asked for");
        return;
    }
    FUZZ_CHECK(arrived.size() == 1, "a request was not answered exactly once");
    checkReply(copy, arrived.front());
}

void checkToldDriver(const foreignCopy& copy, const std::vector<std::string>& events)
{
    if (copy.isSystem() || !copy.isReadable()) {
        FUZZ_CHECK(events.empty(), "a relayed system message or an unreadable block reached the driver");
        return;
    }
    if (copy.message() == 2189 && !copy.isValue()) {
        const std::string text = std::string(copy.nullData ? "" : copy.payload.c_str());
        FUZZ_CHECK(events.size() == 1 && events.front() == "text " + text, "a relayed text was not delivered whole");
    }
}

// An exchange that gets no answer gives 0 and leaves its buffer, whatever
// answer was stored before.
void checkNoStaleAnswer()
{
    std::vector<char> buffer(RELAY_TEXT_BYTES, 'a');
    const std::vector<char> before = buffer;
    const DWORD result = relaySend(relayHarness::instance().kiv().handle(), nullptr, 2189, 0,
                                   reinterpret_cast<LPARAM>(buffer.data()), RELAY_TEXT_BYTES, 1);
    FUZZ_CHECK(result == 0 && buffer == before, "a stored answer passed for a missing one");
}

void feed(const foreignCopy& copy)
{
    relayHarness& harness = relayHarness::instance();
    const size_t arrivedBefore = harness.kiv().copies.size();
    harness.callback().events.clear();
    COPYDATASTRUCT copyData;
    copyData.dwData = copy.dwData;
    copyData.cbData = static_cast<DWORD>(copy.payload.size());
    copyData.lpData = copy.nullData ? nullptr : const_cast<char*>(copy.payload.data());
    const LRESULT taken =
        SendMessageA(harness.driverWindow(), WM_COPYDATA, copy.sender, reinterpret_cast<LPARAM>(&copyData));
    FUZZ_CHECK(taken == 1, "the message window did not take a WM_COPYDATA");
    rkDispatchPendingMessages();
    std::vector<rkfuzz::copyArrival>& copies = harness.kiv().copies;
    checkAnswers(copy, std::vector<rkfuzz::copyArrival>(copies.begin() + static_cast<long>(arrivedBefore), copies.end()));
    copies.clear();
    checkToldDriver(copy, harness.callback().events);
    if (copy.isReadable() && copy.message() == RELAY_REPLY)
        checkNoStaleAnswer();
}

void checkStillConnected()
{
    relayHarness& harness = relayHarness::instance();
    FUZZ_CHECK(harness.driver().getMessageWindow() == harness.driverWindow() && IsWindow(harness.driverWindow()),
               "the driver lost its message window");
    FUZZ_CHECK(harness.driver().isConnected() && harness.driver().getKivWindow() == harness.kiv().handle(),
               "the driver lost its KIV");
    FUZZ_CHECK(harness.kiv().otherMessages == 0, "the relay sent KIV something besides answers");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    relayHarness::instance();
    FuzzInput input(data, size);
    for (size_t i = 0; i < maxBlocksPerInput && !input.empty(); ++i)
        feed(copyFrom(input));
    checkStillConnected();
    return 0;
}
