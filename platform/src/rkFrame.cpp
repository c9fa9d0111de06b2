#include "rkFrame.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

#include "rkwin.h"

namespace rkwire {

namespace {

constexpr size_t readChunk = 64 * 1024;

bool isPeerKind(uint16_t kind)
{
    return kind == static_cast<uint16_t>(Kind::Send) || kind == static_cast<uint16_t>(Kind::Post) ||
           kind == static_cast<uint16_t>(Kind::Reply);
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

FrameReader::Fill FrameReader::fill(int fd)
{
    compact();
    size_t wanted = readChunk;
    if (end_ - start_ >= sizeof(FrameHeader)) {
        FrameHeader header;
        std::memcpy(&header, buffer_.data() + start_, sizeof header);
        if (isAcceptableHeader(header))
            wanted = std::max(wanted, sizeof header + header.length - (end_ - start_));
    }
    if (buffer_.size() - end_ < wanted)
        buffer_.resize(end_ + wanted);
    for (;;) {
        ssize_t got = recv(fd, buffer_.data() + end_, buffer_.size() - end_, MSG_DONTWAIT);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
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
    size_t available = end_ - start_;
    if (corrupt_ || available < sizeof(FrameHeader))
        return false;
    std::memcpy(&frame.header, buffer_.data() + start_, sizeof(FrameHeader));
    if (!isAcceptableHeader(frame.header)) {
        corrupt_ = true;
        return false;
    }
    size_t total = sizeof(FrameHeader) + frame.header.length;
    if (available < total)
        return false;
    const char* payload = buffer_.data() + start_ + sizeof(FrameHeader);
    frame.payload.assign(payload, payload + frame.header.length);
    start_ += total;
    return true;
}

void FrameReader::compact()
{
    if (start_ == end_) {
        start_ = end_ = 0;
        if (buffer_.size() > 4 * readChunk)
            std::vector<char>().swap(buffer_);
        return;
    }
    if (start_ > 0 && start_ >= buffer_.size() / 2) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
}

std::vector<char> encodeNames(const char* first, const char* second)
{
    std::vector<char> payload;
    for (const char* name : {first, second}) {
        if (name)
            payload.insert(payload.end(), name, name + std::strlen(name));
        payload.push_back('\0');
    }
    return payload;
}

bool decodeNames(const std::vector<char>& payload, std::string& first, std::string& second)
{
    if (payload.empty())
        return false;
    const char* begin = payload.data();
    const char* end = begin + payload.size();
    const char* firstEnd = static_cast<const char*>(std::memchr(begin, '\0', payload.size()));
    if (!firstEnd)
        return false;
    const char* secondEnd = static_cast<const char*>(std::memchr(firstEnd + 1, '\0', end - firstEnd - 1));
    if (!secondEnd || secondEnd + 1 != end)
        return false;
    first.assign(begin, firstEnd);
    second.assign(firstEnd + 1, secondEnd);
    return true;
}

} // namespace rkwire
