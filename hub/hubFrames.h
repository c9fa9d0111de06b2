// Reading the WM_COPYDATA frames that reach the stand-in hub, never past
// cbData: relay requests and replies, and telmif32 frames.
#ifndef HUB_FRAMES_H
#define HUB_FRAMES_H

#include "hubMessages.h"
#include "rkwin.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t relayTextSize = 512;
constexpr std::size_t relayNumericSize = 16;
// Drivers may relay a long text whole, in a frame larger than 512 bytes;
// beyond this the frame is refused.
constexpr std::size_t relayMaxTextSize = 1u << 20;

enum class frameKind { relayRequest, relayReply, telmif, bad };

struct hubFrame {
    frameKind kind = frameKind::bad;
    unsigned message = 0;
    std::uint64_t wParam = 0;
    bool numeric = false;
    std::uint32_t value = 0;
    // A relay frame's payload, zero-padded to at least 512 bytes as the
    // relay carries it, and one more zero byte.
    std::vector<char> bytes;
    // The payload as it came: inside bytes for relay frames (without the
    // last zero byte); inside the sender's block for telmif frames, so valid
    // only while their message is handled.
    std::string_view payload;

    // Up to the first zero byte, or the whole payload.
    std::string_view text() const { return payload.substr(0, payload.find('\0')); }
};

hubFrame readFrame(const COPYDATASTRUCT* copyData);

// The 16-byte numeric payload of the relay: "%08lx", zero bytes to the end.
void writeRelayNumber(std::uint32_t value, char (&payload)[relayNumericSize]);

#endif
