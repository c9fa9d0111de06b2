/*
 * One connection's frames in one process: the side that connected offers
 * the channel over a socketpair, the side that accepted adopts it, and
 * frames then go through rings and the socket as they fit. The receiver
 * must hand them on in the order they were sent, whichever way each came,
 * and give up on a peer that breaks that order or the channel's handshake.
 */
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "session/rkPeerConnection.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

using rkwin::Lane;
using rkwin::PeerConnection;
using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::Kind;

namespace {

/* A frame as the receiver handed it on: its number (the header's sequence) and whether a ring carried it. */
using Arrival = std::pair<uint64_t, bool>;

const std::vector<char> copyData(300, 'c');

FrameHeader numbered(Kind kind, uint64_t number)
{
    FrameHeader header = rkwire::makeHeader(kind, 0x10001, kind == Kind::Send ? WM_COPYDATA : WM_USER + 1);
    if (kind == Kind::Send)
        header.length = static_cast<uint32_t>(copyData.size());
    header.sequence = number;
    return header;
}

const void* payloadOf(const FrameHeader& header) { return header.length > 0 ? copyData.data() : nullptr; }

class ConnectedPair {
public:
    /* Each side hands over the bell given, if any, for the other to ring. */
    explicit ConnectedPair(int connectingBell = -1, int acceptingBell = -1)
    {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0)
            ADD_FAILURE() << "socketpair";
        connecting = std::make_unique<PeerConnection>(1, ends[0], getpid(), false, connectingBell);
        accepting = std::make_unique<PeerConnection>(2, ends[1], getpid(), true, acceptingBell);
    }

    /* The whole handshake: offered, adopted, and the acceptance taken. */
    void connect()
    {
        connecting->offerChannel();
        adopt();
        takeAcceptance();
    }

    void adopt()
    {
        Frame frame;
        bool fromRing;
        EXPECT_FALSE(take(*accepting, frame, fromRing)) << "the offer is handed on";
        ASSERT_NE(accepting->channel(), nullptr) << "the accepting side declined the channel";
        ASSERT_TRUE(accepting->channel()->isReady());
    }

    void takeAcceptance()
    {
        for (int tries = 0; tries < 100 && !connecting->channel()->isReady() && !connecting->failed(); ++tries) {
            connecting->fill();
            connecting->takeControlFrames();
        }
        ASSERT_TRUE(connecting->channel()->isReady()) << "the acceptance never came";
    }

    /* The next frame the receiver hands on, reading its socket as long as that brings bytes. */
    static bool take(PeerConnection& receiver, Frame& frame, bool& fromRing)
    {
        for (int tries = 0; tries < 1000; ++tries) {
            if (receiver.next(frame, fromRing))
                return true;
            if (receiver.failed() || receiver.fill() != rkwire::FrameReader::Fill::Progress)
                return false;
        }
        return false;
    }

    /* Sends through the ring of the frame's lane; false when it did not fit. */
    bool sendByRing(FrameHeader header)
    {
        const Lane lane = header.kind == static_cast<uint16_t>(Kind::Reply) ? Lane::Replies : Lane::Requests;
        const PeerConnection::Ring ring = connecting->putOnRing(header, payloadOf(header), lane);
        EXPECT_NE(ring, PeerConnection::Ring::Failed);
        if (ring == PeerConnection::Ring::Carried)
            sent.emplace_back(header.sequence, true);
        return ring == PeerConnection::Ring::Carried;
    }

    /* Frames without payload wait in the queue; others are written whole, never waiting for room. */
    void sendBySocket(FrameHeader header)
    {
        if (header.length == 0) {
            ASSERT_TRUE(connecting->queue(header));
            ASSERT_EQ(connecting->sendQueued(), PeerConnection::Flush::Done);
        } else {
            header.serial = connecting->takeSerial();
            ASSERT_TRUE(connecting->write(header, payloadOf(header), [](int) { return false; }));
        }
        sent.emplace_back(header.sequence, false);
    }

    /* Writes a header past the connection, as a peer that breaks the rules does. */
    static void inject(const PeerConnection& from, const FrameHeader& header)
    {
        ASSERT_EQ(::send(from.fd(), &header, sizeof header, MSG_NOSIGNAL), ssize_t(sizeof header));
    }

    std::vector<Arrival> receive(size_t most = SIZE_MAX)
    {
        std::vector<Arrival> arrived;
        Frame frame;
        bool fromRing;
        while (arrived.size() < most && take(*accepting, frame, fromRing)) {
            EXPECT_EQ(frame.payload.size(), frame.header.length);
            arrived.emplace_back(frame.header.sequence, fromRing);
        }
        return arrived;
    }

    std::unique_ptr<PeerConnection> connecting;
    std::unique_ptr<PeerConnection> accepting;
    std::vector<Arrival> sent;
};

class PeerConnectionOrder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!rkwin::channelsWanted())
            GTEST_SKIP() << "the shared-memory channel is switched off";
    }
};

} // namespace

TEST_F(PeerConnectionOrder, FramesArriveAsSentWhicheverRingOrSocketEachTook)
{
    ConnectedPair pair;
    pair.connect();
    uint64_t number = 0;
    while (pair.sendByRing(numbered(Kind::Post, number)))
        ++number;
    for (Kind kind : {Kind::Send, Kind::Reply, Kind::Post})
        pair.sendBySocket(numbered(kind, number++));
    std::vector<Arrival> arrived = pair.receive(pair.sent.size() / 2);
    /* Room again: the rings carry the next frames, both lanes, behind those still waiting. */
    for (Kind kind : {Kind::Reply, Kind::Send, Kind::Post, Kind::Reply})
        ASSERT_TRUE(pair.sendByRing(numbered(kind, number++)));
    pair.sendBySocket(numbered(Kind::Send, number++));
    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Reply, number++)));

    const std::vector<Arrival> rest = pair.receive();
    arrived.insert(arrived.end(), rest.begin(), rest.end());
    EXPECT_EQ(arrived, pair.sent);
    EXPECT_FALSE(pair.accepting->failed());
}

TEST_F(PeerConnectionOrder, TheConnectingSideTakesItsRingsOnlyOnceAccepted)
{
    ConnectedPair pair;
    pair.connecting->offerChannel();
    EXPECT_FALSE(pair.sendByRing(numbered(Kind::Post, 0))) << "a ring before the peer mapped it";
    pair.adopt();
    EXPECT_FALSE(pair.sendByRing(numbered(Kind::Post, 0))) << "a ring before the acceptance was taken";
    pair.sendBySocket(numbered(Kind::Post, 0));
    pair.sendBySocket(numbered(Kind::Send, 1));
    pair.takeAcceptance();
    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Reply, 2)));
    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Post, 3)));

    EXPECT_EQ(pair.receive(), pair.sent);
    EXPECT_FALSE(pair.accepting->failed());
    EXPECT_FALSE(pair.connecting->failed());
}

TEST_F(PeerConnectionOrder, AFrameWithAUsedSerialFailsTheReceiverAndIsNotHandedOn)
{
    ConnectedPair pair;
    pair.connect();
    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Post, 0)));
    pair.sendBySocket(numbered(Kind::Post, 1));
    ASSERT_EQ(pair.receive(), pair.sent);

    FrameHeader stale = numbered(Kind::Post, 2);
    stale.serial = 2; /* the ring frame's, the first after the offer */
    ConnectedPair::inject(*pair.connecting, stale);
    pair.sendBySocket(numbered(Kind::Post, 3));
    EXPECT_TRUE(pair.receive().empty());
    EXPECT_TRUE(pair.accepting->failed());
}

TEST_F(PeerConnectionOrder, AChannelFrameOutOfItsPlaceFailsTheSideThatGetsIt)
{
    struct Case {
        const char* what;
        Kind kind;
        bool toAccepting;
    };
    for (const Case& fault : {Case{"a second offer", Kind::Channel, true},
                              Case{"an acceptance at the accepting side", Kind::ChannelAccept, true},
                              Case{"an offer at the connecting side", Kind::Channel, false},
                              Case{"a second acceptance", Kind::ChannelAccept, false}}) {
        SCOPED_TRACE(fault.what);
        ConnectedPair pair;
        pair.connect();
        PeerConnection& sender = fault.toAccepting ? *pair.connecting : *pair.accepting;
        PeerConnection& receiver = fault.toAccepting ? *pair.accepting : *pair.connecting;
        FrameHeader header = rkwire::makeHeader(fault.kind, 0, 0);
        header.serial = sender.takeSerial(); /* due: only its place is wrong */
        ConnectedPair::inject(sender, header);
        Frame frame;
        bool fromRing;
        EXPECT_FALSE(ConnectedPair::take(receiver, frame, fromRing));
        EXPECT_TRUE(receiver.failed());
    }
}

/* A descriptor closed when the test ends. */
struct Owned {
    int fd;
    ~Owned() { ::close(fd); }
};

bool socketHasBytes(const PeerConnection& side)
{
    char byte;
    return ::recv(side.fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 1;
}

TEST_F(PeerConnectionOrder, ASleepingReceiverIsRungThroughItsBellAndNotItsSocket)
{
    const Owned bell{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
    ConnectedPair pair(-1, bell.fd);
    pair.connect();

    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Post, 1)));

    uint64_t rung = 0;
    EXPECT_EQ(::read(bell.fd, &rung, sizeof rung), ssize_t(sizeof rung));
    EXPECT_EQ(rung, 1u);
    EXPECT_FALSE(socketHasBytes(*pair.accepting)) << "a wake frame came through the socket as well";
    EXPECT_EQ(pair.receive(), pair.sent);
}

TEST_F(PeerConnectionOrder, AnythingButABellHandedOverIsNeverWrittenTo)
{
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_NONBLOCK | O_CLOEXEC), 0);
    const Owned reading{pipeEnds[0]}, writing{pipeEnds[1]};
    ConnectedPair pair(-1, writing.fd);
    pair.connect();

    ASSERT_TRUE(pair.sendByRing(numbered(Kind::Post, 1)));

    char byte;
    EXPECT_EQ(::read(reading.fd, &byte, 1), -1) << "the peer's pipe was written to";
    EXPECT_TRUE(socketHasBytes(*pair.accepting)) << "the receiver was not rung through its socket";
    EXPECT_EQ(pair.receive(), pair.sent);
}
