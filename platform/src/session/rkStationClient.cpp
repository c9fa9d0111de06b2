#include "session/rkStationClient.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "wire/rkDesktop.h"

namespace rkwin {

namespace {

constexpr int stationTimeoutMs = 10000;
/* How soon windows are claimed again after a station could not be reached. */
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

} // namespace

bool StationClient::connect()
{
    if (station_ >= 0)
        return true;
    if (!peers_.join())
        return false;
    int fd = rkwire::connectToStation(peers_.desktop());
    if (fd >= 0 && !events_.watch(fd, stationId)) {
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        scheduleRetry(hasWindows(), stationRetryMs);
        return false;
    }
    station_ = fd;
    reader_ = rkwire::FrameReader(rkwire::maxStationFrameBytes);
    const bool claimed = claimWindows();
    scheduleRetry(!claimed, stationRetryMs);
    return claimed;
}

void StationClient::drop()
{
    if (station_ < 0)
        return;
    events_.unwatch(station_);
    close(station_);
    station_ = -1;
}

/*
 * Windows that outlived a station are claimed again from the next one,
 * under the same handles. A station that goes away meanwhile leaves the
 * rest for the next attempt; a refusal means another process holds the
 * handle now, which the station's reservations are there to prevent, so it
 * is reported rather than retried.
 */
bool StationClient::claimWindows()
{
    if (!windowsToClaim_)
        return true;
    for (const ClaimedWindow& window : windowsToClaim_()) {
        rkwire::StationAnswer answer;
        if (!exchange({rkwire::Kind::Claim, window.handle, window.topLevel, window.className, window.name}, answer))
            return false;
        if (answer.status != rkwire::Status::Ok)
            std::fprintf(stderr, "rkwin: the window station refused window %#x of process %d again\n",
                         window.handle, static_cast<int>(getpid()));
    }
    return true;
}

/* Keeps windows claimed with no request of our own to notice that the station went away. */
void StationClient::scheduleRetry(bool wanted, long afterMs)
{
    if (wanted && retryTimer_ < 0)
        retryTimer_ = events_.addTimer(retryId);
    if (retryTimer_ >= 0)
        EventSources::arm(retryTimer_, wanted ? afterMs : -1);
}

bool StationClient::exchange(const rkwire::StationRequest& request, rkwire::StationAnswer& answer)
{
    rkwire::Frame frame = request.encode();
    frame.header.sequence = ++sequence_;
    rkwire::Frame reply;
    const bool exchanged =
        rkwire::writeFrame(station_, frame.header, frame.payload.data(),
                           [](int fd) { return rkwire::waitWritableFor(fd, stationTimeoutMs); }) &&
        rkwire::readFrameWithin(station_, reader_, reply, stationTimeoutMs) &&
        reply.header.sequence == frame.header.sequence && answer.decode(reply);
    if (!exchanged)
        drop();
    return exchanged;
}

bool StationClient::request(const rkwire::StationRequest& request, rkwire::StationAnswer& answer)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!connect())
            return false;
        if (exchange(request, answer))
            return true;
    }
    return false;
}

void StationClient::onEvent(uint64_t id)
{
    if (id == retryId) {
        if (EventSources::takeExpiry(retryTimer_))
            connect();
        return;
    }
    /*
     * The station only ever answers requests: anything else means it went
     * away. Its successor learns of our windows at once, before another
     * process could ask for them.
     */
    drop();
    if (claimDelayMs() > 0 && hasWindows())
        scheduleRetry(true, claimDelayMs());
    else
        connect();
}

bool StationClient::resolve(uint32_t handle, bool useCache, Target& target)
{
    target = Target();
    auto cached = cache_.find(slotOf(handle));
    if (useCache && cached != cache_.end() && (isSlotOnly(handle) || cached->second.handle == handle)) {
        target.handle = cached->second.handle;
        target.pid = cached->second.pid;
        target.fromCache = true;
        return true;
    }
    rkwire::StationAnswer answer;
    if (!request({rkwire::Kind::Resolve, handle}, answer) || answer.status != rkwire::Status::Ok)
        return false;
    target.handle = answer.window;
    target.pid = answer.pid;
    if (target.pid == getpid())
        return false; /* the station still lists a window this process no longer has */
    cache_[slotOf(target.handle)] = {target.handle, target.pid};
    return true;
}

void StationClient::forget(uint32_t handle)
{
    auto cached = cache_.find(slotOf(handle));
    if (cached != cache_.end() && cached->second.handle == handle)
        cache_.erase(cached);
}

void StationClient::forgetProcess(pid_t pid)
{
    for (auto cached = cache_.begin(); cached != cache_.end();)
        cached = cached->second.pid == pid ? cache_.erase(cached) : std::next(cached);
}

} // namespace rkwin
