#include "station/rkStationServer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include "wire/rkDesktop.h"

namespace rkstation {

namespace {

using namespace rkwire;

constexpr std::chrono::milliseconds sweepInterval{1000};

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
      station_(firstReuse, journal_.load(), processRuns, processStarted),
      idleSince_(Clock::now()), nextSweep_(Clock::now() + sweepInterval)
{
    /* What the predecessor left is ours to keep now, reservations included. */
    noteJournal(journal_.rewrite(station_.heldHandles()));
}

void StationServer::run()
{
    for (;;) {
        bool leave = false;
        int timeout = timeoutMs(leave);
        if (leave)
            return;
        std::vector<pollfd> watched = watchedDescriptors();
        if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR)
            return;
        for (size_t i = 1; i < watched.size(); ++i)
            if (watched[i].revents)
                serve(watched[i]);
        if (watched[0].revents & POLLIN)
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

/* Clients over the pause mark are not read until they have taken their answers. */
std::vector<pollfd> StationServer::watchedDescriptors()
{
    std::vector<pollfd> watched{{listener_, POLLIN, 0}};
    for (auto& entry : connections_) {
        size_t waiting = station_.answers(entry.first).size();
        short events = static_cast<short>((waiting < pauseReadingAtBytes ? POLLIN : 0) | (waiting ? POLLOUT : 0));
        watched.push_back({entry.first, events, 0});
    }
    return watched;
}

void StationServer::serve(const pollfd& ready)
{
    if (ready.revents & POLLIN)
        readFrom(ready.fd);
    else if (ready.revents & (POLLERR | POLLHUP | POLLNVAL))
        drop(ready.fd);
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
    close(fd);
    connections_.erase(found);
    bool pidStillHere = std::any_of(connections_.begin(), connections_.end(),
                                    [pid](const auto& entry) { return entry.second.pid == pid; });
    if (!pidStillHere)
        unlink(peerSocketPath(desktop_, pid).c_str());
}

void StationServer::acceptClients()
{
    acceptSameUserPeers(listener_, [this](int fd, pid_t pid) { connections_[fd].pid = pid; });
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

void StationServer::writeAnswers()
{
    std::vector<int> broken;
    for (auto& entry : connections_)
        if (!writeWhatFits(entry.first, station_.answers(entry.first)))
            broken.push_back(entry.first);
    for (int fd : broken)
        drop(fd);
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
