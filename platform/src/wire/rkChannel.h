/*
 * The shared-memory channel beside a connection to another process. Each
 * direction has a ring of requests (sends and posts), a ring of replies
 * and the receiver's wake word, which tells the writer whether the
 * receiver looks at its rings by itself (it spins) or must be woken through
 * the socket.
 *
 * The process that connected makes the segment (a sealed memfd, never a
 * name others could open) and hands it over the connection; the process
 * that accepted checks and maps it and says so. Until then, and for frames
 * that do not fit, everything goes through the socket.
 */
#ifndef RKCHANNEL_H
#define RKCHANNEL_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "wire/rkRing.h"

namespace rkwin {

enum class Lane { Requests = 0, Replies = 1 };

class Channel {
public:
    /* A new segment for the side that connected, and the descriptor to hand over; nullptr when none can be made. */
    static std::unique_ptr<Channel> create(int& descriptor);
    /* The segment handed over by the side that connected; nullptr when it is not a sound one. Closes descriptor. */
    static std::unique_ptr<Channel> adopt(int descriptor);
    ~Channel();
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    /* Sending: ready once the other side maps the segment. */
    bool isReady() const { return ready_; }
    void markReady() { ready_ = true; }
    rkwire::RingWriter::Put put(Lane lane, const rkwire::FrameHeader& header, const void* payload);
    /* After a put: true when the receiver sleeps and has not been woken since; it then counts as woken. */
    bool receiverNeedsWaking();

    /* Receiving */
    bool hasIncoming() const;
    /* The next frame of a lane, copied out and held until popped; nullptr when there is none. */
    const rkwire::Frame* head(Lane lane);
    rkwire::Frame pop(Lane lane);
    bool isBroken() const { return broken_; }
    /* Awake while this process spins on its rings; otherwise writers wake it. */
    void setAwake(bool awake);

private:
    struct Direction;
    struct Segment;
    struct Held {
        bool valid = false;
        rkwire::Frame frame;
    };

    Channel(Segment* segment, bool connected);
    static size_t mappedBytes();
    static Segment* map(int descriptor);

    Segment* segment_;
    Direction* incoming_;
    Direction* outgoing_;
    rkwire::RingWriter writers_[2];
    rkwire::RingReader readers_[2];
    Held held_[2];
    bool broken_ = false;
    bool ready_ = false;
};

/* The channel is used unless RK_SHARED_MEMORY is 0. */
bool channelsWanted();

} // namespace rkwin

#endif
