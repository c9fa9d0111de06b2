/*
 * One connection to another process: its socket, the shared-memory channel
 * beside it, the frames not sent yet and the order of frames both ways.
 *
 * Once a channel is offered (or adopted) every frame carries a serial, and
 * frames are taken in serial order whether they came through a ring or the
 * socket. The connection takes its own control frames (the channel's offer
 * and acceptance, wake-ups) and gives its owner sends, posts and replies
 * only, in the peer's order.
 *
 * It never waits on its own and never calls its owner: a fault (a broken
 * stream, a corrupt ring, a frame out of order) marks it failed, and the
 * owner closes it.
 */
#ifndef RKPEERCONNECTION_H
#define RKPEERCONNECTION_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>

#include "wire/rkChannel.h"
#include "wire/rkFrame.h"

namespace rkwin {

class PeerConnection {
public:
    /*
     * Takes the socket; accepted: the peer connected to us. ownBell, when
     * there is one, is this process's bell: handed to the peer with the
     * channel, so that it wakes this process without a frame on the socket.
     */
    PeerConnection(uint64_t id, int fd, pid_t pid, bool accepted, int ownBell = -1);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    uint64_t id() const { return id_; }
    int fd() const { return fd_; }
    pid_t pid() const { return pid_; }
    bool failed() const { return failed_; }
    bool closed() const { return closed_; }
    /* Closes the socket; the connection takes and carries nothing from then on. */
    void close();
    Channel* channel() const { return channel_.get(); }
    /* Whether the channel came or went since the last call. */
    bool takeChannelChange();

    /* ---- sending ---- */

    /* On a connection this side made: offers a new channel as its first frame. */
    void offerChannel();
    enum class Ring { Carried, NotCarried, Failed };
    /*
     * A frame that fits goes through the ring of its lane, and a sleeping
     * receiver is rung for it. A full ring leaves it to the socket (the
     * serial keeps it in order).
     */
    Ring putOnRing(rkwire::FrameHeader& header, const void* payload, Lane lane);
    /* The serial of the next frame through the socket; 0 while unordered. */
    uint32_t takeSerial();
    /* Puts a frame without payload behind what waits to be sent; false over the bound. */
    bool queue(rkwire::FrameHeader header);
    enum class Flush { Done, Pending, Failed };
    /* Sends what waits, as far as the socket takes it now. */
    Flush sendQueued();
    bool hasQueued() const { return !unsent_.empty(); }
    /*
     * Writes one whole frame through the socket after what waits, calling
     * waitForRoom while the socket is full; false (and failed) when that
     * gives up or the socket breaks.
     */
    bool write(const rkwire::FrameHeader& header, const void* payload, const std::function<bool(int)>& waitForRoom);
    /* Whether the owner watches the socket for room to write. */
    bool watchingWrites() const { return watchingWrites_; }
    void setWatchingWrites(bool watching) { watchingWrites_ = watching; }

    /* ---- receiving ---- */

    /* Reads what the socket has now (one recv). */
    rkwire::FrameReader::Fill fill();
    /* Whether a read could bring anything now: no whole frame waits, and the bytes are sound. */
    bool wantsBytes();
    /*
     * Takes the channel's frames at the head of the socket at once: they
     * call nothing, and a whole frame at the head would otherwise keep the
     * reader from a large frame behind it.
     */
    void takeControlFrames();
    /* The next send, post or reply in the peer's order; fromRing tells where it came from. */
    bool next(rkwire::Frame& frame, bool& fromRing);

private:
    bool isDue(const rkwire::FrameHeader& header) const;
    void noteTaken(const rkwire::FrameHeader& header);
    bool takeInOrder(rkwire::Frame& frame, bool& fromRing);
    void handleControl(const rkwire::Frame& frame);
    void adoptChannel(const rkwire::Frame& offer);
    void acceptChannel();
    void answerOffer();
    void ring();
    int takeReceived(int slot);
    void fail() { failed_ = true; }

    uint64_t id_;
    int fd_;
    pid_t pid_;
    bool accepted_;
    bool failed_ = false;
    bool closed_ = false;
    rkwire::FrameReader reader_;
    std::string unsent_;        /* frames the socket did not take yet */
    bool watchingWrites_ = false;
    /* Descriptors that came over the socket, not yet looked at: the segment and the bell of an offer, or the bell of an acceptance. */
    int received_[2] = {-1, -1};
    int ownBell_;
    int peerBell_ = -1;         /* the peer's bell, once it handed one over */
    std::unique_ptr<Channel> channel_;
    bool channelChanged_ = false;
    bool ordered_ = false;
    uint32_t sendSerial_ = 1;
    uint32_t expectSerial_ = 1;
};

/* Serials run 1, 2, ... and skip 0, which marks a frame outside the order. */
uint32_t serialAfter(uint32_t serial);
/* A serial the peer already used: the frame can never be taken in order. */
bool isBehind(uint32_t serial, uint32_t expected);

} // namespace rkwin

#endif
