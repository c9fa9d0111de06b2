// Builds the byte stream for the frame reader's fuzz target from a short
// description: raw bytes as they are, and frames with a header that the
// reader accepts and payloads far longer than the input itself, so that
// the reader's buffer has to grow, move and shrink.
#ifndef RK_FUZZ_FRAME_STREAM_H
#define RK_FUZZ_FRAME_STREAM_H

#include "fuzzInput.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

#include <string>

namespace rkfuzz {

// Beyond this the stream is cut: every execution stays quick.
constexpr size_t maxStreamBytes = 1u << 20;
constexpr uint32_t maxGeneratedPayload = 200000;

inline uint16_t generatedKind(uint8_t choice)
{
    static const uint16_t kinds[] = {1, 2, 3, 16, 17, 18, 19, 20, 21, 32};
    return choice < sizeof kinds / sizeof kinds[0] ? kinds[choice] : choice;
}

inline void appendGeneratedFrame(FuzzInput& input, std::string& stream)
{
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Send, 0, 0);
    header.kind = generatedKind(input.byte() % 12);
    // WM_COPYDATA is the only message whose sends carry a payload.
    header.message = input.byte() % 2 == 0 ? WM_COPYDATA : static_cast<uint32_t>(input.number(2));
    header.window = static_cast<uint32_t>(input.number(4));
    header.sequence = input.byte();
    header.length = static_cast<uint32_t>(input.number(3)) % (maxGeneratedPayload + 1);
    const int64_t limit = rkwire::payloadLimit(header.kind, header.message);
    if (limit >= 0 && header.length > limit)
        header.length = static_cast<uint32_t>(limit);
    const char fill = static_cast<char>(input.byte());
    stream.append(reinterpret_cast<const char*>(&header), sizeof header);
    for (uint32_t i = 0; i < header.length; ++i)
        stream.push_back(static_cast<char>(fill + i));
}

inline std::string streamFrom(FuzzInput& input)
{
    std::string stream;
    while (!input.empty() && stream.size() < maxStreamBytes) {
        if (input.byte() % 2 == 0)
            stream += input.text();
        else
            appendGeneratedFrame(input, stream);
    }
    if (stream.size() > maxStreamBytes)
        stream.resize(maxStreamBytes);
    return stream;
}

} // namespace rkfuzz

#endif
