// The order of one connection's frames, both ends in this process over a
// socketpair: the side that connected offers the channel, the side that
// accepted adopts it, and then the input picks, step by step, a send, post
// or reply through a ring or the socket, a hostile frame written past the
// sender into the socket (any bytes, any kind, a serial near the one due or
// any at all), or the receiver taking frames.
//
// While nothing hostile was written, the receiver never fails and hands on
// exactly the frames sent, unchanged, in order, each the way it came, none
// twice and, once everything is drained, none lost. After a hostile frame
// it may fail or stall, but whatever it hands on is still a frame that was
// written, honest frames in their order, and nothing once it has failed.
// Every run closes every descriptor it opened.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "session/rkPeerConnection.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using rkfuzz::FuzzInput;
using rkwin::PeerConnection;
using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::Kind;

namespace {

// Some payloads are too large for a ring and always take the socket.
constexpr uint32_t largestPayload = rkwire::ringPayloadLimit + 512;
constexpr uint32_t largestHostilePayload = 1024;
// Every run stays quick and far below what the reader may buffer.
constexpr size_t mostFrames = 4000;
// Honest frames are numbered in their sequence; hostile ones carry this bit.
constexpr uint64_t hostileMark = uint64_t(1) << 63;

size_t openDescriptors()
{
    DIR* folder = opendir("/proc/self/fd");
    FUZZ_CHECK(folder != nullptr, "/proc/self/fd");
    size_t count = 0;
    while (readdir(folder))
        ++count;
    closedir(folder);
    return count;
}

std::vector<char> payloadFor(uint64_t number, uint32_t length)
{
    std::vector<char> payload(length);
    for (uint32_t i = 0; i < length; ++i)
        payload[i] = static_cast<char>(number * 131 + i);
    return payload;
}

bool isHandedOn(uint16_t kind)
{
    return kind == static_cast<uint16_t>(Kind::Send) || kind == static_cast<uint16_t>(Kind::Post) ||
           kind == static_cast<uint16_t>(Kind::Reply);
}

bool sameHeaderButSerial(FrameHeader a, FrameHeader b)
{
    a.serial = b.serial = 0;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

struct SocketEnds {
    SocketEnds()
    {
        FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0, "socketpair");
    }
    int fds[2] = {-1, -1};
};

struct Written {
    Frame frame;
    bool byRing = false;
};

class OrderRun {
public:
    OrderRun();
    void sendHonest(FuzzInput& input, bool byRing);
    void injectHostile(FuzzInput& input);
    void take(size_t most);
    void finish();

private:
    FrameHeader honestHeader(FuzzInput& input) const;
    FrameHeader hostileHeader(FuzzInput& input) const;
    bool carriedByRing(Written& written);
    bool sentBySocket(Written& written, bool queued);
    bool writeRaw(const std::string& bytes);
    bool drainSocket();
    bool flushSender();
    void check(const Frame& frame, bool fromRing);
    void checkHealth() const;

    SocketEnds ends_; // each end is closed by its connection
    PeerConnection connecting_{1, ends_.fds[0], getpid(), false};
    PeerConnection accepting_{2, ends_.fds[1], getpid(), true};
    std::vector<Written> honest_;
    std::vector<Frame> hostile_;
    uint32_t serialsUsed_ = 0;
    size_t nextHonest_ = 0;
    size_t nextHostile_ = 0;
};

OrderRun::OrderRun()
{
    FUZZ_CHECK(rkwin::channelsWanted(), "the order under test needs the channel: RK_SHARED_MEMORY is 0");
    connecting_.offerChannel();
    FUZZ_CHECK(connecting_.channel() != nullptr, "the connecting side offers a channel");
    accepting_.fill();
    Frame frame;
    bool fromRing;
    FUZZ_CHECK(!accepting_.next(frame, fromRing), "the offer is not handed on");
    FUZZ_CHECK(accepting_.channel() && accepting_.channel()->isReady(), "the accepting side adopts the channel");
    connecting_.fill();
    connecting_.takeControlFrames();
    FUZZ_CHECK(connecting_.channel()->isReady(), "the connecting side takes the acceptance");
}

FrameHeader OrderRun::honestHeader(FuzzInput& input) const
{
    static const Kind kinds[] = {Kind::Send, Kind::Post, Kind::Reply};
    const Kind kind = kinds[input.byte() % 3];
    const bool copyData = kind == Kind::Send && (input.byte() & 1);
    FrameHeader header = rkwire::makeHeader(kind, 0x10001, copyData ? WM_COPYDATA : WM_USER + input.byte());
    if (copyData)
        header.length = static_cast<uint32_t>(input.number(2)) % (largestPayload + 1);
    header.sequence = honest_.size();
    header.lParam = static_cast<int64_t>(honest_.size()) * 7;
    return header;
}

void OrderRun::sendHonest(FuzzInput& input, bool byRing)
{
    Written written;
    written.frame.header = honestHeader(input);
    const bool queued = input.byte() & 1;
    if (honest_.size() >= mostFrames || connecting_.failed() || connecting_.closed())
        return;
    written.frame.payload = payloadFor(written.frame.header.sequence, written.frame.header.length);
    if ((byRing && carriedByRing(written)) || sentBySocket(written, queued))
        honest_.push_back(written);
    checkHealth();
}

bool OrderRun::carriedByRing(Written& written)
{
    FrameHeader& header = written.frame.header;
    const rkwin::Lane lane =
        header.kind == static_cast<uint16_t>(Kind::Reply) ? rkwin::Lane::Replies : rkwin::Lane::Requests;
    const PeerConnection::Ring ring = connecting_.putOnRing(header, written.frame.payload.data(), lane);
    FUZZ_CHECK(ring != PeerConnection::Ring::Failed, "a ring nobody scribbled on fails its writer");
    written.byRing = ring == PeerConnection::Ring::Carried;
    serialsUsed_ += written.byRing;
    return written.byRing;
}

// Frames without payload may wait in the queue; others are written whole,
// the receiver reading meanwhile.
bool OrderRun::sentBySocket(Written& written, bool queued)
{
    ++serialsUsed_;
    FrameHeader& header = written.frame.header;
    if (queued && header.length == 0) {
        const bool taken = connecting_.queue(header);
        FUZZ_CHECK(taken, "the queue takes a few thousand frames");
        connecting_.sendQueued();
        return true;
    }
    header.serial = connecting_.takeSerial();
    return connecting_.write(header, written.frame.payload.data(), [this](int) { return drainSocket(); });
}

FrameHeader OrderRun::hostileHeader(FuzzInput& input) const
{
    FrameHeader header = rkwire::makeHeader(Kind::Post, 0x10001, WM_USER);
    switch (input.byte() % 3) {
    case 0: { /* any bytes at all */
        const std::string bytes = input.bytes(sizeof header);
        std::memcpy(&header, bytes.data(), bytes.size());
        break;
    }
    case 1: /* a whole frame of any kind, with any serial */
        header.kind = input.byte() % 8;
        header.serial = static_cast<uint32_t>(input.number(4));
        break;
    default: /* a kind of the peers', with a serial near the one due */
        header.kind = 1 + input.byte() % 6;
        header.serial = 2 + serialsUsed_ + static_cast<int8_t>(input.byte());
        break;
    }
    if (header.kind == static_cast<uint16_t>(Kind::Send) && (input.byte() & 1)) {
        header.message = WM_COPYDATA;
        header.length = static_cast<uint32_t>(input.number(2));
    }
    header.length %= largestHostilePayload + 1;
    header.sequence |= hostileMark;
    return header;
}

// The frame goes whole behind the sender's whole frames, or the sender is
// closed: nothing of its own may complete a hostile frame's bytes.
void OrderRun::injectHostile(FuzzInput& input)
{
    Frame frame;
    frame.header = hostileHeader(input);
    if (connecting_.failed() || connecting_.closed() || !flushSender())
        return;
    frame.payload = payloadFor(frame.header.sequence, frame.header.length);
    std::string bytes(reinterpret_cast<const char*>(&frame.header), sizeof frame.header);
    bytes.append(frame.payload.begin(), frame.payload.end());
    hostile_.push_back(frame);
    if (!writeRaw(bytes))
        connecting_.close();
}

bool OrderRun::writeRaw(const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = send(connecting_.fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0)
            done += static_cast<size_t>(sent);
        else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            FUZZ_CHECK(false, "send on the socketpair");
        else if (!drainSocket())
            return false;
    }
    return true;
}

// Reads what the receiver's socket holds; true when anything came.
bool OrderRun::drainSocket()
{
    bool progress = false;
    while (accepting_.fill() == rkwire::FrameReader::Fill::Progress)
        progress = true;
    return progress;
}

bool OrderRun::flushSender()
{
    while (connecting_.hasQueued())
        if (connecting_.sendQueued() == PeerConnection::Flush::Failed || (connecting_.hasQueued() && !drainSocket()))
            return false;
    return true;
}

void OrderRun::take(size_t most)
{
    Frame frame;
    bool fromRing;
    for (size_t taken = 0; taken < most;) {
        const bool failedBefore = accepting_.failed();
        if (accepting_.next(frame, fromRing)) {
            FUZZ_CHECK(!failedBefore, "a failed connection hands on a frame");
            check(frame, fromRing);
            ++taken;
            continue;
        }
        checkHealth();
        if (connecting_.hasQueued() && !connecting_.failed() && !connecting_.closed())
            connecting_.sendQueued();
        if (!drainSocket())
            break;
    }
    checkHealth();
}

void OrderRun::check(const Frame& frame, bool fromRing)
{
    FUZZ_CHECK(isHandedOn(frame.header.kind), "only sends, posts and replies are handed on");
    FUZZ_CHECK(frame.payload.size() == frame.header.length, "a frame handed on is whole");
    const uint64_t number = frame.header.sequence;
    if (number & hostileMark) {
        FUZZ_CHECK(!fromRing, "a frame written into the socket comes from a ring");
        while (nextHostile_ < hostile_.size() &&
               !(std::memcmp(&hostile_[nextHostile_].header, &frame.header, sizeof frame.header) == 0 &&
                 hostile_[nextHostile_].payload == frame.payload))
            ++nextHostile_;
        FUZZ_CHECK(nextHostile_ < hostile_.size(), "a hostile frame is changed, handed on twice or out of order");
        ++nextHostile_;
        return;
    }
    FUZZ_CHECK(number < honest_.size(), "a frame is handed on that nobody sent");
    FUZZ_CHECK(number >= nextHonest_, "a frame is handed on twice or before one sent earlier");
    FUZZ_CHECK(number == nextHonest_ || !hostile_.empty(), "a frame is skipped");
    const Written& written = honest_[number];
    FUZZ_CHECK(sameHeaderButSerial(frame.header, written.frame.header) && frame.payload == written.frame.payload,
               "a frame is changed on its way");
    FUZZ_CHECK(fromRing == written.byRing, "a frame is said to come the other way");
    nextHonest_ = number + 1;
}

void OrderRun::checkHealth() const
{
    FUZZ_CHECK(!hostile_.empty() || !accepting_.failed(), "an honest sender fails its receiver");
    FUZZ_CHECK(!hostile_.empty() || !connecting_.failed(), "an honest sender fails");
}

void OrderRun::finish()
{
    take(SIZE_MAX);
    if (!hostile_.empty())
        return;
    FUZZ_CHECK(!connecting_.hasQueued(), "frames stay queued on a drained socket");
    FUZZ_CHECK(nextHonest_ == honest_.size(), "a frame sent is never handed on");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t descriptors = openDescriptors();
    {
        FuzzInput input(data, size);
        OrderRun run;
        while (!input.empty()) {
            const uint8_t op = input.byte();
            switch (op % 8) {
            case 0:
            case 1:
                run.sendHonest(input, true);
                break;
            case 2:
            case 3:
                run.sendHonest(input, false);
                break;
            case 4:
                run.injectHostile(input);
                break;
            default:
                run.take((op >> 3) + 1);
                break;
            }
        }
        run.finish();
    }
    FUZZ_CHECK(openDescriptors() == descriptors, "a descriptor is left open");
    return 0;
}
