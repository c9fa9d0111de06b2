/*
 * Frames on the desktop's sockets: between two client processes (sends,
 * posts and their replies) and between a client and the window station
 * (the handle table). Every frame is a fixed header followed by exactly
 * `length` payload bytes.
 */
#ifndef RKFRAME_H
#define RKFRAME_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rkwire {

constexpr uint32_t frameMagic = 0x314d4b52; /* "RKM1" */

/* A WM_COPYDATA block larger than this is refused by sender and receiver. */
constexpr uint32_t maxCopyDataBytes = 64u * 1024u * 1024u;
/* Requests to the window station carry at most two names. */
constexpr uint32_t maxStationRequestBytes = 4096;
/* A snapshot of the whole handle table fits easily. */
constexpr uint32_t maxStationReplyBytes = 65536u * 8u;

enum class Kind : uint16_t {
    /* client to client */
    Send = 1,
    Post = 2,
    Reply = 3,
    /* the shared-memory channel beside a connection (header only) */
    Wake = 4,          /* frames wait in a ring: look */
    Channel = 5,       /* from the side that connected, with the segment's memfd */
    ChannelAccept = 6, /* the segment is mapped: rings may carry frames */
    /* client to window station, each answered by StationReply */
    Create = 16,
    Claim = 17,
    Destroy = 18,
    Resolve = 19,
    Find = 20,
    Snapshot = 21,
    StationReply = 32,
};

enum class Status : uint16_t {
    Ok = 0,
    NoWindow = 1,
    Refused = 2,
};

/* Flags of Create, Claim and Find. */
constexpr uint16_t flagTopLevel = 1;
constexpr uint16_t flagHasClass = 2;
constexpr uint16_t flagHasName = 4;

struct FrameHeader {
    uint32_t magic;
    uint16_t kind;
    uint16_t status; /* Status in replies, flags in station requests */
    uint32_t length; /* payload bytes after the header */
    uint32_t window; /* the addressed window handle */
    uint64_t sequence;
    uint32_t message;
    uint32_t serial; /* order of frames on a connection with a channel: 1, 2, ... (skipping 0); 0 unordered */
    uint64_t wParam;
    int64_t lParam; /* result in replies, dwData for WM_COPYDATA, owner pid in station replies */
};
static_assert(sizeof(FrameHeader) == 48, "the header layout is part of the wire format");

struct Frame {
    FrameHeader header{};
    std::vector<char> payload;
};

FrameHeader makeHeader(Kind kind, uint32_t window, uint32_t message);

/* Largest payload a frame of this kind may carry, or -1 for an unknown kind. */
int64_t payloadLimit(uint16_t kind, uint32_t message);

/* A header that fails this closes the connection it arrived on. */
bool isAcceptableHeader(const FrameHeader& header);

/* The largest frame a peer may send: a header and the largest WM_COPYDATA block. */
constexpr size_t maxPeerFrameBytes = sizeof(FrameHeader) + maxCopyDataBytes;
/* The largest frame on a connection to or from the window station. */
constexpr size_t maxStationFrameBytes = sizeof(FrameHeader) + maxStationReplyBytes;

/*
 * Incoming bytes of one connection. Frames are taken out whole, so a frame
 * handler may re-enter the reader of the same connection.
 *
 * The buffer grows only with bytes that have arrived, never ahead of what a
 * header announces, and never holds more than the largest acceptable frame
 * plus one read: once that much waits, a complete frame is among it, and the
 * reader takes nothing more from the socket until frames are taken out.
 */
class FrameReader {
public:
    enum class Fill { Progress, WouldBlock, Closed };

    explicit FrameReader(size_t maxFrameBytes = maxPeerFrameBytes);

    /*
     * Reads what the socket has without blocking (one recv). WouldBlock also
     * when the buffer is at its bound or the bytes are corrupt: nothing more
     * is read then. A descriptor that came with the bytes goes to
     * *descriptor when that is given and still -1; any other is closed.
     */
    Fill fill(int fd, int* descriptor = nullptr) { return fill(fd, descriptor, descriptor ? 1 : 0); }
    /* The same, keeping descriptors that came with the bytes in the slots that are still -1, in order. */
    Fill fill(int fd, int* descriptors, size_t slots);
    /* Takes the next complete frame; false when none is complete yet. */
    bool take(Frame& frame);
    /* The header of the next complete frame, left in place; false when none is complete yet. */
    bool peekComplete(FrameHeader& header);
    /* True when the buffered bytes cannot start a valid frame. */
    bool isCorrupt() const { return corrupt_; }
    bool hasBufferedBytes() const { return end_ > start_; }
    /* True when take would succeed. */
    bool hasCompleteFrame();
    /* Bytes of memory the buffer holds, for tests of its bound. */
    size_t capacity() const { return buffer_.size(); }

private:
    size_t buffered() const { return end_ - start_; }
    bool peekHeader(FrameHeader& header);
    void makeRoom();
    void release();

    size_t limit_;
    std::vector<char> buffer_;
    size_t start_ = 0;
    size_t end_ = 0;
    bool corrupt_ = false;
};

/* Sends a header alone with a descriptor attached; the bytes sent, or -1. Never waits. */
long sendHeaderWithDescriptor(int fd, const FrameHeader& header, int descriptor);
/* The same with several descriptors (at most four) attached. */
long sendHeaderWithDescriptors(int fd, const FrameHeader& header, const int* descriptors, size_t count);

} // namespace rkwire

#endif
