// The frames a byte stream holds, found the plain way: headers one after
// the other, each judged by rkwire::isAcceptableHeader, up to the first
// that fails or the first frame that is not whole.
#ifndef RK_FUZZ_FRAME_REFERENCE_H
#define RK_FUZZ_FRAME_REFERENCE_H

#include "wire/rkFrame.h"

#include <cstring>
#include <string>
#include <vector>

namespace rkfuzz {

struct ReferenceFrames {
    std::vector<rkwire::Frame> frames;
    std::vector<size_t> ends; // the stream offset just past each frame
    bool corrupt = false;     // an unacceptable header follows the frames
    size_t badHeaderAt = 0;   // where that header starts
};

inline ReferenceFrames referenceFrames(const std::string& stream)
{
    ReferenceFrames found;
    size_t at = 0;
    while (stream.size() - at >= sizeof(rkwire::FrameHeader)) {
        rkwire::Frame frame;
        std::memcpy(&frame.header, stream.data() + at, sizeof frame.header);
        if (!rkwire::isAcceptableHeader(frame.header)) {
            found.corrupt = true;
            found.badHeaderAt = at;
            break;
        }
        const size_t payloadAt = at + sizeof frame.header;
        if (stream.size() - payloadAt < frame.header.length)
            break;
        frame.payload.assign(stream.data() + payloadAt, stream.data() + payloadAt + frame.header.length);
        at = payloadAt + frame.header.length;
        found.frames.push_back(std::move(frame));
        found.ends.push_back(at);
    }
    return found;
}

} // namespace rkfuzz

#endif
