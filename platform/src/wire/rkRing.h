/*
 * A ring of frames in memory that two processes share: one writes frames
 * at its tail, the other takes them from its head.
 *
 * The other process may write anything into the shared memory at any
 * time. So each side keeps its own index privately and only publishes it;
 * the only number it reads from the memory is the other side's index, and
 * that number, and every header and length it leads to, is checked before
 * it is used. Frames are copied out whole before they are looked at, so
 * nothing the other side does later can change a frame already taken.
 */
#ifndef RKRING_H
#define RKRING_H

#include <cstddef>
#include <cstdint>

#include "wire/rkFrame.h"

namespace rkwire {

/* The largest payload that travels through a ring; larger frames take the socket. */
constexpr uint32_t ringPayloadLimit = 4096;

/* An index in its own cache line, so that writer and reader do not share one. */
struct alignas(64) SharedIndex {
    uint32_t value;
};

inline uint32_t loadAcquire(const SharedIndex& index) { return __atomic_load_n(&index.value, __ATOMIC_ACQUIRE); }
inline void storeRelease(SharedIndex& index, uint32_t value) { __atomic_store_n(&index.value, value, __ATOMIC_RELEASE); }

/* Free-running byte counts from 0: the writer's tail and the reader's head. */
struct RingControl {
    SharedIndex tail;
    SharedIndex head;
};

/* Bytes a frame takes in a ring: its header and its payload, rounded up to 8. */
inline uint32_t ringEntryBytes(uint32_t payloadBytes)
{
    return static_cast<uint32_t>(sizeof(FrameHeader)) + ((payloadBytes + 7u) & ~7u);
}

/* capacity is a power of two, at least a header and the largest payload. */
class RingWriter {
public:
    enum class Put { Written, Full, Broken };

    RingWriter(RingControl* control, char* data, uint32_t capacity);
    /* Never waits: a frame that does not fit now is Full; a head the reader could not have written is Broken. */
    Put put(const FrameHeader& header, const void* payload);

private:
    void copyIn(uint32_t at, const void* bytes, uint32_t count);

    RingControl* control_;
    char* data_;
    uint32_t capacity_;
    uint32_t tail_;
};

class RingReader {
public:
    enum class Take { Taken, Empty, Broken };

    /* expectsReplies: the ring carries replies only; otherwise sends and posts only. */
    RingReader(RingControl* control, const char* data, uint32_t capacity, bool expectsReplies);
    /* True when the writer has published bytes not yet taken. */
    bool hasBytes() const { return loadAcquire(control_->tail) != head_; }
    /* Broken stays Broken: once the bytes cannot be trusted nothing more is read. */
    Take take(Frame& frame);

private:
    void copyOut(uint32_t at, void* bytes, uint32_t count) const;
    bool isCarried(const FrameHeader& header) const;

    RingControl* control_;
    const char* data_;
    uint32_t capacity_;
    bool expectsReplies_;
    uint32_t head_;
    bool broken_ = false;
};

} // namespace rkwire

#endif
