/*
 * The window station's sockets: takes the desktop's clients, feeds their
 * requests to the Station, records the handles it hands out and writes
 * the answers as each client's socket takes them. It never waits on a
 * client. One epoll set watches them all, so a round costs what the
 * sockets that are ready cost, however many clients sit idle; while no
 * reservation waits for its owner, only a client or the end of the
 * linger wakes the station.
 */
#ifndef RKSTATIONSERVER_H
#define RKSTATIONSERVER_H

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "wire/rkFrame.h"
#include "station/rkHandleJournal.h"
#include "station/rkStation.h"

namespace rkstation {

/*
 * A client that asks only when its last answer came has at most one
 * answer waiting, and the largest is a whole-table snapshot of 512 KiB.
 * More than 1 MiB waiting means the client asks without reading: it is
 * disconnected. From 64 KiB on nothing more is read from it until it has
 * taken its answers, so a client that pipelines small requests waits
 * instead, holding at most the answers to one read of requests.
 */
constexpr size_t maxWaitingAnswerBytes = 1024 * 1024;
constexpr size_t pauseReadingAtBytes = 64 * 1024;

class StationServer {
public:
    StationServer(std::string desktop, int listener, int lingerMs, uint16_t firstReuse);
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;
    void run();

private:
    using Clock = std::chrono::steady_clock;
    struct Connection {
        pid_t pid = -1;
        uint32_t watched = 0; /* the epoll events asked for */
        rkwire::FrameReader reader{sizeof(rkwire::FrameHeader) + rkwire::maxStationRequestBytes};
    };

    int timeoutMs(bool& leave);
    void serve(int fd, uint32_t events);
    void readFrom(int fd);
    void drop(int fd);
    void acceptClients();
    void take(int fd, pid_t pid);
    void sweepReservations();
    void recordChanges();
    void noteJournal(bool recorded);
    void writeAnswers();
    bool idleAndDrained();

    std::string desktop_;
    int listener_;
    int lingerMs_;
    HandleJournal journal_;
    Station station_;
    int epoll_;
    std::map<int, Connection> connections_;
    std::unordered_map<pid_t, int> connectionsOf_; /* by process */
    std::vector<int> served_; /* this round's connections: only their answers can have changed */
    bool idle_ = false;
    Clock::time_point idleSince_;
    Clock::time_point nextSweep_;
    bool journalFailed_ = false;
};

} // namespace rkstation

#endif
