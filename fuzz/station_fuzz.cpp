// The window station's request handling, driven by fuzzed sequences of
// requests from four clients, against a model of the handle table. Every
// request the station accepts gets exactly one answer with its sequence
// number, a malformed one none; each answer is the one the model expects
// (a new window takes the lowest free slot and never a full handle its slot
// had before; a handle resolves to its holder until destroyed; reserved
// slots go to their owners or to anyone once the owner is dead); and the
// changes the station reports, replayed over what it started with, give
// exactly the handles it holds, as a successor would read them.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "station/rkStation.h"
#include "wire/rkStationProtocol.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

using rkfuzz::FuzzInput;
using rkstation::HeldHandle;
using rkstation::Station;
using rkwire::Frame;
using rkwire::FrameHeader;
using rkwire::Kind;
using rkwire::Status;

namespace {

constexpr int clientCount = 4;
constexpr pid_t firstPid = 101;
constexpr int pidCount = 6; /* the clients' and two that never connect */
constexpr int maxSteps = 1500;

struct ModelSlot {
    enum class State { Live, Reserved } state;
    uint32_t handle;
    pid_t pid;
    int client;
    bool topLevel;
};

struct Answer {
    FrameHeader header;
    std::vector<char> payload;
};

class StationRun {
public:
    explicit StationRun(FuzzInput& input);
    void step();
    void finish();

private:
    bool alive(pid_t pid) const { return pid >= firstPid && pid < firstPid + pidCount && alive_[pid - firstPid]; }
    uint32_t pickHandle();
    Frame request(Kind kind, uint32_t window, uint16_t flags, std::vector<char> payload);
    std::vector<char> pickNames();
    bool submit(int client, const Frame& frame, Answer& answer);
    void create(int client);
    void claim(int client);
    void destroy(int client);
    void resolve(int client);
    void snapshot(int client);
    void stray(int client);
    void disconnect(int client);
    void releaseDead();
    void forgetDeadOwnersWindow(uint32_t handle);
    void toggleLife();
    uint32_t lowestFreeSlot() const;
    static bool isFull(uint32_t handle) { return (handle >> 16) != 0 && (handle >> 16) != 0xffff; }

    FuzzInput& input_;
    bool alive_[pidCount];
    std::vector<HeldHandle> reserved_;
    Station station_;
    std::map<uint32_t, ModelSlot> slots_;
    std::map<uint32_t, std::set<uint32_t>> issued_; /* every full handle each slot has had */
    std::set<uint32_t> claimedSlots_;                /* a claim may name any reuse count */
    std::vector<uint32_t> known_;
    uint64_t sequence_ = 0;
};

std::vector<HeldHandle> reservations(FuzzInput& input, bool* alive)
{
    uint8_t aliveBits = input.byte();
    for (int i = 0; i < pidCount; ++i)
        alive[i] = aliveBits & (1u << i);
    std::vector<HeldHandle> reserved;
    for (int count = input.byte() % 8; count > 0; --count) {
        uint32_t slot = 1 + input.byte() % 16;
        uint32_t reuse = 1 + static_cast<uint32_t>(input.number(2)) % 0xfffe;
        pid_t pid = firstPid + input.byte() % pidCount;
        /* A handles file names each slot once, as the last line about it left it. */
        bool named = std::any_of(reserved.begin(), reserved.end(),
                                 [slot](const HeldHandle& held) { return (held.handle & 0xffff) == slot; });
        if (!named)
            reserved.push_back({reuse << 16 | slot, pid});
    }
    return reserved;
}

uint16_t firstReuse(FuzzInput& input) { return static_cast<uint16_t>(1 + input.number(2) % 0xfffd); }

StationRun::StationRun(FuzzInput& input)
    : input_(input), reserved_(reservations(input, alive_)),
      station_(firstReuse(input), reserved_, [this](pid_t pid, uint64_t) { return alive(pid); })
{
    for (const HeldHandle& held : reserved_) {
        uint32_t slot = held.handle & 0xffff;
        slots_[slot] = {ModelSlot::State::Reserved, held.handle, held.pid, -1, false};
        issued_[slot].insert(held.handle);
        known_.push_back(held.handle);
    }
}

void StationRun::step()
{
    int client = input_.byte() % clientCount;
    switch (input_.byte() % 10) {
    case 0:
    case 1:
        return create(client);
    case 2:
        return claim(client);
    case 3:
        return destroy(client);
    case 4:
        return resolve(client);
    case 5:
        return snapshot(client);
    case 6:
        return stray(client);
    case 7:
        return disconnect(client);
    case 8:
        return releaseDead();
    default:
        return toggleLife();
    }
}

/* A process dies, or a pid is taken again. */
void StationRun::toggleLife()
{
    bool& pidAlive = alive_[input_.byte() % pidCount];
    pidAlive = !pidAlive;
}

/* Mostly a handle seen before, sometimes its slot alone, sometimes anything. */
uint32_t StationRun::pickHandle()
{
    uint8_t how = input_.byte();
    if (known_.empty() || how % 4 == 3)
        return static_cast<uint32_t>(input_.number(4));
    uint32_t handle = known_[input_.byte() % known_.size()];
    return how % 4 == 2 ? (handle & 0xffff) | (how & 8 ? 0xffff0000u : 0) : handle;
}

Frame StationRun::request(Kind kind, uint32_t window, uint16_t flags, std::vector<char> payload)
{
    Frame frame;
    frame.header = rkwire::makeHeader(kind, window, 0);
    frame.header.status = flags;
    frame.header.sequence = ++sequence_;
    frame.header.length = static_cast<uint32_t>(payload.size());
    frame.payload = std::move(payload);
    return frame;
}

/* Well-formed names mostly, else whatever bytes the input has. */
std::vector<char> StationRun::pickNames()
{
    if (input_.byte() % 8 == 0) {
        std::string raw = input_.text();
        return std::vector<char>(raw.begin(), raw.end());
    }
    std::string className = input_.text();
    std::string windowName = input_.text();
    className.erase(std::find(className.begin(), className.end(), '\0'), className.end());
    windowName.erase(std::find(windowName.begin(), windowName.end(), '\0'), windowName.end());
    return rkwire::encodeNames(className.c_str(), windowName.c_str());
}

/* True when the station answered; then exactly one answer, to this request. */
bool StationRun::submit(int client, const Frame& frame, Answer& answer)
{
    bool accepted = station_.handleRequest(client, firstPid + client, frame);
    rkstation::AnswerQueue& queue = station_.answers(client);
    if (!accepted) {
        FUZZ_CHECK(queue.empty(), "a refused request was answered");
        return false;
    }
    FUZZ_CHECK(queue.size() >= sizeof(FrameHeader), "an accepted request was not answered");
    std::memcpy(&answer.header, queue.front(), sizeof answer.header);
    FUZZ_CHECK(queue.size() == sizeof(FrameHeader) + answer.header.length, "not exactly one answer");
    FUZZ_CHECK(answer.header.magic == rkwire::frameMagic, "answer magic");
    FUZZ_CHECK(answer.header.kind == static_cast<uint16_t>(Kind::StationReply), "answer kind");
    FUZZ_CHECK(answer.header.sequence == frame.header.sequence, "answer sequence");
    answer.payload.assign(queue.front() + sizeof answer.header, queue.front() + queue.size());
    queue.consume(queue.size());
    return true;
}

uint32_t StationRun::lowestFreeSlot() const
{
    uint32_t slot = 1;
    for (auto it = slots_.begin(); it != slots_.end() && it->first == slot; ++it)
        ++slot;
    return slot;
}

void StationRun::create(int client)
{
    uint16_t flags = input_.byte() & 7;
    Frame frame = request(Kind::Create, static_cast<uint32_t>(input_.number(4)), flags, pickNames());
    std::string first, second;
    bool wellFormed = rkwire::decodeNames(frame.payload, first, second);
    Answer answer{};
    FUZZ_CHECK(submit(client, frame, answer) == wellFormed, "create accepted iff its names decode");
    if (!wellFormed)
        return;
    FUZZ_CHECK(answer.header.status == static_cast<uint16_t>(Status::Ok), "create refused with slots free");
    uint32_t handle = answer.header.window;
    uint32_t slot = handle & 0xffff;
    FUZZ_CHECK(slot == lowestFreeSlot(), "a new window takes the lowest free slot");
    FUZZ_CHECK(isFull(handle), "a new window has a full handle");
    FUZZ_CHECK(claimedSlots_.count(slot) || !issued_[slot].count(handle), "a full handle came back");
    slots_[slot] = {ModelSlot::State::Live, handle, firstPid + client, client, bool(flags & rkwire::flagTopLevel)};
    issued_[slot].insert(handle);
    known_.push_back(handle);
}

void StationRun::claim(int client)
{
    uint32_t handle = pickHandle();
    uint16_t flags = input_.byte() & 7;
    Frame frame = request(Kind::Claim, handle, flags, pickNames());
    std::string first, second;
    bool wellFormed = rkwire::decodeNames(frame.payload, first, second);
    Answer answer{};
    FUZZ_CHECK(submit(client, frame, answer) == wellFormed, "claim accepted iff its names decode");
    if (!wellFormed)
        return;
    uint32_t slot = handle & 0xffff;
    pid_t pid = firstPid + client;
    bool granted = slot != 0 && slot != 0xffff && isFull(handle);
    auto held = slots_.find(slot);
    if (granted && held != slots_.end()) {
        const ModelSlot& entry = held->second;
        bool own = entry.state == ModelSlot::State::Reserved && entry.pid == pid && entry.handle == handle;
        bool orphaned = entry.state == ModelSlot::State::Reserved && !alive(entry.pid);
        granted = own || orphaned;
    }
    FUZZ_CHECK(answer.header.window == handle, "a claim answers the handle claimed");
    FUZZ_CHECK(answer.header.status == static_cast<uint16_t>(granted ? Status::Ok : Status::Refused), "claim");
    if (!granted)
        return;
    slots_[slot] = {ModelSlot::State::Live, handle, pid, client, bool(flags & rkwire::flagTopLevel)};
    issued_[slot].insert(handle);
    claimedSlots_.insert(slot);
    known_.push_back(handle);
}

void StationRun::destroy(int client)
{
    uint32_t handle = pickHandle();
    Answer answer{};
    FUZZ_CHECK(submit(client, request(Kind::Destroy, handle, 0, {}), answer), "destroy is always answered");
    auto held = slots_.find(handle & 0xffff);
    bool mine = held != slots_.end() && held->second.state == ModelSlot::State::Live &&
                held->second.client == client && held->second.handle == handle;
    FUZZ_CHECK(answer.header.status == static_cast<uint16_t>(mine ? Status::Ok : Status::NoWindow), "destroy");
    if (mine)
        slots_.erase(held);
}

void StationRun::resolve(int client)
{
    uint32_t handle = pickHandle();
    Answer answer{};
    FUZZ_CHECK(submit(client, request(Kind::Resolve, handle, 0, {}), answer), "resolve is always answered");
    forgetDeadOwnersWindow(handle);
    uint32_t slot = handle & 0xffff;
    auto held = slot == 0xffff ? slots_.end() : slots_.find(slot);
    bool found = held != slots_.end() && (!isFull(handle) || held->second.handle == handle);
    FUZZ_CHECK(answer.header.status == static_cast<uint16_t>(found ? Status::Ok : Status::NoWindow), "resolve");
    if (found) {
        FUZZ_CHECK(answer.header.window == held->second.handle, "resolve answers the full handle");
        FUZZ_CHECK(answer.header.lParam == held->second.pid, "resolve answers the holder");
    }
}

void StationRun::snapshot(int client)
{
    Answer answer{};
    FUZZ_CHECK(submit(client, request(Kind::Snapshot, 0, 0, {}), answer), "snapshot is always answered");
    std::vector<uint32_t> expected;
    for (const auto& entry : slots_)
        if (entry.second.state == ModelSlot::State::Live && entry.second.topLevel)
            expected.insert(expected.end(), {entry.second.handle, static_cast<uint32_t>(entry.second.pid)});
    FUZZ_CHECK(answer.payload.size() == expected.size() * sizeof(uint32_t), "snapshot size");
    FUZZ_CHECK(expected.empty() || std::memcmp(answer.payload.data(), expected.data(), answer.payload.size()) == 0,
               "snapshot lists the live top-level windows");
}

/* A request of any kind with any bytes: answered only when it is one the station knows. */
void StationRun::stray(int client)
{
    uint16_t kind = static_cast<uint16_t>(input_.number(2));
    uint16_t flags = static_cast<uint16_t>(input_.number(2));
    if (kind == static_cast<uint16_t>(Kind::Create) || kind == static_cast<uint16_t>(Kind::Claim) ||
        kind == static_cast<uint16_t>(Kind::Destroy))
        return; /* the requests that change the table go through their own steps */
    Frame frame = request(static_cast<Kind>(kind), static_cast<uint32_t>(input_.number(4)), flags, pickNames());
    std::string first, second;
    bool harmless = kind == static_cast<uint16_t>(Kind::Resolve) || kind == static_cast<uint16_t>(Kind::Snapshot) ||
                    (kind == static_cast<uint16_t>(Kind::Find) && rkwire::decodeNames(frame.payload, first, second));
    Answer answer{};
    FUZZ_CHECK(submit(client, frame, answer) == harmless, "a stray request");
    if (kind == static_cast<uint16_t>(Kind::Resolve))
        forgetDeadOwnersWindow(frame.header.window);
    if (harmless && kind == static_cast<uint16_t>(Kind::Find) && answer.header.status == static_cast<uint16_t>(Status::Ok)) {
        auto held = slots_.find(answer.header.window & 0xffff);
        FUZZ_CHECK(held != slots_.end() && held->second.state == ModelSlot::State::Live && held->second.topLevel &&
                       held->second.handle == answer.header.window && held->second.pid == answer.header.lParam,
                   "find answers a live top-level window");
    }
}

void StationRun::disconnect(int client)
{
    station_.disconnect(client);
    for (auto it = slots_.begin(); it != slots_.end();)
        it = it->second.state == ModelSlot::State::Live && it->second.client == client ? slots_.erase(it) : ++it;
}

/* Asked about, a reserved window whose owner has died is given up at once. */
void StationRun::forgetDeadOwnersWindow(uint32_t handle)
{
    auto held = slots_.find(handle & 0xffff);
    if (held != slots_.end() && held->second.state == ModelSlot::State::Reserved && !alive(held->second.pid) &&
        (!isFull(handle) || held->second.handle == handle))
        slots_.erase(held);
}

void StationRun::releaseDead()
{
    station_.releaseDeadReservations();
    for (auto it = slots_.begin(); it != slots_.end();)
        it = it->second.state == ModelSlot::State::Reserved && !alive(it->second.pid) ? slots_.erase(it) : ++it;
    FUZZ_CHECK(station_.hasReservations() ==
                   std::any_of(slots_.begin(), slots_.end(),
                               [](const auto& entry) { return entry.second.state == ModelSlot::State::Reserved; }),
               "reservations left");
}

/* A successor replays the reported changes over the reservations it was given. */
void StationRun::finish()
{
    std::map<uint32_t, HeldHandle> replayed;
    for (const HeldHandle& held : reserved_)
        replayed[held.handle & 0xffff] = held;
    for (const rkstation::HandleChange& change : station_.takeChanges()) {
        uint32_t slot = change.handle & 0xffff;
        if (change.held) {
            replayed[slot] = {change.handle, change.pid};
        } else {
            FUZZ_CHECK(replayed.count(slot) && replayed[slot].handle == change.handle, "gave up a handle not held");
            replayed.erase(slot);
        }
    }
    std::vector<HeldHandle> held = station_.heldHandles();
    FUZZ_CHECK(held.size() == slots_.size() && held.size() == replayed.size(), "held handles");
    for (const HeldHandle& entry : held) {
        FUZZ_CHECK(slots_.count(entry.handle & 0xffff) && slots_[entry.handle & 0xffff].handle == entry.handle &&
                       slots_[entry.handle & 0xffff].pid == entry.pid,
                   "held handle in the model");
        FUZZ_CHECK(replayed[entry.handle & 0xffff].handle == entry.handle, "held handle in the replayed changes");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    StationRun run(input);
    for (int steps = 0; steps < maxSteps && !input.empty(); ++steps)
        run.step();
    run.finish();
    return 0;
}
