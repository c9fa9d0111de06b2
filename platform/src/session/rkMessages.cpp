/*
 * Sending and posting window messages, the message loop, and the bridge
 * for foreign event loops.
 *
 * A send to a window of this process calls its procedure. A send to a
 * window of another process waits for the answer; meanwhile messages that
 * other processes send to our windows are answered (re-entrantly), posted
 * ones are queued. WM_QUIT is never queued: PostQuitMessage raises a flag
 * that GetMessageA and PeekMessageA report once the queue holds nothing
 * else; rkDispatchPendingMessages leaves it for them.
 *
 * InSendMessageEx tells a procedure whether another process sent the
 * message it handles; what this thread sends or dispatches itself, even
 * nested inside such a message, counts as not sent.
 *
 * As on Win32, a send to a window of this process hands the parameters to
 * its procedure untouched, whatever the message: they are the caller's to
 * vouch for. Only a send to another process looks at them: WM_COPYDATA's
 * block is read to be carried, and a system message whose parameter is an
 * address is refused, since no structure is carried for it.
 */
#include <sys/types.h>
#include <unistd.h>

#include "wire/rkPointerMessages.h"
#include "host/rkClock.h"
#include "session/rkSession.h"

#include <time.h>
#include "rkhost.h"
#include "rkwin.h"

using rkwin::Session;
using rkwin::Target;

namespace {

/* As on Win32: neither application messages nor private ones are broadcast. */
bool isBroadcastable(UINT message) { return message < WM_USER || message >= 0xC000; }

/* Whether the parameters can be carried to another process. */
bool canTravel(UINT message, LPARAM lParam)
{
    if (rkwire::carriesPointer(message))
        return false;
    if (message != WM_COPYDATA)
        return true;
    const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    return copy && (copy->cbData == 0 || copy->lpData) && copy->cbData <= rkwire::maxCopyDataBytes;
}

/* As on Win32, a message whose parameters are addresses cannot wait in a queue. */
bool isSyncOnly(UINT message) { return message == WM_COPYDATA || rkwire::carriesPointer(message); }

LRESULT callLocal(uint32_t handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    rkwin::Window* window = Session::instance().windows().local(handle);
    if (!window)
        return 0;
    return rkwin::callProcedure(*window, message, wParam, lParam, ISMEX_NOSEND);
}

/* The windows a broadcast reaches, taken once at its start. */
std::vector<Target> broadcastTargets()
{
    Session& session = Session::instance();
    std::vector<Target> targets;
    rkwire::StationAnswer answer;
    if (session.station().request({rkwire::Kind::Snapshot}, answer)) {
        for (const rkwire::OwnedWindow& window : answer.snapshot) {
            Target target;
            target.handle = window.handle;
            target.pid = window.pid;
            targets.push_back(target);
        }
        return targets;
    }
    for (auto& entry : session.windows().windows) {
        if (entry.second->topLevel) {
            Target target;
            target.handle = entry.second->handle;
            target.pid = getpid();
            targets.push_back(target);
        }
    }
    return targets;
}

/* Parameters that cannot travel reach this process's windows only. */
LRESULT broadcastSend(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!isBroadcastable(message))
        return TRUE;
    const bool travels = canTravel(message, lParam);
    for (const Target& target : broadcastTargets()) {
        if (target.pid == getpid())
            callLocal(target.handle, message, wParam, lParam);
        else if (travels)
            Session::instance().outgoing().send(target, message, wParam, lParam);
    }
    return TRUE;
}

BOOL broadcastPost(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!isBroadcastable(message))
        return TRUE;
    for (const Target& target : broadcastTargets()) {
        if (target.pid == getpid())
            PostMessageA(rkwin::toHwnd(target.handle), message, wParam, lParam);
        else
            Session::instance().outgoing().post(target, message, wParam, lParam);
    }
    return TRUE;
}

LRESULT sendToWindow(uint32_t handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    Session& session = Session::instance();
    for (bool useCache : {true, false}) {
        Target target;
        if (!session.resolve(handle, useCache, target))
            break;
        if (target.local)
            return callLocal(target.handle, message, wParam, lParam);
        if (!canTravel(message, lParam)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        rkwin::SendOutcome outcome = session.outgoing().send(target, message, wParam, lParam);
        /* A slot-only handle from a stale cache may now name another window. */
        if (outcome.noWindow && target.fromCache && rkwin::isSlotOnly(handle))
            continue;
        if (outcome.noWindow)
            break;
        if (outcome.refused)
            SetLastError(ERROR_INVALID_PARAMETER);
        return outcome.result;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
}

bool matchesFilter(const MSG& message, HWND window, UINT first, UINT last)
{
    if (window == reinterpret_cast<HWND>(-1)) {
        if (message.hwnd)
            return false;
    } else if (window && rkwin::slotOf(rkwin::handleValue(message.hwnd)) != rkwin::slotOf(rkwin::handleValue(window))) {
        return false;
    }
    return (first == 0 && last == 0) || (message.message >= first && message.message <= last);
}

bool quitMatchesFilter(UINT first, UINT last)
{
    return (first == 0 && last == 0) || (WM_QUIT >= first && WM_QUIT <= last);
}

/* Takes (or, with remove false, copies) the first queued message that passes the filter. */
bool takePosted(MSG* message, HWND window, UINT first, UINT last, bool remove)
{
    Session& session = Session::instance();
    rkwin::PostQueue& posts = session.posts();
    if (posts.take([&](const MSG& queued) { return matchesFilter(queued, window, first, last); }, *message, remove)) {
        if (remove)
            session.refreshWakeup();
        return true;
    }
    if (posts.quitPending() && quitMatchesFilter(first, last)) {
        *message = MSG{};
        message->message = WM_QUIT;
        message->wParam = static_cast<WPARAM>(posts.quitCode());
        message->time = GetTickCount();
        if (remove)
            posts.clearQuit();
        return true;
    }
    return false;
}

bool isValidFilterWindow(HWND window)
{
    return !window || window == reinterpret_cast<HWND>(-1) ||
           Session::instance().windows().local(rkwin::handleValue(window));
}

} // namespace

LRESULT WINAPI SendMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    uint32_t handle = rkwin::handleValue(hwnd);
    if (handle == rkwin::broadcastHandle)
        return broadcastSend(message, wParam, lParam);
    if (rkwin::slotOf(handle) == 0 || rkwin::slotOf(handle) == rkwin::broadcastHandle) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return sendToWindow(handle, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (isSyncOnly(message)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return FALSE;
    }
    Session& session = Session::instance();
    MSG posted{hwnd, message, wParam, lParam, GetTickCount(), {0, 0}};
    if (!hwnd) {
        session.enqueue(posted);
        return TRUE;
    }
    uint32_t handle = rkwin::handleValue(hwnd);
    if (handle == rkwin::broadcastHandle)
        return broadcastPost(message, wParam, lParam);
    Target target;
    if (rkwin::slotOf(handle) == 0 || rkwin::slotOf(handle) == rkwin::broadcastHandle ||
        !session.resolve(handle, false, target)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (target.local) {
        posted.hwnd = rkwin::toHwnd(target.handle);
        session.enqueue(posted);
        return TRUE;
    }
    return session.outgoing().post(target, message, wParam, lParam);
}

BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax)
{
    if (!message || !isValidFilterWindow(window)) {
        SetLastError(message ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return -1;
    }
    Session& session = Session::instance();
    for (;;) {
        session.drainIncoming();
        if (takePosted(message, window, filterMin, filterMax, true)) {
            session.sleepOnSockets();
            return message->message != WM_QUIT;
        }
        session.pumpIncoming(-1);
    }
}

BOOL WINAPI PeekMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax, UINT removeMsg)
{
    if (!message || !isValidFilterWindow(window)) {
        SetLastError(message ? ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Session& session = Session::instance();
    session.drainIncoming();
    const BOOL taken = takePosted(message, window, filterMin, filterMax, (removeMsg & PM_REMOVE) != 0);
    session.sleepOnSockets();
    return taken;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    /* There is no keyboard input to translate. */
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message)
{
    if (!message || !message->hwnd)
        return 0;
    return callLocal(rkwin::handleValue(message->hwnd), message->message, message->wParam, message->lParam);
}

BOOL WINAPI InSendMessage(void)
{
    return (InSendMessageEx(nullptr) & (ISMEX_SEND | ISMEX_REPLIED)) == ISMEX_SEND;
}

DWORD WINAPI InSendMessageEx(LPVOID)
{
    return Session::instance().procedures().sendFlags();
}

BOOL WINAPI ReplyMessage(LRESULT result)
{
    return Session::instance().procedures().replyEarly(result) ? TRUE : FALSE;
}

void WINAPI PostQuitMessage(int exitCode)
{
    Session::instance().posts().requestQuit(exitCode);
}

int rkMessageEventFd() { return Session::instance().eventFd(); }

namespace {

/* Busy ring traffic is served here for at most this long before the foreign loop gets its turn. */
constexpr long dispatchTurnNanoseconds = 2000000;
/* The clock may cost a system call: it is read every so many rounds. */
constexpr unsigned dispatchRoundsPerClockLook = 16;

void dispatchArrived(Session& session)
{
    session.drainIncoming();
    /* Only what is queued now: a procedure that posts again is served on the next wake-up. */
    MSG message;
    for (size_t count = session.posts().size(); count > 0 && session.posts().popFront(message); --count) {
        session.refreshWakeup();
        DispatchMessageA(&message);
    }
}

} // namespace

void rkDispatchPendingMessages()
{
    Session& session = Session::instance();
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    unsigned rounds = 0;
    do
        dispatchArrived(session);
    while ((++rounds % dispatchRoundsPerClockLook != 0 || rkwin::nanosecondsSince(start) < dispatchTurnNanoseconds) &&
           session.awaitRingTraffic());
    session.sleepOnSockets();
}
