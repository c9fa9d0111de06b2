#include "rkSession.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "rkDesktop.h"
#include "rkPointerMessages.h"

namespace rkwin {

using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::FrameReader;
using rkwire::Kind;
using rkwire::Status;

namespace {

constexpr uint64_t listenerId = 1;
constexpr uint64_t stationId = 2;
constexpr uint64_t wakeId = 3;
constexpr uint64_t innerId = 4;
constexpr uint64_t retryId = 5;

constexpr int stationTimeoutMs = 10000;
/* How soon windows are registered again after a station could not be reached. */
constexpr long stationRetryMs = 100;
constexpr int maxEvents = 32;
constexpr int drainRounds = 64;
/*
 * Posts and replies waiting for a receiver that does not read (over 20000
 * of them, beside what the socket holds). Beyond this a post fails, as a
 * full message queue makes it fail on Win32; a peer that lets its replies
 * pile up so far is cut off.
 */
constexpr size_t maxUnsentBytes = 1024u * 1024u;

bool watch(int epoll, int fd, uint64_t id)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = id;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

pid_t peerSocketOwner;
std::string peerSocketToRemove;

/* The window station removes it too; this covers a station that is gone. */
void removePeerSocket()
{
    if (getpid() == peerSocketOwner && !peerSocketToRemove.empty())
        unlink(peerSocketToRemove.c_str());
}

} // namespace

uint32_t handleValue(HWND window)
{
    uintptr_t raw = reinterpret_cast<uintptr_t>(window);
    if (window == HWND_MESSAGE)
        return 0;
    /* Handles sign-extended from 32 bits are the same handles. */
    if (raw > 0xffffffffu && (raw >> 32) != 0xffffffffu)
        return 0;
    return static_cast<uint32_t>(raw);
}

HWND toHwnd(uint32_t handle) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(handle)); }

std::string classKey(const char* name)
{
    std::string key(name);
    for (char& c : key)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

LRESULT callProcedure(const Window& window, UINT message, WPARAM wParam, LPARAM lParam, DWORD sendFlags)
{
    Session& session = Session::instance();
    const DWORD outer = session.sendFlags;
    session.sendFlags = sendFlags;
    const LRESULT result = window.windowClass->procedure(toHwnd(window.handle), message, wParam, lParam);
    session.sendFlags = outer;
    return result;
}

Session& Session::instance()
{
    /* Never destroyed: window procedures may still run while statics go away at exit. */
    static Session* session = new Session;
    return *session;
}

std::shared_ptr<WindowClass> Session::findClass(LPCSTR nameOrAtom)
{
    uintptr_t raw = reinterpret_cast<uintptr_t>(nameOrAtom);
    if (raw == 0)
        return nullptr;
    if (raw <= 0xffff) {
        for (auto& entry : classes)
            if (entry.second->atom == raw)
                return entry.second;
        return nullptr;
    }
    auto found = classes.find(classKey(nameOrAtom));
    return found == classes.end() ? nullptr : found->second;
}

Window* Session::localWindow(uint32_t handle)
{
    auto found = windows.find(slotOf(handle));
    if (found == windows.end())
        return nullptr;
    return isSlotOnly(handle) || found->second->handle == handle ? found->second.get() : nullptr;
}

Window* Session::exactLocalWindow(uint32_t handle)
{
    Window* window = localWindow(handle);
    return window && window->handle == handle ? window : nullptr;
}

/* ---- event sources ---- */

bool Session::ensureEventSources()
{
    if (outerEpoll_ >= 0)
        return true;
    int outer = epoll_create1(EPOLL_CLOEXEC);
    int inner = epoll_create1(EPOLL_CLOEXEC);
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (outer < 0 || inner < 0 || wake < 0 || !watch(outer, inner, innerId) || !watch(outer, wake, wakeId)) {
        for (int fd : {outer, inner, wake})
            if (fd >= 0)
                close(fd);
        return false;
    }
    outerEpoll_ = outer;
    innerEpoll_ = inner;
    wakeFd_ = wake;
    return true;
}

int Session::eventFd()
{
    if (!ensureEventSources())
        return -1;
    joinDesktop();
    return outerEpoll_;
}

bool Session::joinDesktop()
{
    if (listener_ >= 0)
        return true;
    if (!ensureEventSources())
        return false;
    std::string desktop = rkwire::desktopDirectory();
    if (desktop.empty())
        return false;
    std::string path = rkwire::peerSocketPath(desktop, getpid());
    int listener = rkwire::listenUnix(path);
    if (listener < 0)
        return false;
    if (!watch(innerEpoll_, listener, listenerId)) {
        close(listener);
        unlink(path.c_str());
        return false;
    }
    desktop_ = desktop;
    listener_ = listener;
    if (peerSocketToRemove.empty())
        std::atexit(removePeerSocket);
    peerSocketOwner = getpid();
    peerSocketToRemove = path;
    return true;
}

void Session::refreshWakeup()
{
    if (wakeFd_ < 0)
        return;
    bool wanted = !posted.empty() || !unparsed_.empty();
    if (wanted == wakeSignalled_)
        return;
    if (wanted) {
        uint64_t one = 1;
        if (write(wakeFd_, &one, sizeof one) == sizeof one)
            wakeSignalled_ = true;
    } else {
        uint64_t count;
        if (read(wakeFd_, &count, sizeof count) == sizeof count || errno == EAGAIN)
            wakeSignalled_ = false;
    }
}

void Session::enqueue(const MSG& message)
{
    posted.push_back(message);
    refreshWakeup();
}

void Session::purgePosted(uint32_t handle)
{
    posted.erase(std::remove_if(posted.begin(), posted.end(),
                                [handle](const MSG& message) { return handleValue(message.hwnd) == handle; }),
                 posted.end());
    refreshWakeup();
}

/* ---- the window station ---- */

bool Session::connectStation()
{
    if (station_ >= 0)
        return true;
    if (!joinDesktop())
        return false;
    int fd = rkwire::connectToStation(desktop_);
    if (fd >= 0 && !watch(innerEpoll_, fd, stationId)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        scheduleStationRetry(!windows.empty());
        return false;
    }
    station_ = fd;
    stationReader_ = FrameReader(rkwire::maxStationFrameBytes);
    bool reclaimed = reclaimWindows();
    scheduleStationRetry(!reclaimed);
    return reclaimed;
}

void Session::dropStation()
{
    if (station_ < 0)
        return;
    epoll_ctl(innerEpoll_, EPOLL_CTL_DEL, station_, nullptr);
    close(station_);
    station_ = -1;
}

/*
 * Windows that outlived a station are registered again with the next one,
 * under the same handles. A station that goes away meanwhile leaves the
 * rest for the next attempt; a refusal means another process holds the
 * handle now, which the station's reservations are there to prevent, so it
 * is reported rather than retried.
 */
bool Session::reclaimWindows()
{
    for (auto& entry : windows) {
        const Window& window = *entry.second;
        FrameHeader header = rkwire::makeHeader(Kind::Claim, window.handle, 0);
        header.status = window.topLevel ? rkwire::flagTopLevel : 0;
        Frame reply;
        std::vector<char> names = rkwire::encodeNames(window.windowClass->name.c_str(), window.name.c_str());
        if (!stationExchange(header, names, reply))
            return false;
        if (reply.header.status != static_cast<uint16_t>(Status::Ok))
            std::fprintf(stderr, "rkwin: the window station refused window %#x of process %d again\n",
                         window.handle, static_cast<int>(getpid()));
    }
    return true;
}

/* Keeps windows registered with no request of our own to notice that the station went away. */
void Session::scheduleStationRetry(bool wanted)
{
    if (wanted && retryTimer_ < 0) {
        retryTimer_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (retryTimer_ >= 0 && !watch(innerEpoll_, retryTimer_, retryId)) {
            close(retryTimer_);
            retryTimer_ = -1;
        }
    }
    if (retryTimer_ < 0)
        return;
    itimerspec when{};
    if (wanted)
        when.it_value.tv_nsec = stationRetryMs * 1000000L;
    timerfd_settime(retryTimer_, 0, &when, nullptr);
}

void Session::onStationRetry()
{
    uint64_t expirations;
    if (read(retryTimer_, &expirations, sizeof expirations) != sizeof expirations)
        return;
    connectStation();
}

bool Session::stationExchange(FrameHeader header, const std::vector<char>& payload, Frame& reply)
{
    header.sequence = ++stationSequence_;
    header.length = static_cast<uint32_t>(payload.size());
    bool exchanged =
        rkwire::writeFrame(station_, header, payload.data(),
                           [](int fd) { return rkwire::waitWritableFor(fd, stationTimeoutMs); }) &&
        rkwire::readFrameWithin(station_, stationReader_, reply, stationTimeoutMs) &&
        reply.header.kind == static_cast<uint16_t>(Kind::StationReply) &&
        reply.header.sequence == header.sequence;
    if (!exchanged)
        dropStation();
    return exchanged;
}

bool Session::stationRequest(Kind kind, uint32_t window, uint16_t flags, const std::vector<char>& payload,
                             Frame& reply)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connectStation())
            return false;
        FrameHeader header = rkwire::makeHeader(kind, window, 0);
        header.status = flags;
        if (stationExchange(header, payload, reply))
            return true;
    }
    return false;
}

void Session::onStationReadable()
{
    /*
     * The station only ever answers requests: anything else means it went
     * away. Its successor learns of our windows at once, before another
     * process could ask for them.
     */
    dropStation();
    connectStation();
}

bool Session::resolve(uint32_t handle, bool useCache, Target& target)
{
    target = Target();
    if (Window* window = localWindow(handle)) {
        target.local = window;
        target.handle = window->handle;
        return true;
    }
    auto cached = remoteCache_.find(slotOf(handle));
    if (useCache && cached != remoteCache_.end() &&
        (isSlotOnly(handle) || cached->second.handle == handle)) {
        target.handle = cached->second.handle;
        target.pid = cached->second.pid;
        target.fromCache = true;
        return true;
    }
    Frame reply;
    if (!stationRequest(Kind::Resolve, handle, 0, {}, reply) ||
        reply.header.status != static_cast<uint16_t>(Status::Ok))
        return false;
    target.handle = reply.header.window;
    target.pid = static_cast<pid_t>(reply.header.lParam);
    if (target.pid == getpid())
        return false; /* the station still lists a window this process no longer has */
    remoteCache_[slotOf(target.handle)] = {target.handle, target.pid};
    return true;
}

void Session::forget(uint32_t handle)
{
    auto cached = remoteCache_.find(slotOf(handle));
    if (cached != remoteCache_.end() && cached->second.handle == handle)
        remoteCache_.erase(cached);
}

/* ---- connections to other processes ---- */

std::shared_ptr<Connection> Session::addConnection(int fd, pid_t pid)
{
    auto connection = std::make_shared<Connection>();
    connection->id = nextConnectionId_++;
    connection->fd = fd;
    connection->pid = pid;
    if (!watch(innerEpoll_, fd, connection->id)) {
        close(fd);
        return nullptr;
    }
    connections_[connection->id] = connection;
    connectionByPid_.emplace(pid, connection->id);
    return connection;
}

std::shared_ptr<Connection> Session::connectionTo(pid_t pid)
{
    auto known = connectionByPid_.find(pid);
    if (known != connectionByPid_.end())
        return connections_[known->second];
    if (!joinDesktop())
        return nullptr;
    int fd = rkwire::connectUnix(rkwire::peerSocketPath(desktop_, pid));
    if (fd < 0)
        return nullptr;
    if (rkwire::sameUserPeer(fd) != pid) {
        close(fd);
        return nullptr;
    }
    return addConnection(fd, pid);
}

void Session::closeConnection(const std::shared_ptr<Connection>& connection)
{
    if (connection->closed)
        return;
    connection->closed = true;
    epoll_ctl(innerEpoll_, EPOLL_CTL_DEL, connection->fd, nullptr);
    close(connection->fd);
    connections_.erase(connection->id);
    unparsed_.erase(connection->id);
    auto byPid = connectionByPid_.find(connection->pid);
    if (byPid != connectionByPid_.end() && byPid->second == connection->id) {
        connectionByPid_.erase(byPid);
        for (auto& entry : connections_)
            if (entry.second->pid == connection->pid) {
                connectionByPid_.emplace(connection->pid, entry.first);
                break;
            }
    }
    for (auto cached = remoteCache_.begin(); cached != remoteCache_.end();)
        cached = cached->second.pid == connection->pid ? remoteCache_.erase(cached) : std::next(cached);
    for (PendingSend* send : pending_)
        if (send->connection == connection->id)
            send->failed = true;
    refreshWakeup();
}

/*
 * While a frame waits for room on one socket, whatever the other side and
 * the other processes write is read into their buffers (not handled), so
 * two processes writing large frames to each other cannot block each other.
 * A buffer that holds a whole frame is not read further: the frame waits
 * until the write is done, and the peer behind it waits in its socket.
 * New peers are accepted meanwhile: a process that connected to us to
 * write while we connected to it to write would otherwise wait on us for
 * ever, and we on it.
 */
bool Session::waitWritableBuffering(int fd)
{
    std::set<uint64_t> finished;
    for (;;) {
        std::vector<pollfd> watched;
        std::vector<std::shared_ptr<Connection>> readers;
        if (listener_ >= 0) {
            watched.push_back({listener_, POLLIN, 0});
            readers.push_back(nullptr);
        }
        for (auto& entry : connections_) {
            Connection& connection = *entry.second;
            bool readable = !finished.count(entry.first) && !connection.reader.hasCompleteFrame() &&
                            !connection.reader.isCorrupt();
            short events = static_cast<short>((readable ? POLLIN : 0) | (connection.fd == fd ? POLLOUT : 0));
            if (events == 0)
                continue;
            watched.push_back({connection.fd, events, 0});
            readers.push_back(entry.second);
        }
        auto target = std::find_if(watched.begin(), watched.end(), [fd](const pollfd& entry) { return entry.fd == fd; });
        if (target == watched.end())
            return false;
        if (poll(watched.data(), watched.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        for (size_t i = 0; i < watched.size(); ++i) {
            if (!readers[i]) {
                if (watched[i].revents & POLLIN)
                    acceptPeers();
            } else if ((watched[i].events & POLLIN) && (watched[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                if (readers[i]->reader.fill(readers[i]->fd) != FrameReader::Fill::Progress)
                    finished.insert(readers[i]->id);
                unparsed_.insert(readers[i]->id);
            }
        }
        if (target->revents & POLLOUT)
            return true;
        if (target->revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
}

bool Session::writeToPeer(const std::shared_ptr<Connection>& connection, const FrameHeader& header,
                          const void* payload)
{
    if (connection->closed || !flushUnsent(connection, true))
        return false;
    if (rkwire::writeFrame(connection->fd, header, payload, [this](int fd) { return waitWritableBuffering(fd); }))
        return true;
    closeConnection(connection);
    return false;
}

/* Posts go out in order, before any later frame on the same connection. */
bool Session::flushUnsent(const std::shared_ptr<Connection>& connection, bool wait)
{
    size_t done = 0;
    while (done < connection->unsent.size()) {
        ssize_t sent = send(connection->fd, connection->unsent.data() + done, connection->unsent.size() - done,
                            MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait)
                break;
            if (!waitWritableBuffering(connection->fd)) {
                closeConnection(connection);
                return false;
            }
        } else {
            closeConnection(connection);
            return false;
        }
    }
    connection->unsent.erase(0, done);
    watchWrites(*connection, !connection->unsent.empty());
    return true;
}

void Session::watchWrites(Connection& connection, bool wanted)
{
    if (connection.watchingWrites == wanted)
        return;
    epoll_event event{};
    event.events = EPOLLIN;
    if (wanted)
        event.events |= EPOLLOUT;
    event.data.u64 = connection.id;
    if (epoll_ctl(innerEpoll_, EPOLL_CTL_MOD, connection.fd, &event) == 0)
        connection.watchingWrites = wanted;
}

SendOutcome Session::sendRemote(const Target& target, UINT message, WPARAM wParam, LPARAM lParam)
{
    SendOutcome outcome;
    std::shared_ptr<Connection> connection = connectionTo(target.pid);
    if (!connection) {
        forget(target.handle);
        outcome.noWindow = true;
        return outcome;
    }
    FrameHeader header = rkwire::makeHeader(Kind::Send, target.handle, message);
    header.sequence = nextSequence_++;
    header.wParam = wParam;
    header.lParam = lParam;
    const void* payload = nullptr;
    if (message == WM_COPYDATA) {
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        header.lParam = static_cast<int64_t>(copy->dwData);
        header.length = copy->cbData;
        payload = copy->lpData;
    }
    PendingSend send{header.sequence, connection->id};
    pending_.push_back(&send);
    if (writeToPeer(connection, header, payload)) {
        while (!send.answered && !send.failed)
            pumpIncoming(-1);
    }
    pending_.erase(std::find(pending_.begin(), pending_.end(), &send));
    refreshWakeup();
    outcome.delivered = send.answered && send.status == Status::Ok;
    outcome.noWindow = send.answered && send.status == Status::NoWindow;
    outcome.refused = send.answered && send.status == Status::Refused;
    outcome.result = outcome.delivered ? send.result : 0;
    if (outcome.noWindow)
        forget(target.handle);
    return outcome;
}

bool Session::postRemote(const Target& target, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::shared_ptr<Connection> connection = connectionTo(target.pid);
    if (!connection) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    FrameHeader header = rkwire::makeHeader(Kind::Post, target.handle, message);
    header.wParam = wParam;
    header.lParam = lParam;
    if (!queueUnsent(*connection, header)) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    if (!flushUnsent(connection, false)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    return true;
}

/* ---- incoming traffic ---- */

void Session::acceptPeers()
{
    rkwire::acceptSameUserPeers(listener_, [this](int fd, pid_t pid) { addConnection(fd, pid); });
}

void Session::readConnection(const std::shared_ptr<Connection>& connection)
{
    bool closed = connection->reader.fill(connection->fd) == FrameReader::Fill::Closed;
    /* Frames that arrived before the peer closed are still its own. */
    processBuffered(connection);
    if (closed)
        closeConnection(connection);
}

void Session::processBuffered(const std::shared_ptr<Connection>& connection)
{
    unparsed_.erase(connection->id);
    Frame frame;
    while (!connection->closed && connection->reader.take(frame))
        handleFrame(connection, frame);
    if (!connection->closed && connection->reader.isCorrupt())
        closeConnection(connection);
}

bool Session::processUnparsed()
{
    if (unparsed_.empty())
        return false;
    std::vector<uint64_t> ids(unparsed_.begin(), unparsed_.end());
    for (uint64_t id : ids) {
        auto found = connections_.find(id);
        if (found != connections_.end())
            readConnection(found->second);
        else
            unparsed_.erase(id);
    }
    return true;
}

void Session::handleFrame(const std::shared_ptr<Connection>& connection, Frame& frame)
{
    switch (static_cast<Kind>(frame.header.kind)) {
    case Kind::Send:
        answerSend(connection, frame);
        break;
    case Kind::Post:
        acceptPost(frame);
        break;
    case Kind::Reply:
        acceptReply(connection, frame);
        break;
    default:
        closeConnection(connection);
        break;
    }
}

void Session::answerSend(const std::shared_ptr<Connection>& connection, Frame& frame)
{
    FrameHeader answer = rkwire::makeHeader(Kind::Reply, frame.header.window, frame.header.message);
    answer.sequence = frame.header.sequence;
    answer.status = static_cast<uint16_t>(Status::NoWindow);
    Window* window = exactLocalWindow(frame.header.window);
    if (window && rkwire::carriesPointer(frame.header.message)) {
        /* A number from another process where the procedure expects an address of ours: refused, unseen. */
        answer.status = static_cast<uint16_t>(Status::Refused);
    } else if (window) {
        const auto wParam = static_cast<WPARAM>(frame.header.wParam);
        LRESULT result;
        if (frame.header.message == WM_COPYDATA) {
            COPYDATASTRUCT copy{static_cast<ULONG_PTR>(frame.header.lParam), frame.header.length,
                                frame.payload.empty() ? nullptr : frame.payload.data()};
            result = callProcedure(*window, WM_COPYDATA, wParam, reinterpret_cast<LPARAM>(&copy), ISMEX_SEND);
        } else {
            result = callProcedure(*window, frame.header.message, wParam, static_cast<LPARAM>(frame.header.lParam),
                                   ISMEX_SEND);
        }
        answer.status = static_cast<uint16_t>(Status::Ok);
        answer.lParam = result;
    }
    queueReply(connection, answer);
}

/*
 * A reply never waits for its receiver: it goes behind what is already
 * queued for it. A peer that lets replies pile up beyond the bound (one
 * that sends and never reads) is cut off.
 */
void Session::queueReply(const std::shared_ptr<Connection>& connection, const FrameHeader& answer)
{
    if (connection->closed)
        return;
    if (!queueUnsent(*connection, answer)) {
        closeConnection(connection);
        return;
    }
    flushUnsent(connection, false);
}

/* Puts a frame without payload behind what waits for the connection; false over the bound. */
bool Session::queueUnsent(Connection& connection, const FrameHeader& header)
{
    if (connection.unsent.size() + sizeof header > maxUnsentBytes)
        return false;
    connection.unsent.append(reinterpret_cast<const char*>(&header), sizeof header);
    return true;
}

void Session::acceptPost(const Frame& frame)
{
    Window* window = exactLocalWindow(frame.header.window);
    if (!window || rkwire::carriesPointer(frame.header.message))
        return;
    MSG message{};
    message.hwnd = toHwnd(window->handle);
    message.message = frame.header.message;
    message.wParam = static_cast<WPARAM>(frame.header.wParam);
    message.lParam = static_cast<LPARAM>(frame.header.lParam);
    message.time = GetTickCount();
    enqueue(message);
}

void Session::acceptReply(const std::shared_ptr<Connection>& connection, const Frame& frame)
{
    for (PendingSend* send : pending_) {
        if (send->sequence == frame.header.sequence && send->connection == connection->id) {
            send->answered = true;
            send->status = static_cast<Status>(frame.header.status);
            send->result = static_cast<LRESULT>(frame.header.lParam);
            return;
        }
    }
}

int Session::pumpIncoming(int timeoutMs)
{
    if (innerEpoll_ < 0 && !ensureEventSources())
        return 0;
    if (processUnparsed())
        return 1;
    epoll_event events[maxEvents];
    int count = epoll_wait(innerEpoll_, events, maxEvents, timeoutMs);
    for (int i = 0; i < count; ++i) {
        uint64_t id = events[i].data.u64;
        if (id == listenerId) {
            acceptPeers();
        } else if (id == stationId) {
            onStationReadable();
        } else if (id == retryId) {
            onStationRetry();
        } else {
            auto found = connections_.find(id);
            if (found == connections_.end())
                continue;
            std::shared_ptr<Connection> connection = found->second;
            if (events[i].events & EPOLLOUT)
                flushUnsent(connection, false);
            if (events[i].events & ~EPOLLOUT)
                readConnection(connection);
        }
    }
    return count > 0 ? count : 0;
}

void Session::drainIncoming()
{
    for (int round = 0; round < drainRounds && pumpIncoming(0) > 0; ++round) {
    }
    refreshWakeup();
}

} // namespace rkwin
