#include "session/rkSession.h"

#include <unistd.h>

#include "wire/rkPointerMessages.h"

namespace rkwin {

namespace {

constexpr int maxEvents = 32;
constexpr int drainRounds = 64;
constexpr unsigned drainsPerSocketLook = 16;

} // namespace

Session& Session::instance()
{
    /* Never destroyed: window procedures may still run while statics go away at exit. */
    static Session* session = new Session;
    return *session;
}

Session::Session()
    : outgoing_(peers_, station_, [this] { pumpIncoming(-1); }, [this] { sleepOnSockets(); })
{
    station_.setWindowsToClaim([this] { return windowsToClaim(); });
}

std::vector<ClaimedWindow> Session::windowsToClaim() const
{
    std::vector<ClaimedWindow> claimed;
    for (const auto& entry : windows_.windows) {
        const Window& window = *entry.second;
        claimed.push_back({window.handle, window.topLevel, window.windowClass->name, window.name});
    }
    return claimed;
}

bool Session::resolve(uint32_t handle, bool useCache, Target& target)
{
    if (Window* window = windows_.local(handle)) {
        target = Target();
        target.local = window;
        target.handle = window->handle;
        return true;
    }
    return station_.resolve(handle, useCache, target);
}

void Session::enqueue(const MSG& message)
{
    posts_.push(message);
    refreshWakeup();
}

void Session::purgePosted(uint32_t handle)
{
    posts_.purge(handle);
    refreshWakeup();
}

int Session::eventFd()
{
    if (!events_.open())
        return -1;
    joinDesktop();
    return events_.outerFd();
}

void Session::takeSend(const Peer& peer, rkwire::Frame& frame)
{
    procedures_.answer(peer, frame, windows_.exactLocal(frame.header.window));
}

void Session::takePost(const rkwire::Frame& frame)
{
    Window* window = windows_.exactLocal(frame.header.window);
    if (!window || rkwire::carriesPointer(frame.header.message))
        return;
    MSG message{};
    message.hwnd = toHwnd(window->handle);
    message.message = frame.header.message;
    message.wParam = static_cast<WPARAM>(frame.header.wParam);
    message.lParam = static_cast<LPARAM>(frame.header.lParam);
    message.time = GetTickCount();
    enqueue(message);
}

void Session::takeReply(const Peer& peer, const rkwire::Frame& frame) { outgoing_.takeReply(peer, frame); }

int Session::pumpIncoming(int timeoutMs)
{
    if (peers_.handleBuffered() || peers_.handleRings())
        return 1;
    if (timeoutMs != 0) {
        if (peers_.recentRingTraffic() && peers_.spinForRings() && peers_.handleRings())
            return 1;
        if (peers_.fallAsleep() && peers_.handleRings())
            return 1;
    }
    return handleEvents(timeoutMs);
}

/* What the sockets, the station and the timer have; how many were ready. */
int Session::handleEvents(int timeoutMs)
{
    epoll_event events[maxEvents];
    const int count = events_.wait(events, maxEvents, timeoutMs);
    for (int i = 0; i < count; ++i) {
        const uint64_t id = events[i].data.u64;
        if (id == StationClient::stationId || id == StationClient::retryId)
            station_.onEvent(id);
        else
            peers_.onEvent(id, events[i].events);
    }
    return count;
}

/*
 * While ring traffic flows the sockets are looked at only every so many
 * drains: on a busy channel that system call would cost more than the
 * message. What waits on a socket meanwhile keeps the event descriptor
 * readable, and a process that goes to sleep looks at its sockets anyway.
 */
void Session::drainIncoming()
{
    for (int round = 0; round < drainRounds; ++round) {
        if (peers_.handleBuffered() || peers_.handleRings())
            continue;
        if (peers_.recentRingTraffic() && ++drainsWithoutSocketLook_ < drainsPerSocketLook)
            break;
        drainsWithoutSocketLook_ = 0;
        if (handleEvents(0) == 0)
            break;
    }
    refreshWakeup();
}

/*
 * Writers ring from now on, and ring frames that wait already keep the
 * event descriptor readable.
 */
void Session::sleepOnSockets()
{
    peers_.sleepOnSockets();
    refreshWakeup();
}

} // namespace rkwin
