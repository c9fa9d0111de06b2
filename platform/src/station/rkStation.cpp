#include "station/rkStation.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace rkstation {

using namespace rkwire;

namespace {

uint16_t nextReuse(uint16_t reuse)
{
    ++reuse;
    return reuse == 0 || reuse == 0xffff ? 1 : reuse;
}

bool isWindowSlot(uint32_t slot) { return slot != 0 && slot != broadcastSlot; }

/* A handle whose high 16 bits are 0 or 0xffff addresses its slot, whoever holds it. */
bool isFullReuse(uint32_t reuse) { return reuse != 0 && reuse != 0xffff; }

} // namespace

bool processRuns(pid_t pid, uint64_t started)
{
    if (pid <= 0 || (kill(pid, 0) != 0 && errno == ESRCH))
        return false;
    return started == 0 || processStarted(pid) == started;
}

/* Field 22 of /proc/PID/stat, in clock ticks since boot; the name before it may hold anything but ")". */
uint64_t processStarted(pid_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char text[1024];
    ssize_t length = read(fd, text, sizeof text - 1); /* the kernel hands the whole line to one read */
    close(fd);
    if (length <= 0)
        return 0;
    text[length] = '\0';
    const char* field = std::strrchr(text, ')');
    for (int skipped = 0; field && skipped < 20; ++skipped)
        field = std::strchr(field + 1, ' ');
    return field ? std::strtoull(field + 1, nullptr, 10) : 0;
}

Station::Station(uint16_t firstReuse, const std::vector<HeldHandle>& reserved, IsAlive isAlive, StartedOf startedOf)
    : slots_(slotCount), isAlive_(std::move(isAlive)), startedOf_(std::move(startedOf))
{
    for (Slot& slot : slots_)
        slot.reuse = firstReuse;
    for (const HeldHandle& held : reserved)
        reserve(held);
}

/* A predecessor's handle keeps its slot and its reuse count until its owner claims it again or dies. */
void Station::reserve(const HeldHandle& held)
{
    uint32_t slot = held.handle & 0xffff;
    uint32_t reuse = held.handle >> 16;
    if (!isWindowSlot(slot) || !isFullReuse(reuse) || held.pid <= 0)
        return;
    Slot& entry = slots_[slot];
    reserved_.insert(slot);
    entry.state = State::Reserved;
    entry.reuse = static_cast<uint16_t>(reuse);
    entry.pid = held.pid;
    entry.started = held.record.started;
    entry.topLevel = held.record.topLevel;
    names_[slot] = {held.record.className, held.record.windowName};
}

bool Station::handleRequest(ClientId client, pid_t pid, const Frame& frame)
{
    StationRequest request;
    if (!request.decode(frame))
        return false;
    Frame reply = answer(client, pid, request).encode(frame.header.sequence);
    clients_[client].append(reply.header, reply.payload);
    return true;
}

StationAnswer Station::answer(ClientId client, pid_t pid, const StationRequest& request)
{
    switch (request.kind) {
    case Kind::Create:
        return create(client, pid, request);
    case Kind::Claim:
        return claim(client, pid, request);
    case Kind::Destroy:
        return destroy(client, request.window);
    case Kind::Resolve:
        return resolve(request.window);
    case Kind::Find:
        return find(request);
    default: /* a Snapshot: a request of any other kind does not decode */
        return snapshot();
    }
}

void Station::disconnect(ClientId client)
{
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot)
        if (slots_[slot].state == State::Live && slots_[slot].owner == client)
            release(slot);
    clients_.erase(client);
}

StationAnswer Station::create(ClientId client, pid_t pid, const StationRequest& request)
{
    uint32_t slot = freeSlot();
    if (slot == 0)
        return {Status::Refused};
    occupy(slot, client, pid, request.topLevel, {request.className.value_or(""), request.windowName.value_or("")},
           slots_[slot].reuse);
    return {Status::Ok, handleOf(slot)};
}

/* The lowest free slot; reserved ones only once their owners turn out to be dead. 0 when none. */
uint32_t Station::freeSlot()
{
    for (;;) {
        for (uint32_t slot = lowestFree_; slot < broadcastSlot; ++slot) {
            if (slots_[slot].state == State::Free) {
                lowestFree_ = slot + 1;
                return slot;
            }
        }
        lowestFree_ = broadcastSlot;
        if (!hasReservations())
            return 0;
        releaseDeadReservations();
        if (lowestFree_ == broadcastSlot)
            return 0;
    }
}

/* A client that outlived a previous station registers its windows again. */
StationAnswer Station::claim(ClientId client, pid_t pid, const StationRequest& request)
{
    uint32_t handle = request.window;
    if (!claimable(handle & 0xffff, handle, pid))
        return {Status::Refused, handle};
    occupy(handle & 0xffff, client, pid, request.topLevel,
           {request.className.value_or(""), request.windowName.value_or("")}, static_cast<uint16_t>(handle >> 16));
    return {Status::Ok, handle};
}

/* A reserved slot goes back to the process that held it, or to anyone once that process is dead. */
bool Station::claimable(uint32_t slot, uint32_t handle, pid_t pid)
{
    if (!isWindowSlot(slot) || !isFullReuse(handle >> 16))
        return false;
    Slot& entry = slots_[slot];
    if (entry.state == State::Reserved) {
        if (entry.pid == pid && handleOf(slot) == handle)
            return true;
        if (ownerRuns(entry))
            return false;
        release(slot);
    }
    return entry.state == State::Free;
}

StationAnswer Station::destroy(ClientId client, uint32_t handle)
{
    uint32_t slot = 0;
    const Slot* entry = lookup(handle, &slot);
    if (!entry || entry->state != State::Live || entry->owner != client || handleOf(slot) != handle)
        return {Status::NoWindow};
    release(slot);
    return {Status::Ok};
}

/* A reserved window still lives in its owner, so it resolves before the owner claims it again. */
StationAnswer Station::resolve(uint32_t handle)
{
    uint32_t slot = 0;
    if (!lookup(handle, &slot) || !isWindow(slot))
        return {Status::NoWindow};
    return {Status::Ok, handleOf(slot), slots_[slot].pid};
}

bool Station::isWindow(uint32_t slot)
{
    if (slots_[slot].state == State::Reserved && !ownerRuns(slots_[slot]))
        release(slot);
    return slots_[slot].state != State::Free;
}

StationAnswer Station::find(const StationRequest& request)
{
    StationAnswer found{Status::NoWindow};
    uint64_t newest = 0;
    /* A window its owner has not claimed again counts as older than every live one. */
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        const Slot& entry = slots_[slot];
        if (entry.state == State::Free || !entry.topLevel || entry.serial < newest)
            continue;
        const Names& names = names_[slot];
        if (request.className && strcasecmp(names.className.c_str(), request.className->c_str()) != 0)
            continue;
        if (request.windowName && strcasecmp(names.windowName.c_str(), request.windowName->c_str()) != 0)
            continue;
        if (!isWindow(slot))
            continue;
        newest = entry.serial;
        found = {Status::Ok, handleOf(slot), entry.pid};
    }
    return found;
}

StationAnswer Station::snapshot()
{
    StationAnswer listed;
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        const Slot& entry = slots_[slot];
        if (entry.state == State::Free || !entry.topLevel || !isWindow(slot))
            continue;
        listed.snapshot.push_back({handleOf(slot), entry.pid});
    }
    return listed;
}

const Station::Slot* Station::lookup(uint32_t handle, uint32_t* slotIndex) const
{
    uint32_t slot = handle & 0xffff;
    uint32_t reuse = handle >> 16;
    if (!isWindowSlot(slot))
        return nullptr;
    const Slot& entry = slots_[slot];
    if (entry.state == State::Free || (isFullReuse(reuse) && reuse != entry.reuse))
        return nullptr;
    *slotIndex = slot;
    return &entry;
}

void Station::occupy(uint32_t slot, ClientId client, pid_t pid, bool topLevel, Names names, uint16_t reuse)
{
    Slot& entry = slots_[slot];
    reserved_.erase(slot);
    entry.state = State::Live;
    entry.reuse = reuse;
    entry.owner = client;
    entry.pid = pid;
    entry.topLevel = topLevel;
    entry.serial = ++serial_;
    entry.started = startedOf_(pid);
    names_[slot] = std::move(names);
    changes_.push_back({handleOf(slot), pid, true, heldHandle(slot).record});
}

/* The slot's next window gets a new reuse count, so the old full handle addresses nothing. */
void Station::release(uint32_t slot)
{
    Slot& entry = slots_[slot];
    if (entry.state == State::Free)
        return;
    reserved_.erase(slot);
    changes_.push_back({handleOf(slot), entry.pid, false});
    names_.erase(slot);
    Slot freed;
    freed.reuse = nextReuse(entry.reuse);
    entry = std::move(freed);
    lowestFree_ = std::min(lowestFree_, slot);
}

void Station::releaseDeadReservations()
{
    if (!hasReservations())
        return;
    std::map<std::pair<pid_t, uint64_t>, bool> alive;
    for (auto next = reserved_.begin(); next != reserved_.end();) {
        uint32_t slot = *next++; /* releasing it erases it from the set */
        std::pair<pid_t, uint64_t> owner{slots_[slot].pid, slots_[slot].started};
        auto known = alive.find(owner);
        if (known == alive.end())
            known = alive.emplace(owner, ownerRuns(slots_[slot])).first;
        if (!known->second)
            release(slot);
    }
}

std::vector<HandleChange> Station::takeChanges()
{
    std::vector<HandleChange> taken;
    taken.swap(changes_);
    return taken;
}

HeldHandle Station::heldHandle(uint32_t slot) const
{
    const Slot& entry = slots_[slot];
    HeldHandle held{handleOf(slot), entry.pid};
    held.record.started = entry.started;
    held.record.topLevel = entry.topLevel;
    auto names = names_.find(slot);
    if (names != names_.end()) {
        held.record.className = names->second.className;
        held.record.windowName = names->second.windowName;
    }
    return held;
}

std::vector<HeldHandle> Station::heldHandles() const
{
    std::vector<HeldHandle> held;
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot)
        if (slots_[slot].state != State::Free)
            held.push_back(heldHandle(slot));
    return held;
}

} // namespace rkstation
