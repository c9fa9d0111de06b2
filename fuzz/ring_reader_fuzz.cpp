// The rings of the shared-memory channel against a peer that writes
// anything into the shared bytes at any time. The input interleaves honest
// puts, scribbles over the data, forged tails and heads, and takes. Every
// frame taken must be one a ring may carry, whole; once a reader calls its
// ring broken it stays broken; a writer whose head is forged never writes
// outside the ring. As long as nobody scribbles, frames come out exactly as
// they were put, in order.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "wire/rkRing.h"
#include "rkwin.h"

#include <cstring>
#include <deque>
#include <vector>

using rkfuzz::FuzzInput;
using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::RingReader;
using rkwire::RingWriter;

namespace {

constexpr uint32_t capacity = 8192;

struct SharedRing {
    rkwire::RingControl control{};
    char data[capacity] = {};
};

FrameHeader honestHeader(FuzzInput& input, bool reply)
{
    static const uint16_t requestKinds[] = {static_cast<uint16_t>(rkwire::Kind::Send),
                                            static_cast<uint16_t>(rkwire::Kind::Post)};
    const uint16_t kind = reply ? static_cast<uint16_t>(rkwire::Kind::Reply) : requestKinds[input.byte() & 1];
    const bool post = kind == static_cast<uint16_t>(rkwire::Kind::Post);
    const uint32_t message = (input.byte() & 1) && !post ? WM_COPYDATA : 0x400 + input.byte();
    FrameHeader header = rkwire::makeHeader(static_cast<rkwire::Kind>(kind), 0x10001, message);
    header.serial = static_cast<uint32_t>(input.number(4));
    if (kind == static_cast<uint16_t>(rkwire::Kind::Send) && message == WM_COPYDATA)
        header.length = static_cast<uint32_t>(input.number(2)) % (rkwire::ringPayloadLimit + 1);
    return header;
}

void checkCarried(const Frame& frame, bool reply)
{
    FUZZ_CHECK(rkwire::isAcceptableHeader(frame.header), "a frame taken passes the header checks");
    FUZZ_CHECK(frame.header.length <= rkwire::ringPayloadLimit, "a frame taken fits a ring");
    FUZZ_CHECK(frame.payload.size() == frame.header.length, "a frame taken is whole");
    const bool isReply = frame.header.kind == static_cast<uint16_t>(rkwire::Kind::Reply);
    FUZZ_CHECK(isReply == reply, "a frame taken belongs to its lane");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const bool reply = input.byte() & 1;
    SharedRing ring;
    RingWriter writer(&ring.control, ring.data, capacity);
    RingReader reader(&ring.control, ring.data, capacity, reply);
    std::deque<Frame> expected; /* what honest puts wrote, while nobody scribbled */
    bool scribbled = false;
    bool broken = false;
    std::vector<char> payload(rkwire::ringPayloadLimit);

    while (!input.empty()) {
        switch (input.byte() % 6) {
        case 0: { /* an honest put */
            Frame frame;
            frame.header = honestHeader(input, reply);
            for (uint32_t i = 0; i < frame.header.length; ++i)
                payload[i] = static_cast<char>(i * 31 + frame.header.serial);
            frame.payload.assign(payload.begin(), payload.begin() + frame.header.length);
            const RingWriter::Put put = writer.put(frame.header, payload.data());
            FUZZ_CHECK(scribbled || put != RingWriter::Put::Broken, "an honest head never breaks the writer");
            FUZZ_CHECK(scribbled || put == RingWriter::Put::Written || !expected.empty(),
                       "an empty honest ring takes a frame");
            if (put == RingWriter::Put::Written && !scribbled)
                expected.push_back(frame);
            break;
        }
        case 1: { /* scribble over the data */
            const uint32_t at = static_cast<uint32_t>(input.number(2)) % capacity;
            const std::string bytes = input.text();
            const size_t count = std::min<size_t>(bytes.size(), capacity - at);
            std::memcpy(ring.data + at, bytes.data(), count);
            scribbled = scribbled || count > 0;
            break;
        }
        case 2: /* forge the tail */
            ring.control.tail.value = static_cast<uint32_t>(input.number(4));
            scribbled = true;
            break;
        case 3: /* forge the head the writer reads */
            ring.control.head.value = static_cast<uint32_t>(input.number(4));
            scribbled = true;
            break;
        default: { /* take */
            Frame frame;
            const RingReader::Take taken = reader.take(frame);
            FUZZ_CHECK(!broken || taken == RingReader::Take::Broken, "a broken ring stays broken");
            broken = taken == RingReader::Take::Broken;
            FUZZ_CHECK(scribbled || !broken, "an honest ring never breaks");
            if (taken == RingReader::Take::Taken) {
                checkCarried(frame, reply);
                if (!scribbled) {
                    FUZZ_CHECK(!expected.empty(), "an honest ring gives only what was put");
                    FUZZ_CHECK(std::memcmp(&frame.header, &expected.front().header, sizeof frame.header) == 0 &&
                                   frame.payload == expected.front().payload,
                               "an honest ring gives frames unchanged and in order");
                    expected.pop_front();
                }
            } else if (taken == RingReader::Take::Empty) {
                FUZZ_CHECK(scribbled || expected.empty(), "an honest ring with frames is not empty");
            }
            break;
        }
        }
    }
    return 0;
}
