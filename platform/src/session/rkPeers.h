/*
 * This process's connections to other processes: the listening socket
 * others connect to, a connection per peer, and the frames read but not
 * yet handed on. It moves frames and never runs user code: what peers send,
 * post and reply goes through the FrameSink to the one place that does.
 *
 * A connection that fails is closed here, once, and everyone who asked is
 * told (pending sends, the handle cache).
 */
#ifndef RKPEERS_H
#define RKPEERS_H

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

#include "session/rkEventSources.h"
#include "session/rkPeerConnection.h"

namespace rkwin {

using Peer = std::shared_ptr<PeerConnection>;

/*
 * Where the frames that peers send, post and reply go. Plain functions, not
 * a base class: the layer may be linked into a program and a library it
 * loads, and a class with a vtable would then be defined twice.
 */
struct FrameSink {
    std::function<void(const Peer&, rkwire::Frame&)> takeSend;
    std::function<void(const rkwire::Frame&)> takePost;
    std::function<void(const Peer&, const rkwire::Frame&)> takeReply;
};

class Peers {
public:
    /* Ids below this one are the event sources' other members. */
    static constexpr uint64_t firstConnectionId = 16;
    static constexpr uint64_t listenerId = 1;
    static constexpr uint64_t bellId = 4;

    Peers(EventSources& events, FrameSink sink) : events_(events), sink_(std::move(sink)) {}

    /* Listens for peers on the desktop; false when the desktop cannot be joined. */
    bool join();
    const std::string& desktop() const { return desktop_; }

    /* The connection to a process, made when there is none; nullptr when it cannot be reached. */
    Peer connectTo(pid_t pid);
    /* Tells the listener of every connection closed from now on. */
    void onClosed(std::function<void(const PeerConnection&)> listener) { closedListeners_.push_back(std::move(listener)); }

    /* Sending: through the ring of the lane when it takes the frame, else the socket. */
    bool send(const Peer& peer, rkwire::FrameHeader& header, const void* payload);
    enum class Posted { Sent, Lost, OverQuota };
    /* Never waits for the receiver. */
    Posted post(const Peer& peer, rkwire::FrameHeader header);
    /* Never waits either; a peer that lets replies pile up beyond the bound is cut off. */
    void reply(const Peer& peer, rkwire::FrameHeader answer);

    /* Receiving */
    void onEvent(uint64_t id, uint32_t events);
    /* Hands on frames already read; whether any waited. */
    bool handleBuffered();
    /* Hands on what waits in the rings; whether anything did. */
    bool handleRings();
    bool hasBuffered() const { return !unparsed_.empty(); }

    /* Ring traffic came or went recently: worth a spin before a blocking wait. */
    bool recentRingTraffic() const { return recentRingTraffic_; }
    /* Watches the rings briefly, awake so that writers need not ring; whether anything came. */
    bool spinForRings();
    /* Writers ring from now on; whether the rings already hold something. */
    bool fallAsleep();
    /* Before control goes where it may sleep: frames waiting in rings count as buffered. */
    void sleepOnSockets();

private:
    Peer add(int fd, pid_t pid, bool accepted);
    void acceptPeers();
    void answerBell();
    void read(const Peer& peer);
    bool handleFrames(const Peer& peer);
    void deliver(const Peer& peer, rkwire::Frame& frame);
    void settle(const Peer& peer);
    void close(const Peer& peer);
    bool waitForRoom(int fd);
    const std::vector<Channel*>& channels();
    bool spinMayPay();
    void noteSpin(bool answered);
    static bool watchRings(const std::vector<Channel*>& all);

    EventSources& events_;
    FrameSink sink_;
    std::string desktop_;
    int listener_ = -1;
    int bell_ = -1; /* peers ring it when frames wait in this process's rings */
    std::map<uint64_t, Peer> connections_;
    std::map<pid_t, uint64_t> byPid_;
    std::set<uint64_t> unparsed_; /* frames read but not handed on yet */
    uint64_t nextId_ = firstConnectionId;
    bool recentRingTraffic_ = false;
    int spinCredit_ = 0;
    unsigned unspunWaits_ = 0;
    std::vector<Channel*> channels_; /* of the open connections */
    bool channelsStale_ = false;
    std::vector<std::function<void(const PeerConnection&)>> closedListeners_;
};

} // namespace rkwin

#endif
