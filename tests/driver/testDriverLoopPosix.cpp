#include "testDriverLoop.h"

#include "rkhost.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

void runCommandLoop(const std::function<bool(const std::string&)>& onLine)
{
    std::string pending;
    for (;;) {
        pollfd events[2] = {{STDIN_FILENO, POLLIN, 0}, {rkMessageEventFd(), POLLIN, 0}};
        if (poll(events, events[1].fd >= 0 ? 2 : 1, -1) < 0 && errno != EINTR)
            return;
        rkDispatchPendingMessages();
        if ((events[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;
        char chunk[4096];
        const ssize_t got = read(STDIN_FILENO, chunk, sizeof chunk);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return;
        pending.append(chunk, got > 0 ? static_cast<size_t>(got) : 0);
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!onLine(line))
                return;
        }
    }
}
