#include "telmwm32.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

__attribute__((used)) static const char telmwm32Signature[] =
    "TELM_SIG,telmwm32,LIB,4.1.1.0,08/12/26,TELM,<<BUILD_URL>>";

namespace {

/* What the last answer carried; kept for the process like the exchange
   itself, since an answer arrives in a nested call. */
struct relayRecord {
    char replyText[RELAY_TEXT_BYTES];
    DWORD replyResult;
};
relayRecord record;

/* The relaySend calls waiting for their answer, innermost first. An answer
   belongs to the innermost one: answers nest like the requests. */
struct openExchange {
    bool answered;
    openExchange* outer;
};
openExchange* innermostExchange = nullptr;

/* The requests being delivered, innermost first; text is null for a value. */
struct openDelivery {
    HWND window;
    UINT message;
    LPARAM lParam;
    const char* text;
    size_t room;
    openDelivery* outer;
};
openDelivery* innermostDelivery = nullptr;

ULONG_PTR frameTag(UINT message, ULONG_PTR low)
{
    return (static_cast<ULONG_PTR>(message & 0xffff) << 16) | (low & 0xffff);
}

UINT frameMessage(const COPYDATASTRUCT& copyData)
{
    return static_cast<UINT>((copyData.dwData >> 16) & 0xffff);
}

void writeValue(DWORD value, char (&payload)[RELAY_VALUE_BYTES])
{
    std::memset(payload, 0, sizeof payload);
    std::snprintf(payload, sizeof payload, "%08lx", static_cast<unsigned long>(value));
}

/* The value of a numeric payload; a payload that is no number reads as 0. */
DWORD readValue(const COPYDATASTRUCT& copyData)
{
    char text[RELAY_VALUE_BYTES + 1] = {};
    if (copyData.lpData != nullptr)
        std::memcpy(text, copyData.lpData, RELAY_VALUE_BYTES);
    unsigned long value = 0;
    if (std::sscanf(text, "%08lx", &value) != 1)
        value = 0;
    return static_cast<DWORD>(value);
}

/* Copies up to count bytes of a text that may lack its terminator, and
   zero bytes for the rest of count, as strncpy does. */
void copyBoundedText(char* to, const char* from, size_t available, size_t count)
{
    const size_t length = from == nullptr ? 0 : strnlen(from, std::min(available, count));
    if (length > 0)
        std::memcpy(to, from, length);
    std::memset(to + length, 0, count - length);
}

void answer(HWND replyWindow, HWND deliveryWindow, LRESULT result, DWORD size, void* payload)
{
    COPYDATASTRUCT reply;
    reply.dwData = frameTag(RELAY_REPLY, static_cast<ULONG_PTR>(result));
    reply.cbData = size;
    reply.lpData = payload;
    SendMessageA(replyWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(deliveryWindow),
                 reinterpret_cast<LPARAM>(&reply));
}

void storeAnswer(const COPYDATASTRUCT& copyData)
{
    record.replyResult = static_cast<DWORD>(copyData.dwData & 0xffff);
    // A numeric answer carries no text: clear it so no earlier text passes for this one's.
    if (copyData.cbData == RELAY_VALUE_BYTES)
        std::memset(record.replyText, 0, sizeof record.replyText);
    else
        copyBoundedText(record.replyText, static_cast<const char*>(copyData.lpData), copyData.cbData,
                        sizeof record.replyText);
    if (innermostExchange != nullptr)
        innermostExchange->answered = true;
}

LRESULT deliver(HWND deliveryWindow, UINT message, WPARAM wParam, LPARAM lParam, const char* text,
                size_t room)
{
    openDelivery delivery{deliveryWindow, message, lParam, text, room, innermostDelivery};
    innermostDelivery = &delivery;
    const LRESULT result = SendMessageA(deliveryWindow, message, wParam, lParam);
    innermostDelivery = delivery.outer;
    return result;
}

void deliverValue(HWND deliveryWindow, HWND replyWindow, UINT message, WPARAM wParam,
                  const COPYDATASTRUCT& copyData)
{
    const DWORD value = readValue(copyData);
    const LRESULT result = deliver(deliveryWindow, message, wParam, static_cast<LPARAM>(value), nullptr, 0);
    char payload[RELAY_VALUE_BYTES];
    writeValue(value, payload);
    answer(replyWindow, deliveryWindow, result, RELAY_VALUE_BYTES, payload);
}

/* The text is delivered from a zeroed buffer of at least 512 bytes with one
   more terminator behind it, so no handler reads past what was received. */
void deliverText(HWND deliveryWindow, HWND replyWindow, UINT message, WPARAM wParam,
                 const COPYDATASTRUCT& copyData)
{
    const size_t size = std::max<size_t>(copyData.cbData, RELAY_TEXT_BYTES);
    std::vector<char> text(size + 1, '\0');
    if (copyData.lpData != nullptr)
        std::memcpy(text.data(), copyData.lpData, copyData.cbData);
    const LRESULT result = deliver(deliveryWindow, message, wParam, reinterpret_cast<LPARAM>(text.data()),
                                   text.data(), text.size());
    answer(replyWindow, deliveryWindow, result, static_cast<DWORD>(size), text.data());
}

} // namespace

DWORD relaySend(HWND senderWindow, HWND destinationWindow, UINT message, WPARAM wParam, LPARAM data,
                int replyLength, int textMode, DWORD textBytes)
{
    char valueText[RELAY_VALUE_BYTES];
    COPYDATASTRUCT request;
    request.dwData = frameTag(message, wParam);
    if (textMode == 1) {
        request.cbData = std::max(textBytes, RELAY_TEXT_BYTES);
        request.lpData = reinterpret_cast<void*>(data);
    } else {
        writeValue(static_cast<DWORD>(data), valueText);
        request.cbData = RELAY_VALUE_BYTES;
        request.lpData = valueText;
    }

    openExchange exchange{false, innermostExchange};
    innermostExchange = &exchange;
    const LRESULT sent = SendMessageA(destinationWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(senderWindow),
                                      reinterpret_cast<LPARAM>(&request));
    innermostExchange = exchange.outer;

    if ((message & 0xffff) == RELAY_REPLY)
        return static_cast<DWORD>(sent);
    // Without an answer, an earlier exchange's result must not pass for this one's.
    if (!exchange.answered)
        return 0;
    if (textMode == 1 && replyLength > 0)
        copyBoundedText(reinterpret_cast<char*>(data), record.replyText, sizeof record.replyText,
                        std::min<size_t>(static_cast<size_t>(replyLength), RELAY_TEXT_BYTES));
    return record.replyResult;
}

/* A relayed system message is refused before anything is sent, delivery or
   answer: its relayed value or text would reach a procedure (or this
   process's own sending) where a system structure's address belongs. */
void relayReceive(HWND deliveryWindow, HWND replyWindow, const COPYDATASTRUCT* copyData)
{
    if (copyData == nullptr || (copyData->cbData > 0 && copyData->lpData == nullptr))
        return;
    const UINT message = frameMessage(*copyData);
    if (message < WM_USER)
        return;
    const WPARAM wParam = static_cast<WPARAM>(copyData->dwData & 0xffff);
    if (message == RELAY_REPLY)
        storeAnswer(*copyData);
    else if (copyData->cbData == RELAY_VALUE_BYTES)
        deliverValue(deliveryWindow, replyWindow, message, wParam, *copyData);
    else
        deliverText(deliveryWindow, replyWindow, message, wParam, *copyData);
}

size_t relayTextRoom(const void* text)
{
    const auto at = reinterpret_cast<uintptr_t>(text);
    for (const openDelivery* delivery = innermostDelivery; delivery != nullptr; delivery = delivery->outer) {
        const auto begin = reinterpret_cast<uintptr_t>(delivery->text);
        if (delivery->text != nullptr && at >= begin && at - begin < delivery->room)
            return delivery->room - (at - begin);
    }
    return 0;
}

bool relayDelivering(HWND window, UINT message, LPARAM lParam)
{
    const openDelivery* delivery = innermostDelivery;
    return delivery != nullptr && delivery->window == window && delivery->message == message &&
           delivery->lParam == lParam;
}
