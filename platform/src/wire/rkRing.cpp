#include "wire/rkRing.h"

#include <algorithm>
#include <cstring>

namespace rkwire {

RingWriter::RingWriter(RingControl* control, char* data, uint32_t capacity)
    : control_(control), data_(data), capacity_(capacity), tail_(0)
{
}

void RingWriter::copyIn(uint32_t at, const void* bytes, uint32_t count)
{
    const uint32_t offset = at & (capacity_ - 1);
    const uint32_t first = std::min(count, capacity_ - offset);
    std::memcpy(data_ + offset, bytes, first);
    std::memcpy(data_, static_cast<const char*>(bytes) + first, count - first);
}

RingWriter::Put RingWriter::put(const FrameHeader& header, const void* payload)
{
    const uint32_t used = tail_ - loadAcquire(control_->head);
    if (used > capacity_ || used % 8 != 0)
        return Put::Broken;
    const uint32_t entry = ringEntryBytes(header.length);
    if (header.length > ringPayloadLimit || entry > capacity_ - used)
        return Put::Full;
    copyIn(tail_, &header, sizeof header);
    if (header.length > 0)
        copyIn(tail_ + sizeof header, payload, header.length);
    tail_ += entry;
    storeRelease(control_->tail, tail_);
    return Put::Written;
}

RingReader::RingReader(RingControl* control, const char* data, uint32_t capacity, bool expectsReplies)
    : control_(control), data_(data), capacity_(capacity), expectsReplies_(expectsReplies),
      head_(0)
{
}

void RingReader::copyOut(uint32_t at, void* bytes, uint32_t count) const
{
    const uint32_t offset = at & (capacity_ - 1);
    const uint32_t first = std::min(count, capacity_ - offset);
    std::memcpy(bytes, data_ + offset, first);
    std::memcpy(static_cast<char*>(bytes) + first, data_, count - first);
}

bool RingReader::isCarried(const FrameHeader& header) const
{
    const bool reply = header.kind == static_cast<uint16_t>(Kind::Reply);
    const bool request =
        header.kind == static_cast<uint16_t>(Kind::Send) || header.kind == static_cast<uint16_t>(Kind::Post);
    return isAcceptableHeader(header) && header.length <= ringPayloadLimit &&
           (expectsReplies_ ? reply : request);
}

RingReader::Take RingReader::take(Frame& frame)
{
    if (broken_)
        return Take::Broken;
    const uint32_t available = loadAcquire(control_->tail) - head_;
    if (available == 0)
        return Take::Empty;
    FrameHeader header;
    broken_ = available > capacity_ || available % 8 != 0 || available < sizeof header;
    if (!broken_) {
        copyOut(head_, &header, sizeof header);
        broken_ = !isCarried(header) || ringEntryBytes(header.length) > available;
    }
    if (broken_)
        return Take::Broken;
    frame.header = header;
    frame.payload.resize(header.length);
    if (header.length > 0)
        copyOut(head_ + sizeof header, frame.payload.data(), header.length);
    head_ += ringEntryBytes(header.length);
    storeRelease(control_->head, head_);
    return Take::Taken;
}

} // namespace rkwire
