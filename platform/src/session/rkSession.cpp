#include "session/rkSession.h"

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
#include <time.h>
#include <unistd.h>

#include "wire/rkDesktop.h"
#include "wire/rkPointerMessages.h"

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

/*
 * For tests only: how long a process leaves its windows unclaimed after its
 * station went away, so that others can be seen to find them meanwhile.
 */
long claimDelayMs()
{
    static const long delay = [] {
        const char* text = std::getenv("RK_TEST_CLAIM_DELAY_MS");
        return text ? std::max(0L, std::strtol(text, nullptr, 10)) : 0L;
    }();
    return delay;
}
constexpr int maxEvents = 32;
constexpr int drainRounds = 64;
constexpr unsigned drainsPerSocketLook = 16;
/*
 * Posts and replies waiting for a receiver that does not read (over 20000
 * of them, beside what the socket holds). Beyond this a post fails, as a
 * full message queue makes it fail on Win32; a peer that lets its replies
 * pile up so far is cut off.
 */
constexpr size_t maxUnsentBytes = 1024u * 1024u;
/* Frames handled per connection before the others get their turn: a busy ring never runs dry by itself. */
constexpr int maxFramesPerPass = 256;
/*
 * How long a waiting process watches its rings before it sleeps on its
 * sockets: a round trip's worth, so that a reply or the next request of
 * busy traffic is met without a system call on either side.
 */
constexpr long ringSpinNanoseconds = 25000;
constexpr unsigned spinRoundsPerClockLook = 64;

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

void relaxWhileSpinning()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

/* A serial the peer already used: the frame can never be handled in order. */
bool isBehind(uint32_t serial, uint32_t expected) { return static_cast<int32_t>(serial - expected) < 0; }

uint32_t serialAfter(uint32_t serial) { return serial + 1 == 0 ? 1 : serial + 1; }

} // namespace

long nanosecondsSince(const timespec& start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000000000L + (now.tv_nsec - start.tv_nsec);
}

Connection::~Connection()
{
    if (offeredSegment >= 0)
        close(offeredSegment);
}

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
        scheduleStationRetry(!windows.empty(), stationRetryMs);
        return false;
    }
    station_ = fd;
    stationReader_ = FrameReader(rkwire::maxStationFrameBytes);
    bool reclaimed = reclaimWindows();
    scheduleStationRetry(!reclaimed, stationRetryMs);
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
void Session::scheduleStationRetry(bool wanted, long afterMs)
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
    if (wanted) {
        when.it_value.tv_sec = afterMs / 1000;
        when.it_value.tv_nsec = afterMs % 1000 * 1000000L;
    }
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
    if (claimDelayMs() > 0 && !windows.empty())
        scheduleStationRetry(true, claimDelayMs());
    else
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

std::shared_ptr<Connection> Session::addConnection(int fd, pid_t pid, bool accepted)
{
    auto connection = std::make_shared<Connection>();
    connection->id = nextConnectionId_++;
    connection->fd = fd;
    connection->pid = pid;
    connection->accepted = accepted;
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
    std::shared_ptr<Connection> connection = addConnection(fd, pid, false);
    if (connection && channelsWanted())
        offerChannel(connection);
    return connection && !connection->closed ? connection : nullptr;
}

/*
 * The channel's offer is the first frame on a new connection: serial 1,
 * the segment attached. Frames go through the socket until the peer has
 * mapped it; a peer that declines simply never says so.
 */
void Session::offerChannel(const std::shared_ptr<Connection>& connection)
{
    int segment = -1;
    std::unique_ptr<Channel> channel = Channel::create(segment);
    if (!channel)
        return;
    FrameHeader offer = rkwire::makeHeader(Kind::Channel, 0, 0);
    offer.serial = 1;
    const long sent = rkwire::sendHeaderWithDescriptor(connection->fd, offer, segment);
    close(segment);
    if (sent == static_cast<long>(sizeof offer)) {
        connection->channel = std::move(channel);
        channelsStale_ = true;
        connection->ordered = true;
        connection->sendSerial = 2;
    } else if (sent > 0) {
        closeConnection(connection); /* half a header: the stream is lost */
    }
}

/* On the side that accepted: the offer is taken once, before the connection is ordered, or never. */
void Session::adoptChannel(const std::shared_ptr<Connection>& connection, const Frame& offer)
{
    const int segment = connection->offeredSegment;
    connection->offeredSegment = -1;
    if (!connection->accepted || connection->ordered) {
        if (segment >= 0)
            close(segment);
        closeConnection(connection);
        return;
    }
    if (segment < 0 || !channelsWanted()) {
        if (segment >= 0)
            close(segment);
        return;
    }
    connection->channel = Channel::adopt(segment);
    channelsStale_ = true;
    if (!connection->channel)
        return;
    connection->ordered = true;
    connection->expectSerial = serialAfter(offer.header.serial);
    if (!queueUnsent(*connection, rkwire::makeHeader(Kind::ChannelAccept, 0, 0))) {
        closeConnection(connection);
        return;
    }
    flushUnsent(connection, false);
    connection->channel->ready = true;
}

void Session::acceptChannel(const std::shared_ptr<Connection>& connection)
{
    if (connection->accepted || !connection->channel || connection->channel->ready)
        closeConnection(connection);
    else
        connection->channel->ready = true;
}

uint32_t Session::takeSerial(Connection& connection)
{
    if (!connection.ordered)
        return 0;
    const uint32_t serial = connection.sendSerial;
    connection.sendSerial = serialAfter(serial);
    return serial;
}

/*
 * A frame that fits goes through the ring of its lane. A full ring sends
 * it through the socket instead (the serial keeps it in order); a ring the
 * peer has corrupted ends the connection.
 */
Session::Ring Session::putOnRing(const std::shared_ptr<Connection>& connection, FrameHeader& header,
                                 const void* payload, Lane lane)
{
    Channel* channel = connection->channel.get();
    if (connection->closed || !channel || !channel->ready || header.length > rkwire::ringPayloadLimit)
        return Ring::NotCarried;
    header.serial = connection->sendSerial;
    switch (channel->put(lane, header, payload)) {
    case rkwire::RingWriter::Put::Written:
        takeSerial(*connection);
        recentRingTraffic_ = true;
        if (channel->receiverNeedsWaking())
            ringBell(connection);
        return Ring::Carried;
    case rkwire::RingWriter::Put::Full:
        return Ring::NotCarried;
    case rkwire::RingWriter::Put::Broken:
        break;
    }
    closeConnection(connection);
    return Ring::Failed;
}

/* A receiver asleep on its sockets learns of ring traffic through a header of its own. */
void Session::ringBell(const std::shared_ptr<Connection>& connection)
{
    const FrameHeader wake = rkwire::makeHeader(Kind::Wake, 0, 0);
    connection->unsent.append(reinterpret_cast<const char*>(&wake), sizeof wake);
    flushUnsent(connection, false);
}

void Session::closeConnection(const std::shared_ptr<Connection>& connection)
{
    if (connection->closed)
        return;
    connection->closed = true;
    channelsStale_ = true;
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
                if (readers[i]->reader.fill(readers[i]->fd, &readers[i]->offeredSegment) !=
                    FrameReader::Fill::Progress)
                    finished.insert(readers[i]->id);
                takeChannelFrames(readers[i]);
                unparsed_.insert(readers[i]->id);
            }
        }
        if (target->revents & POLLOUT)
            return true;
        if (target->revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
}

/*
 * The channel's own frames at the head of a socket are taken at once, even
 * while a write waits: they call no procedure, and a whole frame at the
 * head would otherwise keep the reader from the large frame behind it.
 */
void Session::takeChannelFrames(const std::shared_ptr<Connection>& connection)
{
    FrameHeader head;
    while (!connection->closed && connection->reader.peekComplete(head) &&
           head.kind >= static_cast<uint16_t>(Kind::Wake) && head.kind <= static_cast<uint16_t>(Kind::ChannelAccept) &&
           isDue(*connection, head)) {
        Frame frame;
        connection->reader.take(frame);
        noteTaken(*connection, frame.header);
        handleFrame(connection, frame);
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
    /* The reply comes soon: the receiver need not ring for it. */
    if (connection->channel)
        connection->channel->setAwake(true);
    const Ring ring = putOnRing(connection, header, payload, Lane::Requests);
    bool written = ring == Ring::Carried;
    if (ring == Ring::NotCarried) {
        header.serial = takeSerial(*connection);
        written = writeToPeer(connection, header, payload);
    }
    if (written) {
        while (!send.answered && !send.failed)
            pumpIncoming(-1);
    }
    pending_.erase(std::find(pending_.begin(), pending_.end(), &send));
    sleepOnSockets();
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
    const Ring ring = putOnRing(connection, header, nullptr, Lane::Requests);
    if (ring != Ring::NotCarried) {
        if (ring == Ring::Failed)
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return ring == Ring::Carried;
    }
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
    rkwire::acceptSameUserPeers(listener_, [this](int fd, pid_t pid) { addConnection(fd, pid, true); });
}

void Session::readConnection(const std::shared_ptr<Connection>& connection)
{
    bool closed = connection->reader.fill(connection->fd, &connection->offeredSegment) == FrameReader::Fill::Closed;
    /* Frames that arrived before the peer closed are still its own. */
    processBuffered(connection);
    if (closed)
        closeConnection(connection);
}

/* Answers whether a frame was handled. */
bool Session::processBuffered(const std::shared_ptr<Connection>& connection)
{
    unparsed_.erase(connection->id);
    Frame frame;
    int handled = 0;
    while (!connection->closed && takeNext(connection, frame)) {
        handleFrame(connection, frame);
        if (++handled == maxFramesPerPass && !connection->closed) {
            unparsed_.insert(connection->id);
            refreshWakeup();
            return true;
        }
    }
    if (!connection->closed && connection->reader.isCorrupt())
        closeConnection(connection);
    return handled > 0;
}

/* A frame on the socket may be handled now: unordered, or the serial due. */
bool Session::isDue(const Connection& connection, const FrameHeader& header)
{
    return !connection.ordered || header.serial == 0 || header.serial == connection.expectSerial;
}

void Session::noteTaken(Connection& connection, const FrameHeader& header)
{
    if (connection.ordered && header.serial != 0)
        connection.expectSerial = serialAfter(connection.expectSerial);
}

/*
 * The next frame in the peer's order: the socket's next frame or a ring's,
 * whichever carries the serial due. A frame that carries a serial already
 * used, or a ring that cannot be read, ends the connection.
 */
bool Session::takeNext(const std::shared_ptr<Connection>& shared, Frame& frame)
{
    Connection& connection = *shared;
    if (!connection.ordered)
        return connection.reader.take(frame);
    FrameHeader socketHead;
    const bool socketReady = connection.reader.peekComplete(socketHead);
    if (socketReady && isDue(connection, socketHead)) {
        connection.reader.take(frame);
        noteTaken(connection, frame.header);
        return true;
    }
    bool broken = socketReady && isBehind(socketHead.serial, connection.expectSerial);
    if (Channel* channel = connection.channel.get()) {
        for (Lane lane : {Lane::Replies, Lane::Requests}) {
            const Frame* head = channel->head(lane);
            if (head && head->header.serial == connection.expectSerial) {
                frame = channel->pop(lane);
                noteTaken(connection, frame.header);
                recentRingTraffic_ = true;
                return true;
            }
            broken = broken || (head && (head->header.serial == 0 || isBehind(head->header.serial, connection.expectSerial)));
        }
        broken = broken || channel->isBroken();
    }
    if (broken)
        closeConnection(shared);
    return false;
}

bool Session::processUnparsed()
{
    if (unparsed_.empty())
        return false;
    std::vector<uint64_t> ids(unparsed_.begin(), unparsed_.end());
    for (uint64_t id : ids) {
        auto found = connections_.find(id);
        if (found != connections_.end()) {
            /* A copy: handling the frames may close the connection and drop the table's. */
            std::shared_ptr<Connection> connection = found->second;
            processBuffered(connection); /* the socket itself is read when epoll says so */
        } else
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
    case Kind::Wake:
        break; /* whatever it rang for is taken with the frames */
    case Kind::Channel:
        adoptChannel(connection, frame);
        break;
    case Kind::ChannelAccept:
        acceptChannel(connection);
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
        IncomingSend incoming{connection, answer};
        IncomingSend* const outer = incoming_;
        incoming_ = &incoming;
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
        incoming_ = outer;
        if (!incoming.replied)
            replyWith(incoming, result);
        return;
    }
    queueReply(connection, answer);
}

/* Inside a call of this process's own, sendFlags says ISMEX_NOSEND, whatever send lies further out. */
bool Session::replyEarly(LRESULT result)
{
    if (!incoming_ || (sendFlags & (ISMEX_SEND | ISMEX_REPLIED)) != ISMEX_SEND)
        return false;
    sendFlags |= ISMEX_REPLIED;
    replyWith(*incoming_, result);
    return true;
}

void Session::replyWith(IncomingSend& incoming, LRESULT result)
{
    incoming.replied = true;
    FrameHeader answer = incoming.answer;
    answer.status = static_cast<uint16_t>(Status::Ok);
    answer.lParam = result;
    queueReply(incoming.connection, answer);
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
    FrameHeader reply = answer;
    if (putOnRing(connection, reply, nullptr, Lane::Replies) != Ring::NotCarried)
        return;
    if (!queueUnsent(*connection, answer)) {
        closeConnection(connection);
        return;
    }
    flushUnsent(connection, false);
}

/* Puts a frame without payload behind what waits for the connection; false over the bound. */
bool Session::queueUnsent(Connection& connection, FrameHeader header)
{
    if (connection.unsent.size() + sizeof header > maxUnsentBytes)
        return false;
    header.serial = takeSerial(connection);
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
    if (processUnparsed() || processChannels())
        return 1;
    if (timeoutMs != 0) {
        if (recentRingTraffic_ && spinForRings() && processChannels())
            return 1;
        if (fallAsleep() && processChannels())
            return 1;
    }
    return handleSocketEvents(timeoutMs);
}

/* What the sockets, the station and the timer have; answers how many were ready. */
int Session::handleSocketEvents(int timeoutMs)
{
    if (innerEpoll_ < 0 && !ensureEventSources())
        return 0;
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

/*
 * Frames waiting in the rings of every connection; answers whether one was
 * handled. Handling them may close connections or open new ones, so the
 * walk goes on from the next id rather than from an iterator.
 */
bool Session::processChannels()
{
    bool handled = false;
    for (auto entry = connections_.begin(); entry != connections_.end();) {
        const uint64_t id = entry->first;
        if (entry->second->channel && entry->second->channel->hasIncoming()) {
            /* A copy: handling the frames may drop the table's. */
            const std::shared_ptr<Connection> connection = entry->second;
            handled = processBuffered(connection) || handled;
        }
        entry = connections_.upper_bound(id);
    }
    return handled;
}

/* Kept between calls: the spin looks at it every round, and connections come and go rarely. */
const std::vector<Channel*>& Session::channels()
{
    if (channelsStale_) {
        channels_.clear();
        for (auto& entry : connections_)
            if (entry.second->channel)
                channels_.push_back(entry.second->channel.get());
        channelsStale_ = false;
    }
    return channels_;
}

bool Session::anyRingHasBytes(const std::vector<Channel*>& channels)
{
    return std::any_of(channels.begin(), channels.end(), [](Channel* c) { return c->hasIncoming(); });
}

/*
 * Watches the rings for a short while, awake so that writers need not ring.
 * What it finds is handled while still awake: busy traffic then goes back
 * and forth without a system call. Found nothing, it falls asleep.
 */
bool Session::spinForRings()
{
    const std::vector<Channel*>& all = channels();
    bool found = false;
    if (!all.empty()) {
        for (Channel* channel : all)
            channel->setAwake(true);
        /*
         * Some hosts answer the clock only through a system call: it is read
         * now and then, and not at all when the answer comes quickly.
         */
        timespec start{};
        for (unsigned round = 1; !found; ++round) {
            if (round == spinRoundsPerClockLook)
                clock_gettime(CLOCK_MONOTONIC, &start);
            else if (round % spinRoundsPerClockLook == 0 && nanosecondsSince(start) >= ringSpinNanoseconds)
                break;
            relaxWhileSpinning();
            found = anyRingHasBytes(all);
        }
        found = found || fallAsleep();
    }
    recentRingTraffic_ = found;
    return found;
}

/*
 * Before this process blocks, or leaves its rings to a foreign loop:
 * writers ring from now on, and whatever they wrote before is seen here.
 * The receiver publishes its wake word before it looks at the tails, the
 * writer its tail before it looks at the wake word (both with a full
 * fence), so a frame is never left unseen with its receiver asleep.
 */
void Session::sleepOnSockets()
{
    if (fallAsleep())
        for (auto& entry : connections_)
            if (entry.second->channel && entry.second->channel->hasIncoming())
                unparsed_.insert(entry.first);
    refreshWakeup();
}

bool Session::fallAsleep()
{
    const std::vector<Channel*>& all = channels();
    for (Channel* channel : all)
        channel->setAwake(false);
    return anyRingHasBytes(all);
}

/*
 * While ring traffic flows the sockets are looked at only every so many
 * drains: on a busy channel that system call would cost more than the
 * message. What waits on a socket meanwhile keeps the event descriptor
 * readable, and a process that goes to sleep looks at its sockets anyway.
 */
void Session::drainIncoming()
{
    for (int round = 0; round < drainRounds; ++round) {
        if (processUnparsed() || processChannels())
            continue;
        if (recentRingTraffic_ && ++drainsWithoutSocketLook_ < drainsPerSocketLook)
            break;
        drainsWithoutSocketLook_ = 0;
        if (handleSocketEvents(0) == 0)
            break;
    }
    refreshWakeup();
}

} // namespace rkwin
