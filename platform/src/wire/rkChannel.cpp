#include "wire/rkChannel.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rkwin {

using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::RingControl;
using rkwire::RingReader;
using rkwire::RingWriter;
using rkwire::SharedIndex;

namespace {

/* Room for hundreds of commands or fifteen 4 KiB blocks; replies carry no payload. */
constexpr uint32_t requestRingBytes = 64 * 1024;
constexpr uint32_t replyRingBytes = 8 * 1024;

/* The receiver's wake word: a writer that finds it Sleeping rings it once through the socket. */
enum Wake : uint32_t { Sleeping = 0, Awake = 1, Rung = 2 };

constexpr unsigned requiredSeals = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
#ifdef F_SEAL_FUTURE_WRITE
constexpr unsigned forbiddenSeals = F_SEAL_WRITE | F_SEAL_FUTURE_WRITE;
#else
constexpr unsigned forbiddenSeals = F_SEAL_WRITE;
#endif

} // namespace

struct Channel::Direction {
    SharedIndex wake; /* written by the receiver, and by a writer when it rings */
    RingControl rings[2];
    char requestData[requestRingBytes];
    char replyData[replyRingBytes];
};

/* Both processes map the same bytes; the layout is all they agree on beforehand. */
struct Channel::Segment {
    Direction toAccepted;
    Direction toConnected;
};

size_t Channel::mappedBytes()
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (sizeof(Segment) + page - 1) / page * page;
}

Channel::Segment* Channel::map(int descriptor)
{
    void* address = mmap(nullptr, mappedBytes(), PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
    return address == MAP_FAILED ? nullptr : static_cast<Segment*>(address);
}

std::unique_ptr<Channel> Channel::create(int& descriptor)
{
    descriptor = memfd_create("rkwin-channel", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (descriptor < 0)
        return nullptr;
    Segment* segment = nullptr;
    if (ftruncate(descriptor, static_cast<off_t>(mappedBytes())) == 0 &&
        fcntl(descriptor, F_ADD_SEALS, requiredSeals) == 0)
        segment = map(descriptor);
    if (!segment) {
        close(descriptor);
        descriptor = -1;
        return nullptr;
    }
    return std::unique_ptr<Channel>(new Channel(segment, true));
}

/*
 * Only a memfd that can never shrink is safe to map: a peer that truncated
 * it later would turn our reads of the rings into SIGBUS.
 */
std::unique_ptr<Channel> Channel::adopt(int descriptor)
{
    const int seals = fcntl(descriptor, F_GET_SEALS);
    struct stat status {};
    Segment* segment = nullptr;
    if (seals >= 0 && (static_cast<unsigned>(seals) & requiredSeals) == requiredSeals &&
        (static_cast<unsigned>(seals) & forbiddenSeals) == 0 && fstat(descriptor, &status) == 0 &&
        S_ISREG(status.st_mode) && static_cast<size_t>(status.st_size) == mappedBytes())
        segment = map(descriptor);
    close(descriptor);
    return segment ? std::unique_ptr<Channel>(new Channel(segment, false)) : nullptr;
}

Channel::Channel(Segment* segment, bool connected)
    : segment_(segment),
      incoming_(connected ? &segment->toConnected : &segment->toAccepted),
      outgoing_(connected ? &segment->toAccepted : &segment->toConnected),
      writers_{RingWriter(&outgoing_->rings[0], outgoing_->requestData, requestRingBytes),
               RingWriter(&outgoing_->rings[1], outgoing_->replyData, replyRingBytes)},
      readers_{RingReader(&incoming_->rings[0], incoming_->requestData, requestRingBytes, false),
               RingReader(&incoming_->rings[1], incoming_->replyData, replyRingBytes, true)}
{
}

Channel::~Channel() { munmap(segment_, mappedBytes()); }

RingWriter::Put Channel::put(Lane lane, const FrameHeader& header, const void* payload)
{
    return writers_[static_cast<int>(lane)].put(header, payload);
}

/*
 * The writer published its tail before this; the receiver publishes its
 * wake word before it looks at the tails. With a full fence on both sides
 * at least one of them sees the other's store, so a frame is never left
 * with a receiver asleep and unrung.
 */
bool Channel::receiverNeedsWaking()
{
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
    uint32_t seen = __atomic_load_n(&outgoing_->wake.value, __ATOMIC_RELAXED);
    if (seen != Sleeping)
        return false;
    return __atomic_compare_exchange_n(&outgoing_->wake.value, &seen, static_cast<uint32_t>(Rung), false,
                                       __ATOMIC_SEQ_CST, __ATOMIC_RELAXED);
}

/*
 * Being awake only spares writers the bell, and a process that is awake
 * looks at its rings anyway: that store needs no fence, nor repeating.
 * Falling asleep must be seen before the rings are looked at once more.
 */
void Channel::setAwake(bool awake)
{
    uint32_t* word = &incoming_->wake.value;
    if (awake) {
        if (__atomic_load_n(word, __ATOMIC_RELAXED) != Awake)
            __atomic_store_n(word, static_cast<uint32_t>(Awake), __ATOMIC_RELAXED);
        return;
    }
    __atomic_store_n(word, static_cast<uint32_t>(Sleeping), __ATOMIC_RELAXED);
    __atomic_thread_fence(__ATOMIC_SEQ_CST);
}

bool Channel::hasIncoming() const { return readers_[0].hasBytes() || readers_[1].hasBytes(); }

const Frame* Channel::head(Lane lane)
{
    Held& held = held_[static_cast<int>(lane)];
    if (held.valid)
        return &held.frame;
    switch (readers_[static_cast<int>(lane)].take(held.frame)) {
    case RingReader::Take::Taken:
        held.valid = true;
        return &held.frame;
    case RingReader::Take::Broken:
        broken_ = true;
        return nullptr;
    case RingReader::Take::Empty:
        return nullptr;
    }
    return nullptr;
}

Frame Channel::pop(Lane lane)
{
    Held& held = held_[static_cast<int>(lane)];
    held.valid = false;
    return std::move(held.frame);
}

bool channelsWanted()
{
    static const bool wanted = [] {
        const char* value = std::getenv("RK_SHARED_MEMORY");
        return !value || std::strcmp(value, "0") != 0;
    }();
    return wanted;
}

} // namespace rkwin
