#include "foreignSend.h"

#include "wire/rkDesktop.h"

#include <unistd.h>

namespace {

constexpr int boundMs = 10000;

bool exchange(int fd, const rkwire::FrameHeader& header, rkwire::Frame& reply)
{
    rkwire::FrameReader reader;
    return rkwire::writeFrame(fd, header, nullptr, [](int socket) { return rkwire::waitWritableFor(socket, boundMs); }) &&
           rkwire::readFrameWithin(fd, reader, reply, boundMs) &&
           reply.header.kind == static_cast<uint16_t>(rkwire::Kind::Reply) && reply.header.sequence == header.sequence;
}

} // namespace

foreignAnswer sendAsForeignProcess(const std::string& desktop, DWORD owner, HWND window, UINT message,
                                   WPARAM wParam, LPARAM lParam)
{
    foreignAnswer answer;
    const int fd = rkwire::connectUnix(rkwire::peerSocketPath(desktop, static_cast<pid_t>(owner)));
    if (fd < 0)
        return answer;
    const auto handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Send, handle, message);
    header.sequence = 1;
    header.wParam = wParam;
    header.lParam = lParam;
    rkwire::Frame reply;
    answer.answered = exchange(fd, header, reply);
    answer.result = answer.answered ? static_cast<LRESULT>(reply.header.lParam) : 0;
    close(fd);
    return answer;
}
