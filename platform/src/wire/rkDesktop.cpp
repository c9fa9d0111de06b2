#include "wire/rkDesktop.h"
#include "host/rkInstallLayout.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace rkwire {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int stationStartMs = 5000;

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string defaultDesktopDirectory()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/telm-desktop";
    return "/tmp/telm-desktop-" + std::to_string(getuid());
}

bool isPrivateDirectory(const std::string& path)
{
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) {
        std::fprintf(stderr, "rkwin: cannot use desktop %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 07777) != 0700) {
        std::fprintf(stderr, "rkwin: desktop %s must be a directory of ours with mode 0700\n", path.c_str());
        return false;
    }
    return true;
}

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "rkwin: socket path too long: %s\n", path.c_str());
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

/* The first station program found where helpers lie, else the one beside the executable. */
std::string stationExecutable()
{
    const char* path = std::getenv("RK_WINSTATION");
    if (path && *path)
        return path;
    for (const std::string& directory : programDirectories()) {
        const std::string program = directory + "/rkwinstation";
        if (access(program.c_str(), X_OK) == 0)
            return program;
    }
    return executableDirectory() + "/rkwinstation";
}

/* The station runs detached: a grandchild, so that no client has to reap it. */
bool spawnStation()
{
    std::string program = stationExecutable();
    if (access(program.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "rkwin: cannot start the window station %s: %s\n", program.c_str(), std::strerror(errno));
        return false;
    }
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        setsid();
        if (fork() != 0)
            _exit(0);
        if (chdir("/") != 0)
            _exit(126);
        int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

int connectToRunningStation(const std::string& path)
{
    int fd = connectUnix(path);
    if (fd >= 0 && sameUserPeer(fd) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* A holder that hangs (stopped in a debugger, say) must not hang everyone who posts. */
bool takeStartLock(int lock)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(2 * stationStartMs);
    while (flock(lock, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int startStation(const std::string& desktop)
{
    int lock = open(stationStartLockPath(desktop).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock < 0)
        return -1;
    if (!takeStartLock(lock)) {
        close(lock);
        return -1;
    }
    std::string path = stationSocketPath(desktop);
    int fd = connectToRunningStation(path);
    if (fd < 0 && spawnStation()) {
        auto deadline = Clock::now() + std::chrono::milliseconds(stationStartMs);
        auto pause = std::chrono::microseconds(200);
        while ((fd = connectToRunningStation(path)) < 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(20000));
        }
    }
    close(lock);
    return fd;
}

} // namespace

std::string desktopDirectory()
{
    const char* configured = std::getenv("RK_DESKTOP");
    std::string path = configured && *configured ? configured : defaultDesktopDirectory();
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "rkwin: cannot create desktop %s: %s\n", path.c_str(), std::strerror(errno));
        return {};
    }
    return isPrivateDirectory(path) ? path : std::string();
}

std::string stationSocketPath(const std::string& desktop) { return desktop + "/winstation.sock"; }
std::string stationLockPath(const std::string& desktop) { return desktop + "/winstation.lock"; }
std::string stationStartLockPath(const std::string& desktop) { return desktop + "/winstation.start"; }
std::string stationPidPath(const std::string& desktop) { return desktop + "/winstation.pid"; }

std::string peerSocketPath(const std::string& desktop, pid_t pid)
{
    return desktop + "/peer-" + std::to_string(pid) + ".sock";
}

int connectUnix(const std::string& path)
{
    sockaddr_un address;
    if (!fillAddress(path, address))
        return -1;
    /* Non-blocking from the start: a listener that does not accept makes connect fail, never wait. */
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    int result;
    while ((result = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int listenUnix(const std::string& path)
{
    sockaddr_un address;
    if (!fillAddress(path, address))
        return -1;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || chmod(path.c_str(), 0600) != 0 ||
        listen(fd, SOMAXCONN) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

pid_t sameUserPeer(int fd)
{
    ucred credentials;
    socklen_t size = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials)
        return -1;
    return credentials.uid == geteuid() ? credentials.pid : -1;
}

void acceptSameUserPeers(int listener, const std::function<void(int fd, pid_t pid)>& take)
{
    for (;;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        pid_t pid = sameUserPeer(fd);
        if (pid < 0)
            close(fd);
        else
            take(fd, pid);
    }
}

bool writeFrame(int fd, const FrameHeader& header, const void* payload,
                const std::function<bool(int fd)>& waitWritable)
{
    size_t headerLeft = sizeof header;
    size_t payloadLeft = header.length;
    while (headerLeft + payloadLeft > 0) {
        iovec parts[2];
        int count = 0;
        if (headerLeft > 0)
            parts[count++] = {const_cast<char*>(reinterpret_cast<const char*>(&header)) + sizeof header - headerLeft,
                              headerLeft};
        if (payloadLeft > 0)
            parts[count++] = {const_cast<char*>(static_cast<const char*>(payload)) + header.length - payloadLeft,
                              payloadLeft};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = count;
        ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitWritable(fd))
                continue;
            return false;
        }
        size_t done = static_cast<size_t>(sent);
        size_t fromHeader = std::min(done, headerLeft);
        headerLeft -= fromHeader;
        payloadLeft -= done - fromHeader;
    }
    return true;
}

bool waitWritableFor(int fd, int timeoutMs)
{
    pollfd entry{fd, POLLOUT, 0};
    int ready;
    while ((ready = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
    }
    return ready == 1 && (entry.revents & POLLOUT);
}

bool readFrameWithin(int fd, FrameReader& reader, Frame& frame, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reader.take(frame)) {
        if (reader.isCorrupt())
            return false;
        FrameReader::Fill fill = reader.fill(fd);
        if (fill == FrameReader::Fill::Closed)
            return false;
        if (fill == FrameReader::Fill::WouldBlock) {
            pollfd entry{fd, POLLIN, 0};
            int ready = poll(&entry, 1, remainingMs(deadline));
            if (ready == 0 || (ready < 0 && errno != EINTR))
                return false;
        }
    }
    return true;
}

int connectToStation(const std::string& desktop)
{
    int fd = connectToRunningStation(stationSocketPath(desktop));
    return fd >= 0 ? fd : startStation(desktop);
}

int makeBell() { return eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

int adoptBell(int descriptor)
{
    if (descriptor < 0)
        return -1;
    char target[64] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    const int flags = fcntl(descriptor, F_GETFL);
    if (length <= 0 || std::string(target, static_cast<size_t>(length)) != "anon_inode:[eventfd]" || flags < 0 ||
        fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) != 0) {
        close(descriptor);
        return -1;
    }
    return descriptor;
}

} // namespace rkwire
