/*
 * Where this process waits for what arrives: one epoll set holds the peer
 * listener, the connections, the window station and its retry timer. A
 * second, outer set holds that one and a wake counter; it is the
 * descriptor a foreign event loop watches, readable while anything arrived
 * and while work that has no descriptor of its own (posted messages,
 * frames already read) waits.
 */
#ifndef RKEVENTSOURCES_H
#define RKEVENTSOURCES_H

#include <cstdint>
#include <sys/epoll.h>

namespace rkwin {

class EventSources {
public:
    EventSources() = default;
    EventSources(const EventSources&) = delete;
    EventSources& operator=(const EventSources&) = delete;

    /* Makes the sets once; false when the host refuses them. */
    bool open();
    bool isOpen() const { return inner_ >= 0; }
    /* The descriptor foreign loops watch. */
    int outerFd() const { return outer_; }

    bool watch(int fd, uint64_t id);
    /* Adds or drops interest in room to write; false when the set refuses. */
    bool watchWrites(int fd, uint64_t id, bool wanted);
    void unwatch(int fd);

    /* A timer in the set under id, disarmed; -1 when none can be made. */
    int addTimer(uint64_t id);
    /* Fires once after afterMs; a negative afterMs disarms it. */
    static void arm(int timer, long afterMs);
    /* Takes a timer's expiry; false when it had none. */
    static bool takeExpiry(int timer);

    /* Waits up to timeoutMs (-1: no bound) for the inner set; the events ready. */
    int wait(epoll_event* events, int capacity, int timeoutMs);

    /* Keeps the outer descriptor readable exactly while pending holds. */
    void signalPending(bool pending);

private:
    int outer_ = -1;
    int inner_ = -1;
    int wake_ = -1;
    bool signalled_ = false;
};

} // namespace rkwin

#endif
