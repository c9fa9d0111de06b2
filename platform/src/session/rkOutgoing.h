/*
 * Sends and posts to windows of other processes, with Win32's meaning: a
 * send waits for its answer (handling what arrives meanwhile, so that
 * processes sending to each other never block each other), a post never
 * waits for its receiver.
 */
#ifndef RKOUTGOING_H
#define RKOUTGOING_H

#include <cstdint>
#include <functional>
#include <vector>

#include "session/rkPeers.h"
#include "session/rkStationClient.h"
#include "session/rkWindowTable.h"

namespace rkwin {

struct SendOutcome {
    bool delivered = false;
    bool noWindow = false;
    bool refused = false; /* the receiver would not hand the message to its procedure */
    LRESULT result = 0;
};

class Outgoing {
public:
    /* waitOnce handles what arrives, waiting for it; sleep hands the wait back to whoever sleeps next. */
    Outgoing(Peers& peers, StationClient& station, std::function<void()> waitOnce, std::function<void()> sleep);

    SendOutcome send(const Target& target, UINT message, WPARAM wParam, LPARAM lParam);
    /* False with the last error set when the post is lost. */
    bool post(const Target& target, UINT message, WPARAM wParam, LPARAM lParam);

    void takeReply(const Peer& peer, const rkwire::Frame& frame);

private:
    struct PendingSend {
        uint64_t sequence;
        uint64_t connection;
        bool answered = false;
        bool failed = false;
        rkwire::Status status = rkwire::Status::Ok;
        LRESULT result = 0;
    };
    void connectionClosed(const PeerConnection& peer);

    Peers& peers_;
    StationClient& station_;
    std::function<void()> waitOnce_;
    std::function<void()> sleep_;
    std::vector<PendingSend*> pending_;
    uint64_t nextSequence_ = 1;
};

} // namespace rkwin

#endif
