#include "station/rkAnswerQueue.h"

namespace rkstation {

namespace {

/* A drained queue keeps at most this much room, so that one large snapshot does not stay allocated. */
constexpr size_t keptCapacity = 64 * 1024;

} // namespace

void AnswerQueue::append(const rkwire::FrameHeader& header, const std::vector<char>& payload)
{
    const char* headerBytes = reinterpret_cast<const char*>(&header);
    bytes_.insert(bytes_.end(), headerBytes, headerBytes + sizeof header);
    bytes_.insert(bytes_.end(), payload.begin(), payload.end());
}

void AnswerQueue::consume(size_t count)
{
    sent_ += count < size() ? count : size();
    if (sent_ == bytes_.size()) {
        bytes_.clear();
        sent_ = 0;
        if (bytes_.capacity() > keptCapacity)
            std::vector<char>().swap(bytes_);
    } else if (sent_ >= bytes_.size() / 2) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(sent_));
        sent_ = 0;
    }
}

} // namespace rkstation
