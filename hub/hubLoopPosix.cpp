#include "hubLoop.h"

#include "kivStandin.h"
#include "rkhost.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

constexpr int tickMilliseconds = 250;
constexpr std::size_t longestLine = 1 << 16;

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = write(signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignals()
{
    if (pipe(signalPipe) != 0)
        return false;
    for (int fd : signalPipe) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A reader that went away must not kill the hub before its summary.
    signal(SIGPIPE, SIG_IGN);
    return true;
}

bool drainSignals()
{
    char bytes[64];
    bool any = false;
    while (read(signalPipe[0], bytes, sizeof bytes) > 0)
        any = true;
    return any;
}

// Splits standard input into lines; a line longer than longestLine is
// refused whole rather than cut into commands.
class lineReader {
public:
    // False once standard input has ended.
    bool readFrom(int fd, kivStandin& hub)
    {
        char chunk[4096];
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0)
            return errno == EINTR || errno == EAGAIN;
        if (got == 0)
            return false;
        for (ssize_t i = 0; i < got && !hub.finished(); ++i)
            take(chunk[i], hub);
        return true;
    }

private:
    void take(char c, kivStandin& hub)
    {
        if (c != '\n') {
            if (m_line.size() < longestLine)
                m_line += c;
            else
                m_tooLong = true;
            return;
        }
        if (m_tooLong)
            hubSay("error line longer than " + std::to_string(longestLine) + " characters");
        else
            hub.runCommand(m_line);
        m_line.clear();
        m_tooLong = false;
    }

    std::string m_line;
    bool m_tooLong = false;
};

} // namespace

int runHubLoop(kivStandin& hub)
{
    const int messageFd = rkMessageEventFd();
    if (messageFd < 0 || !installSignals()) {
        std::fprintf(stderr, "kivstandin: cannot reach the desktop's messages\n");
        return 1;
    }
    lineReader input;
    bool inputOpen = true;
    while (!hub.finished()) {
        pollfd fds[3] = {{messageFd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const int ready = poll(fds, inputOpen ? 3 : 2, tickMilliseconds);
        if (ready < 0 && errno != EINTR)
            break;
        rkDispatchPendingMessages();
        if (drainSignals())
            hub.requestClose();
        if (inputOpen && (fds[2].revents & (POLLIN | POLLHUP | POLLERR)))
            inputOpen = input.readFrom(STDIN_FILENO, hub);
        hub.tick();
    }
    return 0;
}
