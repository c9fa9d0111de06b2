#include "session/rkEventSources.h"

#include <cerrno>
#include <initializer_list>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace rkwin {

namespace {

/* Ids of the outer set's own two members. */
constexpr uint64_t innerSetId = 0;
constexpr uint64_t wakeId = 1;

bool add(int epoll, int fd, uint64_t id, uint32_t events)
{
    epoll_event event{};
    event.events = events;
    event.data.u64 = id;
    return epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

} // namespace

bool EventSources::open()
{
    if (isOpen())
        return true;
    const int outer = epoll_create1(EPOLL_CLOEXEC);
    const int inner = epoll_create1(EPOLL_CLOEXEC);
    const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (outer < 0 || inner < 0 || wake < 0 || !add(outer, inner, innerSetId, EPOLLIN) ||
        !add(outer, wake, wakeId, EPOLLIN)) {
        for (int fd : {outer, inner, wake})
            if (fd >= 0)
                close(fd);
        return false;
    }
    outer_ = outer;
    inner_ = inner;
    wake_ = wake;
    return true;
}

bool EventSources::watch(int fd, uint64_t id) { return add(inner_, fd, id, EPOLLIN); }

bool EventSources::watchWrites(int fd, uint64_t id, bool wanted)
{
    epoll_event event{};
    event.events = EPOLLIN | (wanted ? EPOLLOUT : 0u);
    event.data.u64 = id;
    return epoll_ctl(inner_, EPOLL_CTL_MOD, fd, &event) == 0;
}

void EventSources::unwatch(int fd) { epoll_ctl(inner_, EPOLL_CTL_DEL, fd, nullptr); }

int EventSources::addTimer(uint64_t id)
{
    const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (timer >= 0 && !watch(timer, id)) {
        close(timer);
        return -1;
    }
    return timer;
}

void EventSources::arm(int timer, long afterMs)
{
    itimerspec when{};
    if (afterMs >= 0) {
        when.it_value.tv_sec = afterMs / 1000;
        when.it_value.tv_nsec = afterMs % 1000 * 1000000L;
    }
    timerfd_settime(timer, 0, &when, nullptr);
}

bool EventSources::takeExpiry(int timer)
{
    uint64_t expirations;
    return read(timer, &expirations, sizeof expirations) == sizeof expirations;
}

int EventSources::wait(epoll_event* events, int capacity, int timeoutMs)
{
    if (!open())
        return 0;
    const int count = epoll_wait(inner_, events, capacity, timeoutMs);
    return count > 0 ? count : 0;
}

void EventSources::signalPending(bool pending)
{
    if (wake_ < 0 || pending == signalled_)
        return;
    if (pending) {
        const uint64_t one = 1;
        if (write(wake_, &one, sizeof one) == sizeof one)
            signalled_ = true;
    } else {
        uint64_t count;
        if (read(wake_, &count, sizeof count) == sizeof count || errno == EAGAIN)
            signalled_ = false;
    }
}

} // namespace rkwin
