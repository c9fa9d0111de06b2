// Takes a fuzz input apart from its front: fixed-size numbers, short
// texts with a length byte, and the rest. Reading past the end gives zeros
// and empty texts, so every input means something.
#ifndef RK_FUZZ_INPUT_H
#define RK_FUZZ_INPUT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace rkfuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool empty() const { return at_ == size_; }
    size_t remaining() const { return size_ - at_; }

    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }

    // Little-endian, so that seeds read the same on every host.
    uint64_t number(unsigned bytes)
    {
        uint64_t value = 0;
        for (unsigned i = 0; i < bytes; ++i)
            value |= static_cast<uint64_t>(byte()) << (8 * i);
        return value;
    }

    std::string bytes(size_t count)
    {
        count = std::min(count, remaining());
        std::string taken(reinterpret_cast<const char*>(data_ + at_), count);
        at_ += count;
        return taken;
    }

    // One length byte, then up to that many bytes.
    std::string text() { return bytes(byte()); }

    std::string rest() { return bytes(remaining()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace rkfuzz

#endif
