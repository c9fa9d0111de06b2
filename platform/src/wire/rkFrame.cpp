#include "wire/rkFrame.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "rkwin.h"

namespace rkwire {

namespace {

constexpr size_t readChunk = 64 * 1024;

bool isPeerKind(uint16_t kind)
{
    return kind >= static_cast<uint16_t>(Kind::Send) && kind <= static_cast<uint16_t>(Kind::ChannelAccept);
}

bool isStationRequestKind(uint16_t kind)
{
    return kind >= static_cast<uint16_t>(Kind::Create) && kind <= static_cast<uint16_t>(Kind::Snapshot);
}

} // namespace

FrameHeader makeHeader(Kind kind, uint32_t window, uint32_t message)
{
    FrameHeader header{};
    header.magic = frameMagic;
    header.kind = static_cast<uint16_t>(kind);
    header.window = window;
    header.message = message;
    return header;
}

int64_t payloadLimit(uint16_t kind, uint32_t message)
{
    if (kind == static_cast<uint16_t>(Kind::Send))
        return message == WM_COPYDATA ? maxCopyDataBytes : 0;
    if (isPeerKind(kind))
        return 0;
    if (isStationRequestKind(kind))
        return maxStationRequestBytes;
    if (kind == static_cast<uint16_t>(Kind::StationReply))
        return maxStationReplyBytes;
    return -1;
}

bool isAcceptableHeader(const FrameHeader& header)
{
    if (header.magic != frameMagic)
        return false;
    if (header.kind == static_cast<uint16_t>(Kind::Post) && header.message == WM_COPYDATA)
        return false;
    int64_t limit = payloadLimit(header.kind, header.message);
    return limit >= 0 && header.length <= static_cast<uint64_t>(limit);
}

FrameReader::FrameReader(size_t maxFrameBytes) : limit_(maxFrameBytes + readChunk) {}

/*
 * The first buffered header, once it is whole. A bad one marks the bytes
 * corrupt as soon as it is whole, so no more is read behind it.
 */
bool FrameReader::peekHeader(FrameHeader& header)
{
    if (corrupt_ || buffered() < sizeof header)
        return false;
    std::memcpy(&header, buffer_.data() + start_, sizeof header);
    corrupt_ = !isAcceptableHeader(header) || sizeof header + header.length > limit_ - readChunk;
    return !corrupt_;
}

bool FrameReader::peekComplete(FrameHeader& header)
{
    return peekHeader(header) && buffered() >= sizeof header + header.length;
}

bool FrameReader::hasCompleteFrame()
{
    FrameHeader header;
    return peekComplete(header);
}

/* Leaves at least one read's worth of room behind the buffered bytes, within the bound. */
void FrameReader::makeRoom()
{
    if (start_ > 0 && (start_ == end_ || buffer_.size() - end_ < readChunk)) {
        std::memmove(buffer_.data(), buffer_.data() + start_, buffered());
        end_ -= start_;
        start_ = 0;
    }
    if (buffer_.size() - end_ >= readChunk || buffer_.size() >= limit_)
        return;
    size_t grown = std::max(end_ + readChunk, buffer_.size() * 2);
    buffer_.resize(std::min(grown, limit_));
}

/* A large buffer that has been emptied goes back, so one big frame does not pin its memory. */
void FrameReader::release()
{
    if (start_ != end_)
        return;
    start_ = end_ = 0;
    if (buffer_.size() > 4 * readChunk)
        std::vector<char>().swap(buffer_);
}

namespace {

/* Descriptors that came with the bytes: those that find a free slot are kept, the rest are closed. */
void keepDescriptors(msghdr& message, int* slots, size_t slotCount)
{
    for (cmsghdr* control = CMSG_FIRSTHDR(&message); control; control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level != SOL_SOCKET || control->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (control->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int received;
            std::memcpy(&received, CMSG_DATA(control) + i * sizeof(int), sizeof received);
            int* slot = std::find(slots, slots + slotCount, -1);
            if (slot != slots + slotCount)
                *slot = received;
            else
                close(received);
        }
    }
}

} // namespace

FrameReader::Fill FrameReader::fill(int fd, int* descriptors, size_t slots)
{
    FrameHeader header;
    peekHeader(header);
    if (corrupt_)
        return Fill::WouldBlock;
    makeRoom();
    size_t room = std::min(buffer_.size() - end_, limit_ - buffered());
    if (room == 0)
        return Fill::WouldBlock;
    for (;;) {
        iovec bytes{buffer_.data() + end_, room};
        alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
        msghdr message{};
        message.msg_iov = &bytes;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t got = recvmsg(fd, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
        if (got >= 0)
            keepDescriptors(message, descriptors, slots);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            peekHeader(header);
            return Fill::Progress;
        }
        if (got == 0)
            return Fill::Closed;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? Fill::WouldBlock : Fill::Closed;
    }
}

bool FrameReader::take(Frame& frame)
{
    FrameHeader header;
    if (!peekHeader(header) || buffered() < sizeof header + header.length)
        return false;
    frame.header = header;
    const char* payload = buffer_.data() + start_ + sizeof header;
    frame.payload.assign(payload, payload + header.length);
    start_ += sizeof header + header.length;
    release();
    return true;
}

long sendHeaderWithDescriptor(int fd, const FrameHeader& header, int descriptor)
{
    return sendHeaderWithDescriptors(fd, header, &descriptor, 1);
}

long sendHeaderWithDescriptors(int fd, const FrameHeader& header, const int* descriptors, size_t count)
{
    constexpr size_t maxDescriptors = 4;
    if (count == 0 || count > maxDescriptors)
        return -1;
    iovec bytes{const_cast<FrameHeader*>(&header), sizeof header};
    alignas(cmsghdr) char control[CMSG_SPACE(maxDescriptors * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &bytes;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(count * sizeof(int));
    cmsghdr* attached = CMSG_FIRSTHDR(&message);
    attached->cmsg_level = SOL_SOCKET;
    attached->cmsg_type = SCM_RIGHTS;
    attached->cmsg_len = CMSG_LEN(count * sizeof(int));
    std::memcpy(CMSG_DATA(attached), descriptors, count * sizeof(int));
    ssize_t sent;
    do
        sent = sendmsg(fd, &message, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    return sent;
}

} // namespace rkwire
