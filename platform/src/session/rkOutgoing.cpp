#include "session/rkOutgoing.h"

#include <algorithm>

namespace rkwin {

using rkwire::FrameHeader;
using rkwire::Kind;
using rkwire::Status;

Outgoing::Outgoing(Peers& peers, StationClient& station, std::function<void()> waitOnce, std::function<void()> sleep)
    : peers_(peers), station_(station), waitOnce_(std::move(waitOnce)), sleep_(std::move(sleep))
{
    peers_.onClosed([this](const PeerConnection& peer) { connectionClosed(peer); });
}

SendOutcome Outgoing::send(const Target& target, UINT message, WPARAM wParam, LPARAM lParam)
{
    SendOutcome outcome;
    const Peer peer = peers_.connectTo(target.pid);
    if (!peer) {
        station_.forget(target.handle);
        outcome.noWindow = true;
        return outcome;
    }
    FrameHeader header = rkwire::makeHeader(Kind::Send, target.handle, message);
    header.sequence = nextSequence_++;
    header.wParam = wParam;
    header.lParam = lParam;
    const void* payload = nullptr;
    if (message == WM_COPYDATA) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        header.lParam = static_cast<int64_t>(copy->dwData);
        header.length = copy->cbData;
        payload = copy->lpData;
    }
    PendingSend send{header.sequence, peer->id()};
    pending_.push_back(&send);
    /* The reply comes soon: the receiver need not ring for it. */
    if (peer->channel())
        peer->channel()->setAwake(true);
    if (peers_.send(peer, header, payload)) {
        while (!send.answered && !send.failed)
            waitOnce_();
    }
    pending_.erase(std::find(pending_.begin(), pending_.end(), &send));
    sleep_();
    outcome.delivered = send.answered && send.status == Status::Ok;
    outcome.noWindow = send.answered && send.status == Status::NoWindow;
    outcome.refused = send.answered && send.status == Status::Refused;
    outcome.result = outcome.delivered ? send.result : 0;
    if (outcome.noWindow)
        station_.forget(target.handle);
    return outcome;
}

bool Outgoing::post(const Target& target, UINT message, WPARAM wParam, LPARAM lParam)
{
    const Peer peer = peers_.connectTo(target.pid);
    if (!peer) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    FrameHeader header = rkwire::makeHeader(Kind::Post, target.handle, message);
    header.wParam = wParam;
    header.lParam = lParam;
    switch (peers_.post(peer, header)) {
    case Peers::Posted::Sent:
        return true;
    case Peers::Posted::OverQuota:
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    case Peers::Posted::Lost:
        break;
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return false;
}

void Outgoing::takeReply(const Peer& peer, const rkwire::Frame& frame)
{
    for (PendingSend* send : pending_) {
        if (send->sequence == frame.header.sequence && send->connection == peer->id()) {
            send->answered = true;
            send->status = static_cast<Status>(frame.header.status);
            send->result = static_cast<LRESULT>(frame.header.lParam);
            return;
        }
    }
}

void Outgoing::connectionClosed(const PeerConnection& peer)
{
    station_.forgetProcess(peer.pid());
    for (PendingSend* send : pending_)
        if (send->connection == peer.id())
            send->failed = true;
}

} // namespace rkwin
