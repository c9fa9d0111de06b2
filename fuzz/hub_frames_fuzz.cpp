// The stand-in hub's reading of WM_COPYDATA: readFrame on fuzzed dwData,
// cbData and bytes, the hub's whole answer to the same block, and the
// parsing and counting of the command texts inside. Oracles: the frame
// read matches the rules of the relay and of telmif32 frames byte for byte
// (hubFrames.h, telmifFrame.h), never reading past cbData; numbers and
// headers survive their writers and readers; the hub answers what the hub
// interface prescribes (hubAnswers.h); an IR text that parses formats back
// into one that parses the same; the traffic counts add up.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "hubAnswers.h"
#include "hubFrames.h"
#include "hubTraffic.h"
#include "kivStandin.h"
#include "telmifFrame.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using rkfuzz::FuzzInput;

namespace {

struct copyBlock {
    ULONG_PTR dwData = 0;
    std::string payload;
    bool nullData = false;

    COPYDATASTRUCT view() const
    {
        COPYDATASTRUCT copyData;
        copyData.dwData = dwData;
        copyData.cbData = static_cast<DWORD>(payload.size());
        copyData.lpData = nullData ? nullptr : const_cast<char*>(payload.data());
        return copyData;
    }
};

// A well-formed telmif32 frame around the rest of the input; its header
// must read back as written.
std::string telmifFrame(FuzzInput& input)
{
    telmifFrameHeader header{};
    header.magic = telmifFrameMagic;
    header.message = static_cast<std::uint32_t>(input.number(4));
    header.wParam = input.number(8);
    header.textMode = static_cast<std::int32_t>(input.number(4));
    const std::string payload = input.rest();
    header.byteCount = static_cast<std::uint32_t>(payload.size());
    std::string frame(telmifHeaderSize, '\0');
    telmifPutHeader(reinterpret_cast<unsigned char*>(frame.data()), header);
    frame += payload;
    telmifFrameHeader back{};
    FUZZ_CHECK(telmifGetHeader(frame.data(), frame.size(), back), "a well-formed telmif32 frame is refused");
    FUZZ_CHECK(back.message == header.message && back.wParam == header.wParam && back.textMode == header.textMode &&
                   back.byteCount == header.byteCount,
               "a telmif32 header does not read back");
    return frame;
}

copyBlock blockFrom(FuzzInput& input)
{
    copyBlock block;
    const std::uint8_t flags = input.byte();
    block.dwData = static_cast<ULONG_PTR>(input.number(8));
    if (flags & 1)
        block.dwData &= 0xffffffffU;
    if (flags & 2)
        block.dwData = telmifFrameTag;
    block.payload = (flags & 4) ? telmifFrame(input) : input.rest();
    block.nullData = (flags & 8) != 0;
    return block;
}

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The relay's numeric payload: one to eight hex digits, then a zero byte.
bool relayNumber(const std::string& payload, std::uint32_t& value)
{
    size_t digits = 0;
    while (digits < payload.size() && isHex(payload[digits]))
        ++digits;
    if (digits == 0 || digits > 8 || payload[digits] != '\0')
        return false;
    value = static_cast<std::uint32_t>(std::strtoul(payload.substr(0, digits).c_str(), nullptr, 16));
    return true;
}

void checkTelmif(const copyBlock& block, const hubFrame& frame)
{
    telmifFrameHeader header{};
    const bool valid = !block.nullData && telmifGetHeader(block.payload.data(), block.payload.size(), header);
    FUZZ_CHECK((frame.kind == frameKind::telmif) == valid, "telmif frame accepted or refused wrongly");
    if (!valid)
        return;
    FUZZ_CHECK(frame.message == (header.message & 0xffff) && frame.wParam == header.wParam, "telmif fields");
    const std::string payload = block.payload.substr(telmifHeaderSize);
    FUZZ_CHECK(frame.payload == payload, "telmif payload");
}

void checkRelay(const copyBlock& block, const hubFrame& frame)
{
    const unsigned message = static_cast<unsigned>((block.dwData >> 16) & 0xffff);
    const bool taken = !(block.nullData && !block.payload.empty()) && block.dwData <= 0xffffffffU && message != 0 &&
                       block.payload.size() <= relayMaxTextSize;
    if (!taken) {
        FUZZ_CHECK(frame.kind == frameKind::bad, "a relay frame outside the rules was read");
        return;
    }
    const bool numeric = block.payload.size() == relayNumericSize;
    std::uint32_t value = 0;
    const bool request = message != relayReplyMessage;
    if (request && numeric && !relayNumber(block.payload, value)) {
        FUZZ_CHECK(frame.kind == frameKind::bad, "a numeric request that is no number was read");
        return;
    }
    FUZZ_CHECK(frame.kind == (request ? frameKind::relayRequest : frameKind::relayReply), "relay kind");
    FUZZ_CHECK(frame.message == message && frame.wParam == (block.dwData & 0xffff), "relay fields");
    FUZZ_CHECK(frame.numeric == numeric && (!request || !numeric || frame.value == value), "relay number");
    const size_t size = std::max(block.payload.size(), relayTextSize) + 1;
    FUZZ_CHECK(frame.bytes.size() == size, "relay bytes are not padded to the relay's size");
    FUZZ_CHECK(std::equal(block.payload.begin(), block.payload.end(), frame.bytes.begin()), "relay bytes");
    FUZZ_CHECK(std::all_of(frame.bytes.begin() + static_cast<long>(block.payload.size()), frame.bytes.end(),
                           [](char c) { return c == '\0'; }),
               "relay padding is not zero");
}

void checkNumberRoundTrip(std::uint32_t value)
{
    char payload[relayNumericSize];
    writeRelayNumber(value, payload);
    COPYDATASTRUCT copyData{static_cast<ULONG_PTR>(2121) << 16, relayNumericSize, payload};
    const hubFrame frame = readFrame(&copyData);
    FUZZ_CHECK(frame.kind == frameKind::relayRequest && frame.numeric && frame.value == value,
               "a relay number does not read back");
}

// A parsed IR text, formatted again, parses into the same fields.
void checkIrText(std::string_view text)
{
    irFields fields;
    if (!parseIrText(text, fields))
        return;
    FUZZ_CHECK(fields.text.find_first_of("'%") == std::string_view::npos, "IR text with a quote or percent");
    const std::string again = "IR " + std::to_string(fields.device) + " " + std::to_string(fields.slot) + " '" +
                              std::string(fields.text) + "' 0";
    irFields back;
    FUZZ_CHECK(parseIrText(again, back), "a formatted IR text does not parse");
    FUZZ_CHECK(back.device == fields.device && back.slot == fields.slot && back.text == fields.text,
               "a formatted IR text parses differently");
}

void checkTraffic(std::string_view text)
{
    hubTraffic traffic;
    const bool evenOnly = text.size() % 2 == 0;
    const bool wellFormed = traffic.record(text, [&](long device) { return !evenOnly || device % 2 == 0; });
    irFields fields;
    const bool isIr = text.substr(0, text.find(' ')) == "IR";
    const bool expected = !isIr || (parseIrText(text, fields) && (!evenOnly || fields.device % 2 == 0));
    FUZZ_CHECK(wellFormed == expected, "a command text judged wrongly");
    FUZZ_CHECK(traffic.total().messages == 1 && traffic.total().bytes == text.size(), "traffic total");
    FUZZ_CHECK(traffic.malformed() == (expected ? 0u : 1u), "malformed count");
    std::uint64_t words = 0;
    for (const auto& entry : traffic.words())
        words += entry.second.messages;
    FUZZ_CHECK(words == 1, "word counts do not add up");
}

// One hub for the whole run: without drivers nothing it keeps changes its
// answers, and it logs only its first malformed texts.
kivStandin& hub()
{
    static kivStandin* standin = new kivStandin(hubOptions());
    return *standin;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const copyBlock block = blockFrom(input);
    const COPYDATASTRUCT copyData = block.view();
    const hubFrame frame = readFrame(&copyData);
    if (block.dwData == telmifFrameTag)
        checkTelmif(block, frame);
    else
        checkRelay(block, frame);
    checkNumberRoundTrip(static_cast<std::uint32_t>(block.dwData));
    if (frame.kind != frameKind::bad) {
        checkIrText(frame.text());
        checkTraffic(frame.text());
    }
    const LRESULT answer = hub().handleMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData));
    FUZZ_CHECK(answer == rkfuzz::expectedHubAnswer(frame), "the hub's answer differs from the hub interface");
    return 0;
}
