/*
 * This process's part of the desktop, wired together from its units:
 *
 *   Win32 calls (rkWindows.cpp, rkMessages.cpp)
 *     -> Session: resolves handles, waits, keeps the event descriptor true
 *        -> WindowTable, PostQueue          this thread's windows and posts
 *        -> Outgoing                        sends and posts to other processes
 *        -> StationClient                   the handle table, its retries and cache
 *        -> Peers -> PeerConnection         connections: bytes, rings, order
 *             -> FrameSink (to this class)  hands frames on:
 *                  -> ProcedureCalls        the one place that runs user code
 *        -> EventSources                    the one place that waits for events
 *
 * Everything runs on the thread that owns the windows; nothing here takes a
 * lock or starts a thread.
 */
#ifndef RKSESSION_H
#define RKSESSION_H

#include <cstdint>
#include <vector>

#include "session/rkEventSources.h"
#include "session/rkOutgoing.h"
#include "session/rkPeers.h"
#include "session/rkPostQueue.h"
#include "session/rkProcedureCalls.h"
#include "session/rkStationClient.h"
#include "session/rkWindowTable.h"
#include "rkwin.h"

namespace rkwin {

class Session {
public:
    static Session& instance();

    WindowTable& windows() { return windows_; }
    PostQueue& posts() { return posts_; }
    StationClient& station() { return station_; }
    Outgoing& outgoing() { return outgoing_; }
    ProcedureCalls& procedures() { return procedures_; }

    /* Where a handle leads: a window of ours, else what the station knows. */
    bool resolve(uint32_t handle, bool useCache, Target& target);
    void enqueue(const MSG& message);
    void purgePosted(uint32_t handle);

    bool joinDesktop() { return peers_.join(); }
    int eventFd();
    /* Handles what has arrived; waits up to timeoutMs (-1: until something does). How many sources were ready. */
    int pumpIncoming(int timeoutMs);
    /* Handles everything that has arrived, without waiting. */
    void drainIncoming();
    /* Keeps the event descriptor readable exactly while posted messages or buffered frames wait. */
    void refreshWakeup() { events_.signalPending(!posts_.empty() || peers_.hasBuffered()); }
    /* After recent ring traffic: watches the rings briefly; whether more came. */
    bool awaitRingTraffic() { return peers_.recentRingTraffic() && peers_.spinForRings(); }
    /* Before control goes back to code that may wait on anything: writers wake this process from now on. */
    void sleepOnSockets();

private:
    Session();
    ~Session() = delete;

    void takeSend(const Peer& peer, rkwire::Frame& frame);
    void takePost(const rkwire::Frame& frame);
    void takeReply(const Peer& peer, const rkwire::Frame& frame);
    int handleEvents(int timeoutMs);
    std::vector<ClaimedWindow> windowsToClaim() const;

    EventSources events_;
    WindowTable windows_;
    PostQueue posts_;
    Peers peers_{events_, FrameSink{[this](const Peer& peer, rkwire::Frame& frame) { takeSend(peer, frame); },
                                    [this](const rkwire::Frame& frame) { takePost(frame); },
                                    [this](const Peer& peer, const rkwire::Frame& frame) { takeReply(peer, frame); }}};
    StationClient station_{events_, peers_};
    ProcedureCalls procedures_{peers_};
    Outgoing outgoing_;
    unsigned drainsWithoutSocketLook_ = 0;
};

/* Calls a window procedure of this process; see ProcedureCalls::call. */
inline LRESULT callProcedure(const Window& window, UINT message, WPARAM wParam, LPARAM lParam, DWORD sendFlags)
{
    return Session::instance().procedures().call(window, message, wParam, lParam, sendFlags);
}

} // namespace rkwin

#endif
