/* The driver's message window: answers KIV's questions at once, queues its
   texts for delivery from the message loop, and tells the callback. */
#include "rkDriver.h"

#include "decodeTELMString.h"
#include "rkDriverMessages.h"
#include "telmif32.h"
#include "telmwm32.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int nsFieldCount = 7;
const char fieldQuote = '\'';

/*
 * How many bytes may be read at a message's lParam: within the relay's
 * buffer for a relayed text; none when another process sent the message
 * straight to the window, since its lParam is an address over there (or
 * a hostile value) and reading it could bring the driver down; unbounded
 * for a pointer of this thread, whose sender vouches for it.
 */
size_t readableRoom(HWND window, UINT message, LPARAM lParam)
{
    if (relayDelivering(window, message, lParam))
        return relayTextRoom(reinterpret_cast<const void*>(lParam));
    if (lParam == 0 || (InSendMessageEx(nullptr) & ISMEX_SEND) != 0)
        return 0;
    return SIZE_MAX;
}

/* KIV's messages all lie above WM_USER. A system message that comes through
   the relay or wrapped in 2074 was forged by a peer: it could point at bytes
   that are not a system structure (WM_CREATE, WM_COPYDATA) or end the
   connection (WM_DESTROY). */
bool isSystemMessage(UINT message)
{
    return message < WM_USER;
}

/* Messages whose lParam is a pointer: none of them may arrive carried as a value. */
bool carriesPointer(UINT message)
{
    return isSystemMessage(message) || message == msgNSMessage || message == msgTextMessage ||
           message == msgDatabaseChangeWide;
}

/* The driver comes with the window's own creation, once. A later WM_CREATE
   is another process's and may carry any address. */
void takeDriver(HWND window, LPARAM lParam)
{
    if (GetWindowLongPtrA(window, 0) != 0)
        return;
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
}

/* atoi's reading of a field, without its overflow: out-of-range numbers saturate. */
int fieldNumber(const char* field)
{
    const long long value = std::strtoll(field, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

LRESULT CALLBACK rkDriver::messageWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (isSystemMessage(message) && relayDelivering(window, message, lParam))
        return 0;
    if (message == WM_CREATE) {
        takeDriver(window, lParam);
    } else if (message == WM_COPYDATA) {
        relayReceive(window, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(LOWORD(wParam))),
                     reinterpret_cast<const COPYDATASTRUCT*>(lParam));
        return 1;
    } else if (message == msgCarried) {
        return deliverCarried(window, wParam, lParam);
    }
    auto* driver = reinterpret_cast<rkDriver*>(GetWindowLongPtrA(window, 0));
    if (driver == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    return driver->dispatch(window, message, wParam, lParam);
}

/* Mode-2 traffic carries values only: a message whose lParam is a pointer
   cannot come this way, and is refused rather than read at a stray address. */
LRESULT rkDriver::deliverCarried(HWND window, WPARAM wParam, LPARAM lParam)
{
    if (carriesPointer(LOWORD(wParam)))
        return 0;
    return telmifDeliver(window, wParam, lParam);
}

LRESULT rkDriver::dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        disconnect();
        break;
    case msgKivIsHere:
        if (searching)
            kivWindow = reinterpret_cast<HWND>(wParam);
        break;
    case msgNSMessage:
    case msgTextMessage:
        return queuePost(window, message, wParam, lParam);
    case msgDeliverPosts:
        deliverPosts();
        break;
    case msgDatabaseChange:
        reportDatabaseChange(wParam, lParam);
        break;
    case msgDatabaseChangeWide:
        reportWideDatabaseChange(window, lParam);
        break;
    case msgKivClosing:
        OutputDebugStringA("ZUL_KIVCLOSING");
        if (callback != nullptr)
            callback->onDisconnected(static_cast<int>(device));
        break;
    case msgDeclineState2:
    case msgTakeState2:
    case msgAcceptState2:
    case msgTakeState1:
        return answerState(message);
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT rkDriver::answerState(UINT message)
{
    const bool wantsState2 = preference == 1;
    switch (message) {
    case msgDeclineState2:
        return wantsState2 ? 0 : 1;
    case msgTakeState2:
        if (!wantsState2)
            return 0;
        state = 2;
        if (callback != nullptr)
            callback->onStateChange(this, 2);
        return 1;
    case msgAcceptState2:
        return wantsState2 ? 1 : 0;
    default: // msgTakeState1
        state = 1;
        if (callback != nullptr)
            callback->onStateChange(this, 1);
        return 0;
    }
}

/* KIV waits for the answer: its texts are only copied now and delivered
   from the message loop. */
LRESULT rkDriver::queuePost(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const size_t room = readableRoom(window, message, lParam);
    if (room == 0)
        return 0;
    const char* text = reinterpret_cast<const char*>(lParam);
    rkDriverPost post;
    post.message = static_cast<int>(message);
    post.wParam = message == msgTextMessage ? static_cast<int>(wParam) : 0;
    post.text.assign(text, strnlen(text, room));
    posts.push_back(std::move(post));
    PostMessageA(window, msgDeliverPosts, 0, 0);
    return 1;
}

void rkDriver::deliverPosts()
{
    while (!posts.empty()) {
        const rkDriverPost post = std::move(posts.front());
        posts.pop_front();
        if (callback == nullptr)
            continue;
        if (post.message == static_cast<int>(msgTextMessage)) {
            ++receivedCount;
            callback->onTextMessage(this, post.text.c_str());
        } else if (post.message == static_cast<int>(msgNSMessage)) {
            deliverNS(post.text);
        }
    }
}

/* An NS message that fails a check is dropped alone; the posts behind it
   are still delivered. */
void rkDriver::deliverNS(const std::string& text)
{
    const decodeTELMString fields(text.c_str(), fieldQuote);
    if (fields.getCount() < nsFieldCount)
        return;
    const unsigned int target = static_cast<unsigned int>(fieldNumber(fields.getField(1)));
    if (checkDevice(target) || target != device)
        return;
    const int from = fieldNumber(fields.getField(2));
    if (from != 0 && (checkWorkstation(static_cast<unsigned int>(from)) || from != workstation))
        return;
    if (checkStringLength(fields.getField(3)))
        return;
    const int sender = fieldNumber(fields.getField(4));
    if (checkWorkstation(static_cast<unsigned int>(sender)))
        return;
    if (checkStringLength(fields.getField(5)) || checkStringLength(fields.getField(6)))
        return;
    ++receivedCount;
    callback->onNSMessage(sender, static_cast<int>(target), fields.getField(3), fields.getField(5),
                          fields.getField(6));
}

void rkDriver::reportDatabaseChange(WPARAM wParam, LPARAM lParam)
{
    const unsigned int changedDevice = static_cast<unsigned int>(wParam);
    const unsigned int index = LOWORD(lParam);
    const unsigned int database = HIWORD(lParam);
    char line[96];
    std::snprintf(line, sizeof line, "db change device:%u index:%u database:%u", changedDevice, index, database);
    OutputDebugStringA(line);
    if (callback != nullptr)
        callback->onDatabaseChange(static_cast<int>(changedDevice), static_cast<int>(database),
                                   static_cast<int>(index));
}

void rkDriver::reportWideDatabaseChange(HWND window, LPARAM lParam)
{
    int32_t numbers[3];
    if (readableRoom(window, msgDatabaseChangeWide, lParam) < sizeof numbers)
        return;
    std::memcpy(numbers, reinterpret_cast<const void*>(lParam), sizeof numbers);
    const int changedDevice = numbers[0];
    const int index = numbers[1];
    const int database = numbers[2];
    if (callback != nullptr)
        callback->onDatabaseChange(changedDevice, database, index);
    char line[96];
    std::snprintf(line, sizeof line, "db change_32 device:%d index:%d database:%d", changedDevice, index,
                  database);
    OutputDebugStringA(line);
}
