#include "session/rkPeerConnection.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/rkDesktop.h"

namespace rkwin {

using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::Kind;

namespace {

/*
 * Posts and replies waiting for a receiver that does not read (over 20000
 * of them, beside what the socket holds). Beyond this a post fails, as a
 * full message queue makes it fail on Win32; a peer that lets its replies
 * pile up so far is cut off.
 */
constexpr size_t maxUnsentBytes = 1024u * 1024u;

bool isControl(uint16_t kind)
{
    return kind >= static_cast<uint16_t>(Kind::Wake) && kind <= static_cast<uint16_t>(Kind::ChannelAccept);
}

} // namespace

uint32_t serialAfter(uint32_t serial) { return serial + 1 == 0 ? 1 : serial + 1; }

bool isBehind(uint32_t serial, uint32_t expected) { return static_cast<int32_t>(serial - expected) < 0; }

PeerConnection::PeerConnection(uint64_t id, int fd, pid_t pid, bool accepted, int ownBell)
    : id_(id), fd_(fd), pid_(pid), accepted_(accepted), ownBell_(ownBell)
{
}

PeerConnection::~PeerConnection()
{
    close();
    for (int descriptor : {received_[0], received_[1], peerBell_})
        if (descriptor >= 0)
            ::close(descriptor);
}

int PeerConnection::takeReceived(int slot)
{
    const int descriptor = received_[slot];
    received_[slot] = -1;
    return descriptor;
}

void PeerConnection::close()
{
    if (closed_)
        return;
    closed_ = true;
    ::close(fd_);
}

bool PeerConnection::takeChannelChange()
{
    const bool changed = channelChanged_;
    channelChanged_ = false;
    return changed;
}

/*
 * The channel's offer is the first frame on a new connection: serial 1,
 * the segment attached. Frames go through the socket until the peer has
 * mapped it; a peer that declines simply never says so.
 */
void PeerConnection::offerChannel()
{
    int segment = -1;
    std::unique_ptr<Channel> channel = Channel::create(segment);
    if (!channel)
        return;
    FrameHeader offer = rkwire::makeHeader(Kind::Channel, 0, 0);
    offer.serial = 1;
    const int handed[2] = {segment, ownBell_};
    const long sent = rkwire::sendHeaderWithDescriptors(fd_, offer, handed, ownBell_ >= 0 ? 2 : 1);
    ::close(segment);
    if (sent == static_cast<long>(sizeof offer)) {
        channel_ = std::move(channel);
        channelChanged_ = true;
        ordered_ = true;
        sendSerial_ = 2;
    } else if (sent > 0) {
        fail(); /* half a header: the stream is lost */
    }
}

PeerConnection::Ring PeerConnection::putOnRing(FrameHeader& header, const void* payload, Lane lane)
{
    Channel* channel = channel_.get();
    if (closed_ || failed_ || !channel || !channel->isReady() || header.length > rkwire::ringPayloadLimit)
        return Ring::NotCarried;
    header.serial = sendSerial_;
    switch (channel->put(lane, header, payload)) {
    case rkwire::RingWriter::Put::Written:
        takeSerial();
        if (channel->receiverNeedsWaking())
            ring();
        return Ring::Carried;
    case rkwire::RingWriter::Put::Full:
        return Ring::NotCarried;
    case rkwire::RingWriter::Put::Broken:
        break;
    }
    fail();
    return Ring::Failed;
}

/*
 * A receiver asleep learns of ring traffic through its bell, or, without
 * one (or with a bell that will not take more), through a header of its
 * own on the socket.
 */
void PeerConnection::ring()
{
    const uint64_t one = 1;
    if (peerBell_ >= 0 && ::write(peerBell_, &one, sizeof one) == static_cast<ssize_t>(sizeof one))
        return;
    const FrameHeader wake = rkwire::makeHeader(Kind::Wake, 0, 0);
    unsent_.append(reinterpret_cast<const char*>(&wake), sizeof wake);
    sendQueued();
}

uint32_t PeerConnection::takeSerial()
{
    if (!ordered_)
        return 0;
    const uint32_t serial = sendSerial_;
    sendSerial_ = serialAfter(serial);
    return serial;
}

bool PeerConnection::queue(FrameHeader header)
{
    if (unsent_.size() + sizeof header > maxUnsentBytes)
        return false;
    header.serial = takeSerial();
    unsent_.append(reinterpret_cast<const char*>(&header), sizeof header);
    return true;
}

PeerConnection::Flush PeerConnection::sendQueued()
{
    if (closed_ || failed_)
        return Flush::Failed;
    size_t done = 0;
    Flush outcome = Flush::Done;
    while (done < unsent_.size()) {
        const ssize_t sent =
            send(fd_, unsent_.data() + done, unsent_.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            outcome = Flush::Pending;
            break;
        } else {
            fail();
            return Flush::Failed;
        }
    }
    unsent_.erase(0, done);
    return outcome;
}

/* Frames that wait go out first: posts keep their order before any later frame. */
bool PeerConnection::write(const FrameHeader& header, const void* payload,
                           const std::function<bool(int)>& waitForRoom)
{
    for (;;) {
        const Flush flushed = sendQueued();
        if (flushed == Flush::Done)
            break;
        if (flushed == Flush::Failed)
            return false;
        if (!waitForRoom(fd_) || failed_ || closed_) {
            fail();
            return false;
        }
    }
    if (rkwire::writeFrame(fd_, header, payload, waitForRoom))
        return true;
    fail();
    return false;
}

rkwire::FrameReader::Fill PeerConnection::fill()
{
    if (closed_)
        return rkwire::FrameReader::Fill::Closed;
    return reader_.fill(fd_, received_, 2);
}

bool PeerConnection::wantsBytes() { return !closed_ && !reader_.hasCompleteFrame() && !reader_.isCorrupt(); }

void PeerConnection::takeControlFrames()
{
    FrameHeader head;
    while (!failed_ && !closed_ && reader_.peekComplete(head) && isControl(head.kind) && isDue(head)) {
        Frame frame;
        reader_.take(frame);
        noteTaken(frame.header);
        handleControl(frame);
    }
}

bool PeerConnection::next(Frame& frame, bool& fromRing)
{
    while (!failed_ && !closed_ && takeInOrder(frame, fromRing)) {
        switch (static_cast<Kind>(frame.header.kind)) {
        case Kind::Send:
        case Kind::Post:
        case Kind::Reply:
            return true;
        default:
            handleControl(frame);
        }
    }
    if (!failed_ && !closed_ && reader_.isCorrupt())
        fail();
    return false;
}

void PeerConnection::handleControl(const Frame& frame)
{
    switch (static_cast<Kind>(frame.header.kind)) {
    case Kind::Wake:
        break; /* whatever it rang for is taken with the frames */
    case Kind::Channel:
        adoptChannel(frame);
        break;
    case Kind::ChannelAccept:
        acceptChannel();
        break;
    default:
        fail();
        break;
    }
}

/* On the side that accepted: the offer is taken once, before the connection is ordered, or never. */
void PeerConnection::adoptChannel(const Frame& offer)
{
    const int segment = takeReceived(0);
    const int bell = takeReceived(1);
    const bool unwanted = !accepted_ || ordered_;
    if (unwanted || segment < 0 || !channelsWanted()) {
        for (int descriptor : {segment, bell})
            if (descriptor >= 0)
                ::close(descriptor);
        if (unwanted)
            fail();
        return;
    }
    channel_ = Channel::adopt(segment);
    channelChanged_ = true;
    if (!channel_) {
        if (bell >= 0)
            ::close(bell);
        return;
    }
    peerBell_ = rkwire::adoptBell(bell);
    ordered_ = true;
    expectSerial_ = serialAfter(offer.header.serial);
    answerOffer();
    channel_->markReady();
}

/*
 * The acceptance hands this process's bell over when nothing waits before
 * it; otherwise it waits in line without one, and the peer rings through
 * the socket.
 */
void PeerConnection::answerOffer()
{
    FrameHeader accept = rkwire::makeHeader(Kind::ChannelAccept, 0, 0);
    if (unsent_.empty() && ownBell_ >= 0) {
        accept.serial = takeSerial();
        const long sent = rkwire::sendHeaderWithDescriptor(fd_, accept, ownBell_);
        if (sent == static_cast<long>(sizeof accept))
            return;
        if (sent > 0) {
            fail(); /* half a header: the stream is lost */
            return;
        }
        unsent_.append(reinterpret_cast<const char*>(&accept), sizeof accept);
    } else if (!queue(accept)) {
        fail();
        return;
    }
    sendQueued();
}

void PeerConnection::acceptChannel()
{
    const int bell = takeReceived(0);
    if (accepted_ || !channel_ || channel_->isReady()) {
        if (bell >= 0)
            ::close(bell);
        fail();
        return;
    }
    peerBell_ = rkwire::adoptBell(bell);
    channel_->markReady();
}

/* A frame on the socket may be taken now: unordered, or the serial due. */
bool PeerConnection::isDue(const FrameHeader& header) const
{
    return !ordered_ || header.serial == 0 || header.serial == expectSerial_;
}

void PeerConnection::noteTaken(const FrameHeader& header)
{
    if (ordered_ && header.serial != 0)
        expectSerial_ = serialAfter(expectSerial_);
}

/*
 * The next frame in the peer's order: the socket's next frame or a ring's,
 * whichever carries the serial due. A frame that carries a serial already
 * used, or a ring that cannot be read, fails the connection.
 */
bool PeerConnection::takeInOrder(Frame& frame, bool& fromRing)
{
    fromRing = false;
    if (!ordered_)
        return reader_.take(frame);
    FrameHeader socketHead;
    const bool socketReady = reader_.peekComplete(socketHead);
    if (socketReady && isDue(socketHead)) {
        reader_.take(frame);
        noteTaken(frame.header);
        return true;
    }
    bool broken = socketReady && isBehind(socketHead.serial, expectSerial_);
    if (Channel* channel = channel_.get()) {
        for (Lane lane : {Lane::Replies, Lane::Requests}) {
            const Frame* head = channel->head(lane);
            if (head && head->header.serial == expectSerial_) {
                frame = channel->pop(lane);
                noteTaken(frame.header);
                fromRing = true;
                return true;
            }
            broken = broken || (head && (head->header.serial == 0 || isBehind(head->header.serial, expectSerial_)));
        }
        broken = broken || channel->isBroken();
    }
    if (broken)
        fail();
    return false;
}

} // namespace rkwin
