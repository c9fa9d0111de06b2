// What the stand-in hub answers to one WM_COPYDATA from no window, while no
// driver is registered and every option is at its default: the value the
// hub interface gives each carried message in that state.
#ifndef RK_FUZZ_HUB_ANSWERS_H
#define RK_FUZZ_HUB_ANSWERS_H

#include "hubFrames.h"

#include <string>

namespace rkfuzz {

// Command texts are well formed unless they are IR texts: an IR text names a
// device, and none is registered.
inline long commandTextAnswer(std::string_view text)
{
    return text.substr(0, text.find(' ')) == "IR" ? 0 : 1;
}

inline long valueAnswer(unsigned message, unsigned long long wParam)
{
    switch (message) {
    case 49552: // identity
        return wParam == 0x5555 ? 0xaaaa : 0;
    case 2214: // state of a device that is not registered
    case 2215:
    case 2185:
        return 0;
    case 49245:
        return 4094;
    case 49233:
    case 49234:
        return 4096;
    case 49243:
        return 10;
    case 49244:
    case 49238:
        return 1;
    default:
        return -1; // not a value message
    }
}

inline long carriedAnswer(const hubFrame& frame)
{
    const unsigned message = frame.message;
    if (!frame.numeric && (message == 2123 || message == 2124 || message == 2159 || message == 2187))
        return commandTextAnswer(frame.text());
    if (message == 49860 && !frame.numeric && frame.payload.size() >= 8)
        return 1;
    const long value = valueAnswer(message, frame.wParam);
    return value < 0 ? 0 : value;
}

// A relay request from no window is taken (1): there is nobody to answer.
inline long expectedHubAnswer(const hubFrame& frame)
{
    switch (frame.kind) {
    case frameKind::relayRequest:
        return 1;
    case frameKind::telmif:
        return carriedAnswer(frame);
    default:
        return 0;
    }
}

} // namespace rkfuzz

#endif
