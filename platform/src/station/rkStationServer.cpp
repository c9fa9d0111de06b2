#include "station/rkStationServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/rkDesktop.h"

namespace rkstation {

namespace {

using namespace rkwire;

constexpr std::chrono::milliseconds sweepInterval{1000};
constexpr int readyAtOnce = 64;

/* Writes what the socket takes; false when the connection is broken. */
bool writeWhatFits(int fd, AnswerQueue& answers)
{
    while (!answers.empty()) {
        ssize_t sent = send(fd, answers.front(), answers.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            answers.consume(static_cast<size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        return sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
}

} // namespace

StationServer::StationServer(std::string desktop, int listener, int lingerMs, uint16_t firstReuse)
    : desktop_(std::move(desktop)), listener_(listener), lingerMs_(lingerMs),
      journal_(handleJournalPath(desktop_)),
      station_(firstReuse, journal_.load(), processRuns, processStarted), epoll_(epoll_create1(EPOLL_CLOEXEC)),
      idleSince_(Clock::now()), nextSweep_(Clock::now() + sweepInterval)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener_;
    if (epoll_ < 0 || epoll_ctl(epoll_, EPOLL_CTL_ADD, listener_, &event) != 0) {
        std::fprintf(stderr, "rkwinstation: cannot wait on sockets: %s\n", std::strerror(errno));
        if (epoll_ >= 0)
            close(epoll_);
        epoll_ = -1;
    }
    /* What the predecessor left is ours to keep now, reservations included. */
    noteJournal(journal_.rewrite(station_.heldHandles()));
}

StationServer::~StationServer()
{
    if (epoll_ >= 0)
        close(epoll_);
}

void StationServer::run()
{
    if (epoll_ < 0) {
        unlink(stationSocketPath(desktop_).c_str());
        unlink(stationPidPath(desktop_).c_str());
        return;
    }
    epoll_event ready[readyAtOnce];
    for (;;) {
        bool leave = false;
        int timeout = timeoutMs(leave);
        if (leave)
            return;
        int count = epoll_wait(epoll_, ready, readyAtOnce, timeout);
        if (count < 0 && errno != EINTR)
            return;
        /* A client that has gone is forgotten before anyone else's question is answered. */
        bool knocked = false;
        for (bool gone : {true, false}) {
            for (int i = 0; i < count; ++i) {
                if (ready[i].data.fd == listener_)
                    knocked = true;
                else if (gone == ((ready[i].events & (EPOLLERR | EPOLLHUP)) != 0))
                    serve(ready[i].data.fd, ready[i].events);
            }
        }
        if (knocked)
            acceptClients();
        sweepReservations();
        /* A handle is on file before its owner hears of it, so no successor can hand it out again. */
        recordChanges();
        writeAnswers();
    }
}

/* How long to wait: the rest of the linger once the last client left, a second while reservations remain. */
int StationServer::timeoutMs(bool& leave)
{
    auto now = Clock::now();
    int timeout = -1;
    if (connections_.empty()) {
        if (!idle_)
            idleSince_ = now;
        idle_ = true;
        auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(now - idleSince_).count();
        if (waited >= lingerMs_ && idleAndDrained()) {
            leave = true;
            return 0;
        }
        timeout = static_cast<int>(std::max<long long>(1, lingerMs_ - waited));
    } else {
        idle_ = false;
    }
    if (station_.hasReservations()) {
        auto untilSweep = std::chrono::duration_cast<std::chrono::milliseconds>(nextSweep_ - now).count();
        int sweep = static_cast<int>(std::max<long long>(1, untilSweep));
        timeout = timeout < 0 ? sweep : std::min(timeout, sweep);
    }
    return timeout;
}

void StationServer::serve(int fd, uint32_t events)
{
    served_.push_back(fd);
    if (events & EPOLLIN)
        readFrom(fd);
    else if (events & (EPOLLERR | EPOLLHUP))
        drop(fd);
}

void StationServer::readFrom(int fd)
{
    auto found = connections_.find(fd);
    if (found == connections_.end())
        return;
    Connection& connection = found->second;
    if (connection.reader.fill(fd) == FrameReader::Fill::Closed) {
        drop(fd);
        return;
    }
    Frame request;
    while (connection.reader.take(request)) {
        if (!station_.handleRequest(fd, connection.pid, request) ||
            station_.answers(fd).size() > maxWaitingAnswerBytes) {
            drop(fd);
            return;
        }
    }
    if (connection.reader.isCorrupt())
        drop(fd);
}

void StationServer::drop(int fd)
{
    auto found = connections_.find(fd);
    if (found == connections_.end())
        return;
    pid_t pid = found->second.pid;
    station_.disconnect(fd);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    connections_.erase(found);
    auto others = connectionsOf_.find(pid);
    bool pidStillHere = others != connectionsOf_.end() && --others->second > 0;
    if (others != connectionsOf_.end() && !pidStillHere)
        connectionsOf_.erase(others);
    if (!pidStillHere)
        unlink(peerSocketPath(desktop_, pid).c_str());
}

void StationServer::acceptClients()
{
    acceptSameUserPeers(listener_, [this](int fd, pid_t pid) { take(fd, pid); });
}

/* A client that cannot be watched is not taken: it sees its connection closed. */
void StationServer::take(int fd, pid_t pid)
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
        close(fd);
        return;
    }
    Connection& connection = connections_[fd];
    connection.pid = pid;
    connection.watched = EPOLLIN;
    ++connectionsOf_[pid];
}

void StationServer::sweepReservations()
{
    if (!station_.hasReservations() || Clock::now() < nextSweep_)
        return;
    station_.releaseDeadReservations();
    nextSweep_ = Clock::now() + sweepInterval;
}

void StationServer::recordChanges()
{
    std::vector<HandleChange> changes = station_.takeChanges();
    if (changes.empty())
        return;
    bool recorded = journal_.append(changes);
    if (recorded && journal_.wantsRewrite())
        recorded = journal_.rewrite(station_.heldHandles());
    noteJournal(recorded);
}

/* Windows still work without the file; only a successor could then hand out their slots. Said once. */
void StationServer::noteJournal(bool recorded)
{
    if (!recorded && !journalFailed_)
        std::fprintf(stderr, "rkwinstation: cannot record the handles in %s: %s\n",
                     handleJournalPath(desktop_).c_str(), std::strerror(errno));
    journalFailed_ = journalFailed_ || !recorded;
}

/*
 * Only a connection that was ready this round can have new answers or room
 * for them. One that is over the pause mark is not read until it has taken
 * its answers; one with answers waiting is watched until it has taken them.
 */
void StationServer::writeAnswers()
{
    std::vector<int> served;
    served.swap(served_);
    std::sort(served.begin(), served.end());
    served.erase(std::unique(served.begin(), served.end()), served.end());
    for (int fd : served) {
        auto found = connections_.find(fd);
        if (found == connections_.end())
            continue;
        AnswerQueue& answers = station_.answers(fd);
        if (!writeWhatFits(fd, answers)) {
            drop(fd);
            continue;
        }
        uint32_t wanted = (answers.size() < pauseReadingAtBytes ? uint32_t{EPOLLIN} : 0) |
                          (answers.empty() ? 0 : uint32_t{EPOLLOUT});
        if (wanted == found->second.watched)
            continue;
        epoll_event event{};
        event.events = wanted;
        event.data.fd = fd;
        if (epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event) == 0)
            found->second.watched = wanted;
        else
            drop(fd);
    }
}

/*
 * A client may connect just as the station decides to leave. Holding the
 * start lock keeps new stations from starting while the last connections
 * in the backlog are taken; if one is there, the station stays.
 */
bool StationServer::idleAndDrained()
{
    int lock = open(stationStartLockPath(desktop_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    acceptClients();
    bool leaving = connections_.empty();
    if (leaving) {
        recordChanges();
        unlink(stationSocketPath(desktop_).c_str());
        unlink(stationPidPath(desktop_).c_str());
        close(listener_);
    }
    if (lock >= 0)
        close(lock);
    return leaving;
}

} // namespace rkstation
