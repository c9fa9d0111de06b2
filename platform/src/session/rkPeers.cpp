#include "session/rkPeers.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include "host/rkClock.h"
#include "wire/rkDesktop.h"

namespace rkwin {

namespace {

/* Frames handed on per connection before the others get their turn: a busy ring never runs dry by itself. */
constexpr int maxFramesPerPass = 256;
/*
 * How long a waiting process watches its rings before it sleeps on its
 * sockets: a round trip's worth, so that a reply or the next request of
 * busy traffic is met without a system call on either side.
 */
constexpr long ringSpinNanoseconds = 25000;
constexpr unsigned spinRoundsPerClockLook = 64;
/*
 * Spin credit: an answered spin earns several more, an unanswered one costs
 * one; without credit every so many waits still spin once.
 */
constexpr int spinCreditPerAnswer = 4;
constexpr int maxSpinCredit = 16;
constexpr unsigned spinProbeInterval = 32;

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

bool anyRingHasBytes(const std::vector<Channel*>& channels)
{
    return std::any_of(channels.begin(), channels.end(), [](Channel* c) { return c->hasIncoming(); });
}

} // namespace

bool Peers::join()
{
    if (listener_ >= 0)
        return true;
    if (!events_.open())
        return false;
    const std::string desktop = rkwire::desktopDirectory();
    if (desktop.empty())
        return false;
    const std::string path = rkwire::peerSocketPath(desktop, getpid());
    const int listener = rkwire::listenUnix(path);
    if (listener < 0)
        return false;
    if (!events_.watch(listener, listenerId)) {
        ::close(listener);
        unlink(path.c_str());
        return false;
    }
    desktop_ = desktop;
    listener_ = listener;
    /* Without a bell peers ring through the socket. */
    bell_ = rkwire::makeBell();
    if (bell_ >= 0 && !events_.watch(bell_, bellId)) {
        ::close(bell_);
        bell_ = -1;
    }
    if (peerSocketToRemove.empty())
        std::atexit(removePeerSocket);
    peerSocketOwner = getpid();
    peerSocketToRemove = path;
    return true;
}

Peer Peers::add(int fd, pid_t pid, bool accepted)
{
    auto peer = std::make_shared<PeerConnection>(nextId_++, fd, pid, accepted, bell_);
    if (!events_.watch(fd, peer->id()))
        return nullptr; /* the connection closes its socket */
    connections_[peer->id()] = peer;
    byPid_.emplace(pid, peer->id());
    return peer;
}

Peer Peers::connectTo(pid_t pid)
{
    auto known = byPid_.find(pid);
    if (known != byPid_.end())
        return connections_[known->second];
    if (!join())
        return nullptr;
    const int fd = rkwire::connectUnix(rkwire::peerSocketPath(desktop_, pid));
    if (fd < 0)
        return nullptr;
    if (rkwire::sameUserPeer(fd) != pid) {
        ::close(fd);
        return nullptr;
    }
    Peer peer = add(fd, pid, false);
    if (peer && channelsWanted()) {
        peer->offerChannel();
        settle(peer);
    }
    return peer && !peer->closed() ? peer : nullptr;
}

void Peers::acceptPeers()
{
    rkwire::acceptSameUserPeers(listener_, [this](int fd, pid_t pid) { add(fd, pid, true); });
}

/* After every step on a connection: a failed one is closed, the others watched for room as they need. */
void Peers::settle(const Peer& peer)
{
    if (peer->closed())
        return;
    if (peer->failed()) {
        close(peer);
        return;
    }
    if (peer->takeChannelChange())
        channelsStale_ = true;
    const bool wanted = peer->hasQueued();
    if (peer->watchingWrites() != wanted && events_.watchWrites(peer->fd(), peer->id(), wanted))
        peer->setWatchingWrites(wanted);
}

void Peers::close(const Peer& peer)
{
    if (peer->closed())
        return;
    events_.unwatch(peer->fd());
    peer->close();
    channelsStale_ = true;
    connections_.erase(peer->id());
    unparsed_.erase(peer->id());
    auto byPid = byPid_.find(peer->pid());
    if (byPid != byPid_.end() && byPid->second == peer->id()) {
        byPid_.erase(byPid);
        for (auto& entry : connections_)
            if (entry.second->pid() == peer->pid()) {
                byPid_.emplace(peer->pid(), entry.first);
                break;
            }
    }
    for (const auto& listener : closedListeners_)
        listener(*peer);
}

bool Peers::send(const Peer& peer, rkwire::FrameHeader& header, const void* payload)
{
    const PeerConnection::Ring ring = peer->putOnRing(header, payload, Lane::Requests);
    bool written = ring == PeerConnection::Ring::Carried;
    recentRingTraffic_ = recentRingTraffic_ || written;
    if (ring == PeerConnection::Ring::NotCarried) {
        header.serial = peer->takeSerial();
        written = peer->write(header, payload, [this](int fd) { return waitForRoom(fd); });
    }
    settle(peer);
    return written;
}

Peers::Posted Peers::post(const Peer& peer, rkwire::FrameHeader header)
{
    const PeerConnection::Ring ring = peer->putOnRing(header, nullptr, Lane::Requests);
    if (ring == PeerConnection::Ring::NotCarried) {
        if (!peer->queue(header))
            return Posted::OverQuota;
        peer->sendQueued();
    }
    recentRingTraffic_ = recentRingTraffic_ || ring == PeerConnection::Ring::Carried;
    const bool lost = peer->failed() || peer->closed();
    settle(peer);
    return lost ? Posted::Lost : Posted::Sent;
}

void Peers::reply(const Peer& peer, rkwire::FrameHeader answer)
{
    if (peer->closed())
        return;
    rkwire::FrameHeader onRing = answer;
    const PeerConnection::Ring ring = peer->putOnRing(onRing, nullptr, Lane::Replies);
    recentRingTraffic_ = recentRingTraffic_ || ring == PeerConnection::Ring::Carried;
    if (ring == PeerConnection::Ring::NotCarried) {
        if (!peer->queue(answer)) {
            close(peer);
            return;
        }
        peer->sendQueued();
    }
    settle(peer);
}

/*
 * While a frame waits for room on one socket, whatever the other side and
 * the other processes write is read into their buffers (not handed on), so
 * two processes writing large frames to each other cannot block each other.
 * A buffer that holds a whole frame is not read further: the frame waits
 * until the write is done, and the peer behind it waits in its socket.
 * New peers are accepted meanwhile: a process that connected to us to
 * write while we connected to it to write would otherwise wait on us for
 * ever, and we on it. Nothing is closed here: a connection that fails
 * meanwhile is closed when its frames are handed on.
 */
bool Peers::waitForRoom(int fd)
{
    std::set<uint64_t> finished;
    for (;;) {
        std::vector<pollfd> watched;
        std::vector<Peer> readers;
        if (listener_ >= 0) {
            watched.push_back({listener_, POLLIN, 0});
            readers.push_back(nullptr);
        }
        for (auto& entry : connections_) {
            PeerConnection& peer = *entry.second;
            const bool readable = !finished.count(entry.first) && peer.wantsBytes();
            const auto events = static_cast<short>((readable ? POLLIN : 0) | (peer.fd() == fd ? POLLOUT : 0));
            if (events == 0)
                continue;
            watched.push_back({peer.fd(), events, 0});
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
                if (readers[i]->fill() != rkwire::FrameReader::Fill::Progress)
                    finished.insert(readers[i]->id());
                readers[i]->takeControlFrames();
                unparsed_.insert(readers[i]->id());
            }
        }
        if (target->revents & POLLOUT)
            return true;
        if (target->revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
}

void Peers::onEvent(uint64_t id, uint32_t events)
{
    if (id == listenerId) {
        acceptPeers();
        return;
    }
    if (id == bellId) {
        answerBell();
        return;
    }
    auto found = connections_.find(id);
    if (found == connections_.end())
        return;
    const Peer peer = found->second;
    if (events & EPOLLOUT) {
        peer->sendQueued();
        settle(peer);
    }
    if (events & ~EPOLLOUT)
        read(peer);
}

/* The bell says only that some ring has frames: every ring is looked at. */
void Peers::answerBell()
{
    uint64_t rings;
    if (::read(bell_, &rings, sizeof rings) < 0 && errno != EAGAIN)
        return;
    handleRings();
}

void Peers::read(const Peer& peer)
{
    const bool closed = peer->fill() == rkwire::FrameReader::Fill::Closed;
    /* Frames that arrived before the peer closed are still its own. */
    handleFrames(peer);
    if (closed)
        close(peer);
}

void Peers::deliver(const Peer& peer, rkwire::Frame& frame)
{
    switch (static_cast<rkwire::Kind>(frame.header.kind)) {
    case rkwire::Kind::Send:
        sink_.takeSend(peer, frame);
        break;
    case rkwire::Kind::Post:
        sink_.takePost(frame);
        break;
    default:
        sink_.takeReply(peer, frame);
        break;
    }
}

/* Answers whether a frame was handed on. */
bool Peers::handleFrames(const Peer& peer)
{
    unparsed_.erase(peer->id());
    rkwire::Frame frame;
    bool fromRing = false;
    int handed = 0;
    while (peer->next(frame, fromRing)) {
        recentRingTraffic_ = recentRingTraffic_ || fromRing;
        deliver(peer, frame);
        if (++handed == maxFramesPerPass && !peer->closed()) {
            unparsed_.insert(peer->id());
            events_.signalPending(true);
            break;
        }
    }
    settle(peer);
    return handed > 0;
}

bool Peers::handleBuffered()
{
    if (unparsed_.empty())
        return false;
    const std::vector<uint64_t> ids(unparsed_.begin(), unparsed_.end());
    for (uint64_t id : ids) {
        auto found = connections_.find(id);
        if (found == connections_.end()) {
            unparsed_.erase(id);
            continue;
        }
        /* A copy: handing frames on may close the connection and drop the table's. */
        const Peer peer = found->second;
        handleFrames(peer); /* the socket itself is read when the event sources say so */
    }
    return true;
}

/*
 * Handing frames on may close connections or open new ones, so the walk
 * goes on from the next id rather than from an iterator.
 */
bool Peers::handleRings()
{
    bool handed = false;
    for (auto entry = connections_.begin(); entry != connections_.end();) {
        const uint64_t id = entry->first;
        if (entry->second->channel() && entry->second->channel()->hasIncoming()) {
            const Peer peer = entry->second;
            handed = handleFrames(peer) || handed;
        }
        entry = connections_.upper_bound(id);
    }
    return handed;
}

/* Kept between calls: the spin looks at it every round, and connections come and go rarely. */
const std::vector<Channel*>& Peers::channels()
{
    if (channelsStale_) {
        channels_.clear();
        for (auto& entry : connections_)
            if (entry.second->channel())
                channels_.push_back(entry.second->channel());
        channelsStale_ = false;
    }
    return channels_;
}

/*
 * Watches the rings for a short while, awake so that writers need not ring.
 * What it finds is handed on while still awake: busy traffic then goes back
 * and forth without a system call. Found nothing, it falls asleep.
 *
 * A spin pays only while the peer runs beside this process and answers
 * within it. Where the peer shares this process's core, or has to be woken
 * and wait for one, a spin only keeps it from running: so a process whose
 * spins go unanswered stops spinning and sleeps at once, and spins again
 * now and then to learn whether that still holds.
 */
bool Peers::spinForRings()
{
    const std::vector<Channel*>& all = channels();
    bool found = false;
    if (!all.empty() && spinMayPay()) {
        for (Channel* channel : all)
            channel->setAwake(true);
        found = watchRings(all);
        noteSpin(found);
    }
    found = found || fallAsleep();
    recentRingTraffic_ = found;
    return found;
}

bool Peers::spinMayPay()
{
    if (spinCredit_ > 0)
        return true;
    return ++unspunWaits_ % spinProbeInterval == 0;
}

void Peers::noteSpin(bool answered)
{
    spinCredit_ = answered ? std::min(spinCredit_ + spinCreditPerAnswer, maxSpinCredit) : std::max(spinCredit_ - 1, 0);
}

/*
 * Some hosts answer the clock only through a system call: it is read now
 * and then, and not at all when the answer comes quickly.
 */
bool Peers::watchRings(const std::vector<Channel*>& all)
{
    timespec start{};
    for (unsigned round = 1;; ++round) {
        if (round == spinRoundsPerClockLook)
            clock_gettime(CLOCK_MONOTONIC, &start);
        else if (round % spinRoundsPerClockLook == 0 && nanosecondsSince(start) >= ringSpinNanoseconds)
            return false;
        relaxWhileSpinning();
        if (anyRingHasBytes(all))
            return true;
    }
}

/*
 * The receiver publishes its wake word before it looks at the tails, the
 * writer its tail before it looks at the wake word (both with a full
 * fence), so a frame is never left unseen with its receiver asleep.
 */
bool Peers::fallAsleep()
{
    const std::vector<Channel*>& all = channels();
    for (Channel* channel : all)
        channel->setAwake(false);
    return anyRingHasBytes(all);
}

void Peers::sleepOnSockets()
{
    if (!fallAsleep())
        return;
    for (auto& entry : connections_)
        if (entry.second->channel() && entry.second->channel()->hasIncoming())
            unparsed_.insert(entry.first);
}

} // namespace rkwin
