/*
 * telmwm32: delivers a window message whose parameter is a 32-bit value or
 * a text buffer to a window of another process over WM_COPYDATA, and
 * brings back its result (and the possibly rewritten text).
 *
 * A request carries the message number in the upper and the low 16 bits of
 * wParam in the lower half of dwData, and a payload of 16 bytes (the value
 * as "%08lx") or of a text (512 bytes, more for longer texts). The receiver
 * delivers it locally and answers with a WM_COPYDATA whose dwData holds
 * RELAY_REPLY in the upper and the low 16 bits of the result in the lower
 * half. The reply arrives while the sender still waits inside SendMessage.
 */
#ifndef TELMWM32_H
#define TELMWM32_H

#include "rkwin.h"

/* Message number that marks an answer. */
const UINT RELAY_REPLY = 2984;
/* Size of a numeric payload; every other size is a text. */
const DWORD RELAY_VALUE_BYTES = 16;
/* Size of a text payload; longer texts travel in a payload of their own size. */
const DWORD RELAY_TEXT_BYTES = 512;

/*
 * Sends message with wParam to destinationWindow of another process and
 * returns the low 16 bits of its result; 0 when no answer came.
 * With textMode 1, data points to a text buffer of textBytes bytes (at least
 * RELAY_TEXT_BYTES), all of which travel; up to replyLength bytes (at most
 * RELAY_TEXT_BYTES) of the answered text are copied back into it. Otherwise
 * data is the value.
 */
DWORD relaySend(HWND senderWindow, HWND destinationWindow, UINT message, WPARAM wParam,
                LPARAM data, int replyLength, int textMode,
                DWORD textBytes = RELAY_TEXT_BYTES);

/*
 * Handles one WM_COPYDATA received by a window: a request is delivered to
 * deliveryWindow and answered to replyWindow; an answer is stored for the
 * relaySend that waits for it. A request for a system message (below
 * WM_USER) is dropped: nothing is delivered and nothing answered.
 */
void relayReceive(HWND deliveryWindow, HWND replyWindow, const COPYDATASTRUCT* copyData);

/*
 * While relayReceive delivers a text request: the bytes that may be read
 * from text to the end of the relay's buffer, terminator included, when
 * text points into it; 0 otherwise.
 */
size_t relayTextRoom(const void* text);

/*
 * True when this very message (window, number and lParam) is the request
 * that relayReceive is delivering now: it came from another process, and
 * its lParam is a pointer only when relayTextRoom says so.
 */
bool relayDelivering(HWND window, UINT message, LPARAM lParam);

#endif /* TELMWM32_H */
