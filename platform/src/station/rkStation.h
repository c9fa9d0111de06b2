/*
 * The window station's handle table and its answers, apart from any
 * socket: requests go in with the client they came from, answers come out
 * on that client's queue. The program around it moves the bytes; a test or
 * a fuzzer can drive it directly.
 */
#ifndef RKSTATION_H
#define RKSTATION_H

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <sys/types.h>
#include <vector>

#include "station/rkAnswerQueue.h"
#include "wire/rkFrame.h"
#include "wire/rkStationProtocol.h"

namespace rkstation {

using ClientId = int;

constexpr uint32_t slotCount = 0x10000;
constexpr uint32_t broadcastSlot = 0xffff;

/*
 * What a successor needs to keep a window a window while its owner has not
 * claimed it again: who owns it, since when, and what FindWindowA matches.
 */
struct WindowRecord {
    uint64_t started = 0; /* the owner's start time; 0 when unknown */
    bool topLevel = false;
    std::string className;
    std::string windowName;
};

/* A handle some process holds: a live window, or one a predecessor handed out. */
struct HeldHandle {
    uint32_t handle;
    pid_t pid;
    WindowRecord record{};
};

/* One change to the held handles, for the file a successor reads. */
struct HandleChange {
    uint32_t handle;
    pid_t pid;
    bool held; /* false: the handle is given up */
    WindowRecord record{}; /* of a handle held */
};

class Station {
public:
    /* Whether the process with this pid is the one that started then (0: any process with the pid). */
    using IsAlive = std::function<bool(pid_t, uint64_t started)>;
    /* When a running process started, so that a later process with its pid is told apart; 0 when unknown. */
    using StartedOf = std::function<uint64_t(pid_t)>;

    /*
     * reserved: handles that a killed predecessor handed out; their slots
     * wait for their owners, and stay windows to everyone while those run.
     * isAlive tells whether such an owner still runs.
     */
    Station(uint16_t firstReuse, const std::vector<HeldHandle>& reserved, IsAlive isAlive,
            StartedOf startedOf = [](pid_t) -> uint64_t { return 0; });

    /* Answers one request on the client's queue; false for a malformed one (nothing is answered). */
    bool handleRequest(ClientId client, pid_t pid, const rkwire::Frame& frame);
    /* The client is gone: its windows are freed and its answers dropped. */
    void disconnect(ClientId client);
    AnswerQueue& answers(ClientId client) { return clients_[client]; }

    /* Gives up the reservations whose owners have died; looks at those alone. */
    void releaseDeadReservations();
    bool hasReservations() const { return !reserved_.empty(); }

    /* What changed since the last call, in order. */
    std::vector<HandleChange> takeChanges();
    /* Every handle held now, live or reserved. */
    std::vector<HeldHandle> heldHandles() const;

private:
    enum class State : uint8_t { Free, Live, Reserved };
    struct Names {
        std::string className;
        std::string windowName;
    };
    struct Slot {
        State state = State::Free;
        uint16_t reuse = 1;
        ClientId owner = -1;
        pid_t pid = -1;
        bool topLevel = false;
        uint64_t serial = 0;
        uint64_t started = 0;
    };

    rkwire::StationAnswer answer(ClientId client, pid_t pid, const rkwire::StationRequest& request);
    rkwire::StationAnswer create(ClientId client, pid_t pid, const rkwire::StationRequest& request);
    rkwire::StationAnswer claim(ClientId client, pid_t pid, const rkwire::StationRequest& request);
    rkwire::StationAnswer destroy(ClientId client, uint32_t handle);
    rkwire::StationAnswer resolve(uint32_t handle);
    rkwire::StationAnswer find(const rkwire::StationRequest& request);
    rkwire::StationAnswer snapshot();

    uint32_t freeSlot();
    bool claimable(uint32_t slot, uint32_t handle, pid_t pid);
    const Slot* lookup(uint32_t handle, uint32_t* slotIndex) const;
    /* A live window, or a reserved one whose owner runs; a reservation whose owner died is given up. */
    bool isWindow(uint32_t slot);
    bool ownerRuns(const Slot& entry) const { return isAlive_(entry.pid, entry.started); }
    HeldHandle heldHandle(uint32_t slot) const;
    void occupy(uint32_t slot, ClientId client, pid_t pid, bool topLevel, Names names, uint16_t reuse);
    void release(uint32_t slot);
    void reserve(const HeldHandle& held);
    uint32_t handleOf(uint32_t slot) const { return static_cast<uint32_t>(slots_[slot].reuse) << 16 | slot; }

    std::vector<Slot> slots_;
    std::unordered_map<uint32_t, Names> names_; /* of the live windows, by slot */
    std::map<ClientId, AnswerQueue> clients_;
    std::vector<HandleChange> changes_;
    IsAlive isAlive_;
    StartedOf startedOf_;
    uint32_t lowestFree_ = 1; /* no slot below it is free */
    std::set<uint32_t> reserved_; /* the reserved slots */
    uint64_t serial_ = 0;
};

/* The usual IsAlive: the process exists (a zombie still counts) and, when known, started then. */
bool processRuns(pid_t pid, uint64_t started);
/* The usual StartedOf: the start time the kernel gives the process, 0 when it cannot be read. */
uint64_t processStarted(pid_t pid);

} // namespace rkstation

#endif
