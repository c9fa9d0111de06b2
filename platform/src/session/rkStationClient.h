/*
 * This process's link to the desktop's window station: its connection,
 * the retries after the station went away, and the cache of where other
 * processes' handles lead. Whoever owns the windows says which ones to
 * claim again from a new station; the client never looks at them itself.
 */
#ifndef RKSTATIONCLIENT_H
#define RKSTATIONCLIENT_H

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

#include "session/rkEventSources.h"
#include "session/rkPeers.h"
#include "session/rkWindowTable.h"
#include "wire/rkFrame.h"
#include "wire/rkStationProtocol.h"

namespace rkwin {

/* A window of this process as the station knows it. */
struct ClaimedWindow {
    uint32_t handle;
    bool topLevel;
    std::string className;
    std::string name;
};

class StationClient {
public:
    static constexpr uint64_t stationId = 2;
    static constexpr uint64_t retryId = 3;

    StationClient(EventSources& events, Peers& peers) : events_(events), peers_(peers) {}

    /* What to claim again from a station that starts after ours went away. */
    void setWindowsToClaim(std::function<std::vector<ClaimedWindow>()> windows) { windowsToClaim_ = std::move(windows); }

    /* One request and its answer, on a station started when none runs; false when none answers. */
    bool request(const rkwire::StationRequest& request, rkwire::StationAnswer& answer);
    /* Where a handle of another process leads: from the cache when allowed, else from the station. */
    bool resolve(uint32_t handle, bool useCache, Target& target);
    void forget(uint32_t handle);
    void forgetProcess(pid_t pid);

    void onEvent(uint64_t id);

private:
    bool connect();
    bool exchange(const rkwire::StationRequest& request, rkwire::StationAnswer& answer);
    bool claimWindows();
    void drop();
    void scheduleRetry(bool wanted, long afterMs);
    bool hasWindows() const { return windowsToClaim_ && !windowsToClaim_().empty(); }

    EventSources& events_;
    Peers& peers_;
    std::function<std::vector<ClaimedWindow>()> windowsToClaim_;
    int station_ = -1;
    int retryTimer_ = -1; /* armed while windows wait to be claimed from a station */
    rkwire::FrameReader reader_{rkwire::maxStationFrameBytes};
    uint64_t sequence_ = 0;

    struct RemoteWindow {
        uint32_t handle;
        pid_t pid;
    };
    std::map<uint32_t, RemoteWindow> cache_; /* keyed by slot */
};

} // namespace rkwin

#endif
