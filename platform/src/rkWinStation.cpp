/*
 * rkwinstation: the desktop's window station. It owns the table of window
 * handles (which process holds which window, its class and name, whether it
 * is top-level) and answers the clients' questions about it. Messages never
 * pass through here: clients talk to each other directly.
 */
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "rkDesktop.h"
#include "rkFrame.h"

namespace {

using namespace rkwire;
using Clock = std::chrono::steady_clock;

constexpr int defaultLingerMs = 3000;
constexpr int replyTimeoutMs = 1000;
constexpr uint32_t slotCount = 0x10000;
constexpr uint32_t broadcastSlot = 0xffff;

struct Client {
    int fd = -1;
    pid_t pid = -1;
    FrameReader reader;
};

struct Slot {
    bool used = false;
    uint16_t reuse = 1;
    int owner = -1; /* fd of the owning client */
    pid_t pid = -1;
    bool topLevel = false;
    uint64_t serial = 0;
    std::string className;
    std::string windowName;
};

uint16_t nextReuse(uint16_t reuse)
{
    ++reuse;
    return reuse == 0 || reuse == 0xffff ? 1 : reuse;
}

uint32_t handleOf(uint32_t slot, const Slot& entry) { return static_cast<uint32_t>(entry.reuse) << 16 | slot; }

/* The header of the station's answer to a request, before its result is known. */
FrameHeader answerTo(const Frame& request, Status status)
{
    FrameHeader answer{};
    answer.sequence = request.header.sequence;
    answer.status = static_cast<uint16_t>(status);
    return answer;
}

class Station {
public:
    Station(std::string desktop, int listener, int lingerMs, uint16_t firstReuse)
        : desktop_(std::move(desktop)), listener_(listener), lingerMs_(lingerMs), slots_(slotCount)
    {
        for (Slot& slot : slots_)
            slot.reuse = firstReuse;
    }

    void run();

private:
    void acceptClients();
    void serveClient(int fd);
    void dropClient(int fd);
    bool handle(Client& client, const Frame& request);
    bool reply(Client& client, FrameHeader header, const std::vector<char>& payload = {});
    bool create(Client& client, const Frame& request);
    bool claim(Client& client, const Frame& request);
    bool destroy(Client& client, const Frame& request);
    bool resolve(Client& client, const Frame& request);
    bool find(Client& client, const Frame& request);
    bool snapshot(Client& client, const Frame& request);
    Slot* lookup(uint32_t handle, uint32_t* slotIndex);
    void occupy(uint32_t slot, Client& client, const Frame& request, uint16_t reuse);
    bool idleAndDrained();

    std::string desktop_;
    int listener_;
    int lingerMs_;
    std::map<int, std::unique_ptr<Client>> clients_;
    std::vector<Slot> slots_;
    uint64_t serial_ = 0;
};

void Station::run()
{
    bool idle = true;
    Clock::time_point idleSince = Clock::now();
    for (;;) {
        std::vector<pollfd> watched{{listener_, POLLIN, 0}};
        for (auto& entry : clients_)
            watched.push_back({entry.first, POLLIN, 0});
        int timeout = -1;
        if (clients_.empty()) {
            if (!idle)
                idleSince = Clock::now();
            idle = true;
            auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - idleSince).count();
            if (waited >= lingerMs_ && idleAndDrained())
                return;
            timeout = static_cast<int>(std::max<long long>(1, lingerMs_ - waited));
        } else {
            idle = false;
        }
        if (poll(watched.data(), watched.size(), timeout) < 0 && errno != EINTR)
            return;
        for (size_t i = 1; i < watched.size(); ++i)
            if (watched[i].revents)
                serveClient(watched[i].fd);
        if (watched[0].revents & POLLIN)
            acceptClients();
    }
}

/*
 * A client may connect just as the station decides to leave. Holding the
 * start lock keeps new stations from starting while the last connections
 * in the backlog are taken; if one is there, the station stays.
 */
bool Station::idleAndDrained()
{
    int lock = open(stationStartLockPath(desktop_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lock >= 0)
        flock(lock, LOCK_EX);
    acceptClients();
    bool leaving = clients_.empty();
    if (leaving) {
        unlink(stationSocketPath(desktop_).c_str());
        unlink(stationPidPath(desktop_).c_str());
        close(listener_);
    }
    if (lock >= 0)
        close(lock);
    return leaving;
}

void Station::acceptClients()
{
    acceptSameUserPeers(listener_, [this](int fd, pid_t pid) {
        auto client = std::make_unique<Client>();
        client->fd = fd;
        client->pid = pid;
        clients_[fd] = std::move(client);
    });
}

void Station::serveClient(int fd)
{
    auto found = clients_.find(fd);
    if (found == clients_.end())
        return;
    Client& client = *found->second;
    FrameReader::Fill fill = client.reader.fill(fd);
    if (fill == FrameReader::Fill::Closed) {
        dropClient(fd);
        return;
    }
    Frame request;
    while (client.reader.take(request)) {
        if (!handle(client, request)) {
            dropClient(fd);
            return;
        }
    }
    if (client.reader.isCorrupt())
        dropClient(fd);
}

void Station::dropClient(int fd)
{
    auto found = clients_.find(fd);
    if (found == clients_.end())
        return;
    pid_t pid = found->second->pid;
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        Slot& entry = slots_[slot];
        if (entry.used && entry.owner == fd) {
            entry.used = false;
            entry.reuse = nextReuse(entry.reuse);
        }
    }
    close(fd);
    clients_.erase(found);
    bool pidStillHere = std::any_of(clients_.begin(), clients_.end(),
                                    [pid](const auto& entry) { return entry.second->pid == pid; });
    if (!pidStillHere)
        unlink(peerSocketPath(desktop_, pid).c_str());
}

bool Station::handle(Client& client, const Frame& request)
{
    switch (static_cast<Kind>(request.header.kind)) {
    case Kind::Create:
        return create(client, request);
    case Kind::Claim:
        return claim(client, request);
    case Kind::Destroy:
        return destroy(client, request);
    case Kind::Resolve:
        return resolve(client, request);
    case Kind::Find:
        return find(client, request);
    case Kind::Snapshot:
        return snapshot(client, request);
    default:
        return false;
    }
}

bool Station::reply(Client& client, FrameHeader header, const std::vector<char>& payload)
{
    header.magic = frameMagic;
    header.kind = static_cast<uint16_t>(Kind::StationReply);
    header.length = static_cast<uint32_t>(payload.size());
    return writeFrame(client.fd, header, payload.data(), [](int fd) { return waitWritableFor(fd, replyTimeoutMs); });
}

Slot* Station::lookup(uint32_t handle, uint32_t* slotIndex)
{
    uint32_t slot = handle & 0xffff;
    uint32_t reuse = handle >> 16;
    if (slot == 0 || slot == broadcastSlot)
        return nullptr;
    Slot& entry = slots_[slot];
    if (!entry.used || (reuse != 0 && reuse != 0xffff && reuse != entry.reuse))
        return nullptr;
    if (slotIndex)
        *slotIndex = slot;
    return &entry;
}

void Station::occupy(uint32_t slot, Client& client, const Frame& request, uint16_t reuse)
{
    Slot& entry = slots_[slot];
    std::string className, windowName;
    decodeNames(request.payload, className, windowName);
    entry.used = true;
    entry.reuse = reuse;
    entry.owner = client.fd;
    entry.pid = client.pid;
    entry.topLevel = request.header.status & flagTopLevel;
    entry.serial = ++serial_;
    entry.className = std::move(className);
    entry.windowName = std::move(windowName);
}

bool Station::create(Client& client, const Frame& request)
{
    std::string className, windowName;
    if (!decodeNames(request.payload, className, windowName))
        return false;
    FrameHeader answer = answerTo(request, Status::Refused);
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        if (!slots_[slot].used) {
            occupy(slot, client, request, slots_[slot].reuse);
            answer.window = handleOf(slot, slots_[slot]);
            answer.status = static_cast<uint16_t>(Status::Ok);
            break;
        }
    }
    return reply(client, answer);
}

/* A client that outlived a previous station registers its windows again. */
bool Station::claim(Client& client, const Frame& request)
{
    std::string className, windowName;
    if (!decodeNames(request.payload, className, windowName))
        return false;
    uint32_t slot = request.header.window & 0xffff;
    uint16_t reuse = static_cast<uint16_t>(request.header.window >> 16);
    FrameHeader answer = answerTo(request, Status::Refused);
    answer.window = request.header.window;
    if (slot != 0 && slot != broadcastSlot && reuse != 0 && reuse != 0xffff && !slots_[slot].used) {
        occupy(slot, client, request, reuse);
        answer.status = static_cast<uint16_t>(Status::Ok);
    }
    return reply(client, answer);
}

bool Station::destroy(Client& client, const Frame& request)
{
    uint32_t slot = 0;
    Slot* entry = lookup(request.header.window, &slot);
    FrameHeader answer = answerTo(request, Status::NoWindow);
    if (entry && entry->owner == client.fd && handleOf(slot, *entry) == request.header.window) {
        entry->used = false;
        entry->reuse = nextReuse(entry->reuse);
        answer.status = static_cast<uint16_t>(Status::Ok);
    }
    return reply(client, answer);
}

bool Station::resolve(Client& client, const Frame& request)
{
    uint32_t slot = 0;
    Slot* entry = lookup(request.header.window, &slot);
    FrameHeader answer = answerTo(request, entry ? Status::Ok : Status::NoWindow);
    if (entry) {
        answer.window = handleOf(slot, *entry);
        answer.lParam = entry->pid;
    }
    return reply(client, answer);
}

bool Station::find(Client& client, const Frame& request)
{
    std::string className, windowName;
    if (!decodeNames(request.payload, className, windowName))
        return false;
    bool byClass = request.header.status & flagHasClass;
    bool byName = request.header.status & flagHasName;
    FrameHeader answer = answerTo(request, Status::NoWindow);
    uint64_t newest = 0;
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        const Slot& entry = slots_[slot];
        if (!entry.used || !entry.topLevel || entry.serial < newest)
            continue;
        if (byClass && strcasecmp(entry.className.c_str(), className.c_str()) != 0)
            continue;
        if (byName && strcasecmp(entry.windowName.c_str(), windowName.c_str()) != 0)
            continue;
        newest = entry.serial;
        answer.window = handleOf(slot, entry);
        answer.lParam = entry.pid;
        answer.status = static_cast<uint16_t>(Status::Ok);
    }
    return reply(client, answer);
}

bool Station::snapshot(Client& client, const Frame& request)
{
    std::vector<char> payload;
    for (uint32_t slot = 1; slot < broadcastSlot; ++slot) {
        const Slot& entry = slots_[slot];
        if (!entry.used || !entry.topLevel)
            continue;
        uint32_t pair[2] = {handleOf(slot, entry), static_cast<uint32_t>(entry.pid)};
        const char* bytes = reinterpret_cast<const char*>(pair);
        payload.insert(payload.end(), bytes, bytes + sizeof pair);
    }
    return reply(client, answerTo(request, Status::Ok), payload);
}

int lingerMilliseconds()
{
    const char* text = std::getenv("RK_WINSTATION_LINGER_MS");
    if (!text || !*text)
        return defaultLingerMs;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 && value <= 600000 ? static_cast<int>(value) : defaultLingerMs;
}

/* Exactly one station per desktop: the one that holds the station lock. */
bool holdStationLock(const std::string& desktop)
{
    int lock = open(stationLockPath(desktop).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
}

void writeNumberFile(const std::string& path, long number)
{
    std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return;
    std::fprintf(file, "%ld\n", number);
    if (std::fclose(file) == 0)
        std::rename(temporary.c_str(), path.c_str());
}

long readNumberFile(const std::string& path)
{
    long number = 0;
    FILE* file = std::fopen(path.c_str(), "r");
    if (file) {
        if (std::fscanf(file, "%ld", &number) != 1 || number < 0)
            number = 0;
        std::fclose(file);
    }
    return number;
}

/*
 * Windows can outlive a station that was killed, and their owners register
 * them again with the next one. Each station starts its reuse counts
 * further on than the one before, so that a window of the new station does
 * not get the full handle of such a survivor.
 */
uint16_t firstReuseOfThisStation(const std::string& desktop)
{
    std::string path = desktop + "/winstation.generation";
    long generation = readNumberFile(path);
    writeNumberFile(path, (generation + 1) % 0x10000);
    return static_cast<uint16_t>(1 + (generation * 0x100) % 0xfffd);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::string desktop = desktopDirectory();
    if (desktop.empty())
        return 1;
    if (!holdStationLock(desktop))
        return 0;
    int listener = listenUnix(stationSocketPath(desktop));
    if (listener < 0) {
        std::fprintf(stderr, "rkwinstation: cannot listen in %s: %s\n", desktop.c_str(), std::strerror(errno));
        return 1;
    }
    writeNumberFile(stationPidPath(desktop), static_cast<long>(getpid()));
    Station(desktop, listener, lingerMilliseconds(), firstReuseOfThisStation(desktop)).run();
    return 0;
}
