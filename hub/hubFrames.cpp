#include "hubFrames.h"

#include "telmifFrame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool hexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// One to eight hex digits, then a zero byte, all inside the payload.
bool readRelayNumber(const char* payload, std::uint32_t& value)
{
    std::size_t digits = 0;
    while (digits < relayNumericSize && hexDigit(payload[digits]))
        ++digits;
    if (digits == 0 || digits > 8 || payload[digits] != '\0')
        return false;
    char text[9] = {};
    std::memcpy(text, payload, digits);
    value = static_cast<std::uint32_t>(std::strtoul(text, nullptr, 16));
    return true;
}

hubFrame readTelmif(const COPYDATASTRUCT& copyData)
{
    hubFrame frame;
    telmifFrameHeader header{};
    if (!telmifGetHeader(copyData.lpData, copyData.cbData, header))
        return frame;
    const char* payload = static_cast<const char*>(copyData.lpData) + telmifHeaderSize;
    frame.kind = frameKind::telmif;
    frame.message = header.message & 0xffff;
    frame.wParam = header.wParam;
    frame.payload = std::string_view(payload, header.byteCount);
    return frame;
}

hubFrame readRelay(const COPYDATASTRUCT& copyData)
{
    hubFrame frame;
    const std::uint64_t data = copyData.dwData;
    const unsigned message = static_cast<unsigned>((data >> 16) & 0xffff);
    if (data > 0xffffffffU || message == 0 || copyData.cbData > relayMaxTextSize)
        return frame;
    frame.message = message;
    frame.wParam = data & 0xffff;
    frame.kind = message == relayReplyMessage ? frameKind::relayReply : frameKind::relayRequest;
    frame.bytes.assign(std::max<std::size_t>(copyData.cbData, relayTextSize) + 1, '\0');
    // An empty block may come without an address, which memcpy must not be given.
    if (copyData.cbData > 0)
        std::memcpy(frame.bytes.data(), copyData.lpData, copyData.cbData);
    frame.payload = std::string_view(frame.bytes.data(), frame.bytes.size() - 1);
    frame.numeric = copyData.cbData == relayNumericSize;
    if (frame.numeric && frame.kind == frameKind::relayRequest && !readRelayNumber(frame.bytes.data(), frame.value))
        frame.kind = frameKind::bad;
    return frame;
}

} // namespace

hubFrame readFrame(const COPYDATASTRUCT* copyData)
{
    if (copyData == nullptr || (copyData->cbData > 0 && copyData->lpData == nullptr))
        return {};
    if (copyData->dwData == telmifFrameTag)
        return readTelmif(*copyData);
    return readRelay(*copyData);
}

void writeRelayNumber(std::uint32_t value, char (&payload)[relayNumericSize])
{
    std::memset(payload, 0, sizeof payload);
    std::snprintf(payload, sizeof payload, "%08lx", static_cast<unsigned long>(value));
}
