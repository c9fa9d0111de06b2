#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/rkFrame.h"
#include "wire/rkStationProtocol.h"
#include "rkwin.h"

using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::FrameReader;

namespace {

class SocketPair {
public:
    SocketPair() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends_), 0); }
    ~SocketPair()
    {
        close(ends_[0]);
        close(ends_[1]);
    }
    void write(const std::string& bytes) { ASSERT_EQ(::write(ends_[0], bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void closeWriter() { shutdown(ends_[0], SHUT_WR); }
    int reader() const { return ends_[1]; }

private:
    int ends_[2] = {-1, -1};
};

std::string encode(FrameHeader header, const std::string& payload = "")
{
    header.length = static_cast<uint32_t>(payload.size());
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + payload;
}

FrameHeader copyDataHeader(uint64_t sequence)
{
    FrameHeader header = rkwire::makeHeader(rkwire::Kind::Send, 0x10001, WM_COPYDATA);
    header.sequence = sequence;
    return header;
}

} // namespace

TEST(FrameReader, ReassemblesAFrameThatArrivesOneByteAtATime)
{
    SocketPair pair;
    FrameReader reader;
    std::string bytes = encode(copyDataHeader(7), "payload bytes");
    Frame frame;
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_FALSE(reader.take(frame)) << "complete after only " << i << " bytes";
        pair.write(bytes.substr(i, 1));
        EXPECT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    }
    ASSERT_TRUE(reader.take(frame));
    EXPECT_EQ(frame.header.sequence, 7u);
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), "payload bytes");
    EXPECT_FALSE(reader.hasBufferedBytes());
}

TEST(FrameReader, TakesSeveralFramesThatArriveTogetherInOrder)
{
    SocketPair pair;
    FrameReader reader;
    pair.write(encode(copyDataHeader(1), "one") + encode(copyDataHeader(2)) + encode(copyDataHeader(3), "three"));
    ASSERT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    Frame frame;
    for (uint64_t expected : {1u, 2u, 3u}) {
        ASSERT_TRUE(reader.take(frame));
        EXPECT_EQ(frame.header.sequence, expected);
    }
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), "three");
    EXPECT_FALSE(reader.take(frame));
}

TEST(FrameReader, ReadsAPayloadLargerThanOneRead)
{
    SocketPair pair;
    int size = 1 << 20;
    setsockopt(pair.reader(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    FrameReader reader;
    std::string payload(300000, 'p');
    std::string bytes = encode(copyDataHeader(9), payload);
    Frame frame;
    size_t sent = 0;
    while (!reader.take(frame)) {
        if (sent < bytes.size()) {
            size_t chunk = std::min<size_t>(50000, bytes.size() - sent);
            pair.write(bytes.substr(sent, chunk));
            sent += chunk;
        }
        ASSERT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    }
    EXPECT_EQ(frame.payload.size(), payload.size());
}

TEST(FrameReader, KeepsFillingWhileWholeFramesWaitUntaken)
{
    SocketPair pair;
    FrameReader reader;
    pair.write(encode(copyDataHeader(1), "one") + encode(copyDataHeader(2), "two"));
    ASSERT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    std::string large(100000, 'l');
    pair.write(encode(copyDataHeader(3), large));
    Frame frame;
    for (uint64_t expected : {1u, 2u, 3u}) {
        while (!reader.hasCompleteFrame())
            ASSERT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
        ASSERT_TRUE(reader.take(frame));
        EXPECT_EQ(frame.header.sequence, expected);
    }
    EXPECT_EQ(std::string(frame.payload.begin(), frame.payload.end()), large);
}

TEST(FrameReader, GrowsWithArrivedBytesNotWithAnnouncedOnes)
{
    SocketPair pair;
    FrameReader reader;
    FrameHeader header = copyDataHeader(1);
    header.length = rkwire::maxCopyDataBytes;
    pair.write(std::string(reinterpret_cast<const char*>(&header), sizeof header) + "x");
    ASSERT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    EXPECT_LT(reader.capacity(), 1u << 20);
}

TEST(FrameReader, StopsReadingAtItsBoundUntilFramesAreTaken)
{
    SocketPair pair;
    FrameReader reader(sizeof(FrameHeader));
    std::string frames;
    for (int i = 0; i < 4000; ++i)
        frames += encode(copyDataHeader(i));
    pair.write(frames);
    while (reader.fill(pair.reader()) == FrameReader::Fill::Progress) {
    }
    EXPECT_LE(reader.capacity(), sizeof(FrameHeader) + 64 * 1024);
    Frame frame;
    uint64_t taken = 0;
    for (;;) {
        while (reader.take(frame))
            EXPECT_EQ(frame.header.sequence, taken++);
        if (reader.fill(pair.reader()) != FrameReader::Fill::Progress)
            break;
    }
    EXPECT_EQ(taken, 4000u);
}

TEST(FrameReader, ReportsAClosedPeerAndAnEmptySocket)
{
    SocketPair pair;
    FrameReader reader;
    EXPECT_EQ(reader.fill(pair.reader()), FrameReader::Fill::WouldBlock);
    pair.write(encode(copyDataHeader(1), "cut").substr(0, 20));
    EXPECT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Progress);
    pair.closeWriter();
    EXPECT_EQ(reader.fill(pair.reader()), FrameReader::Fill::Closed);
    Frame frame;
    EXPECT_FALSE(reader.take(frame));
}

TEST(FrameReader, MarksAWrongMagicAsCorrupt)
{
    SocketPair pair;
    FrameReader reader;
    FrameHeader header = copyDataHeader(1);
    header.magic ^= 1;
    pair.write(encode(header));
    reader.fill(pair.reader());
    Frame frame;
    EXPECT_FALSE(reader.take(frame));
    EXPECT_TRUE(reader.isCorrupt());
}

TEST(FrameHeaders, AcceptPayloadsOnlyWhereTheyBelong)
{
    FrameHeader plain = rkwire::makeHeader(rkwire::Kind::Send, 1, WM_USER);
    EXPECT_TRUE(rkwire::isAcceptableHeader(plain));
    plain.length = 1;
    EXPECT_FALSE(rkwire::isAcceptableHeader(plain));

    FrameHeader copy = copyDataHeader(1);
    copy.length = rkwire::maxCopyDataBytes;
    EXPECT_TRUE(rkwire::isAcceptableHeader(copy));
    copy.length += 1;
    EXPECT_FALSE(rkwire::isAcceptableHeader(copy));

    FrameHeader post = rkwire::makeHeader(rkwire::Kind::Post, 1, WM_COPYDATA);
    EXPECT_FALSE(rkwire::isAcceptableHeader(post));

    FrameHeader unknown = rkwire::makeHeader(rkwire::Kind::Send, 1, WM_USER);
    unknown.kind = 99;
    EXPECT_FALSE(rkwire::isAcceptableHeader(unknown));
}

TEST(StationNames, SurviveTheRoundTripIncludingEmptyAndMissingOnes)
{
    std::string first, second;
    ASSERT_TRUE(rkwire::decodeNames(rkwire::encodeNames("Class", nullptr), first, second));
    EXPECT_EQ(first, "Class");
    EXPECT_EQ(second, "");
    ASSERT_TRUE(rkwire::decodeNames(rkwire::encodeNames("", "Name"), first, second));
    EXPECT_EQ(first, "");
    EXPECT_EQ(second, "Name");
}

TEST(StationNames, RefuseAPayloadWithoutItsTwoTerminators)
{
    std::string first, second;
    EXPECT_FALSE(rkwire::decodeNames({}, first, second));
    EXPECT_FALSE(rkwire::decodeNames({'a', 'b'}, first, second));
    EXPECT_FALSE(rkwire::decodeNames({'a', '\0', 'b'}, first, second));
    EXPECT_FALSE(rkwire::decodeNames({'a', '\0', 'b', '\0', 'c'}, first, second));
}
