/*
 * The window station under clients that ask without reading, and a station
 * started after one was killed while windows lived.
 */
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "messagingFixture.h"
#include "wire/rkFrame.h"
#include "wire/rkStationProtocol.h"

using namespace agent;
using rkwire::FrameHeader;
using rkwire::Kind;
using rkwire::Status;

namespace {

/* A client that speaks the station's frames itself, so that it can misbehave. */
class RawStationClient {
public:
    explicit RawStationClient(const std::string& desktop)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, (desktop + "/winstation.sock").c_str(), sizeof address.sun_path - 1);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval limit{10, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~RawStationClient()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    RawStationClient(const RawStationClient&) = delete;
    RawStationClient& operator=(const RawStationClient&) = delete;

    int fd() const { return fd_; }

    /* The bytes of one request, numbered after the ones before. */
    std::vector<char> request(Kind kind, uint32_t window, uint16_t flags = 0, const char* className = nullptr)
    {
        std::vector<char> payload;
        if (className)
            payload = rkwire::encodeNames(className, "");
        FrameHeader header = rkwire::makeHeader(kind, window, 0);
        header.status = flags;
        header.sequence = ++sequence_;
        header.length = static_cast<uint32_t>(payload.size());
        std::vector<char> bytes(reinterpret_cast<const char*>(&header),
                                reinterpret_cast<const char*>(&header) + sizeof header);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        return bytes;
    }

    bool sendBytes(const std::vector<char>& bytes) const
    {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t sent = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            done += static_cast<size_t>(sent);
        }
        return true;
    }

    /* The next answer's header, its payload skipped; kind 0 when none came. */
    FrameHeader readAnswer() const
    {
        FrameHeader header{};
        if (!receive(&header, sizeof header))
            return FrameHeader{};
        std::vector<char> payload(header.length);
        return receive(payload.data(), payload.size()) ? header : FrameHeader{};
    }

    FrameHeader ask(Kind kind, uint32_t window, uint16_t flags = 0, const char* className = nullptr)
    {
        return sendBytes(request(kind, window, flags, className)) ? readAnswer() : FrameHeader{};
    }

    /* True when the station closes the connection within the patience; nothing is read. */
    bool hungUpOn() const
    {
        pollfd entry{fd_, POLLRDHUP, 0};
        return poll(&entry, 1, 10000) == 1 && (entry.revents & (POLLHUP | POLLRDHUP));
    }

private:
    bool receive(void* data, size_t size) const
    {
        size_t done = 0;
        while (done < size) {
            ssize_t got = recv(fd_, static_cast<char*>(data) + done, size - done, 0);
            if (got <= 0)
                return false;
            done += static_cast<size_t>(got);
        }
        return true;
    }

    int fd_ = -1;
    uint64_t sequence_ = 0;
};

/* Creates top-level windows of the class in batches of requests; the last handle, or 0. */
uint32_t createMany(RawStationClient& client, const char* className, int count)
{
    uint32_t last = 0;
    for (int done = 0; done < count; done += 100) {
        std::vector<char> batch;
        for (int i = 0; i < 100; ++i) {
            std::vector<char> one = client.request(Kind::Create, 0, rkwire::flagTopLevel, className);
            batch.insert(batch.end(), one.begin(), one.end());
        }
        if (!client.sendBytes(batch))
            return 0;
        for (int i = 0; i < 100; ++i)
            last = client.readAnswer().window;
    }
    return last;
}

/* Runs the work in a child process and tells whether it exited with 0. */
template <typename Work> bool inChildProcess(Work work)
{
    pid_t child = fork();
    if (child == 0)
        _exit(work() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint32_t slotOf(long long handle) { return static_cast<uint32_t>(handle) & 0xffff; }

} // namespace

class StationUnderLoad : public DesktopTest {
protected:
    void startStation(AgentProcess& agent) { ASSERT_EQ(agent.askNumber("find Nothing", "found"), 0); }
};

TEST_F(StationUnderLoad, DropsClientsThatAskWithoutReadingAndServesEveryoneElseMeanwhile)
{
    startStation(startAgent());
    RawStationClient crowd(desktop_.path());
    uint32_t newest = createMany(crowd, "Crowd", 2000); /* each snapshot answer: 16 KB */
    ASSERT_NE(newest, 0u);
    std::vector<std::unique_ptr<RawStationClient>> hoarders;
    for (int i = 0; i < 16; ++i) {
        hoarders.push_back(std::make_unique<RawStationClient>(desktop_.path()));
        ASSERT_EQ(hoarders.back()->ask(Kind::Resolve, newest).status, static_cast<uint16_t>(Status::Ok));
    }
    AgentProcess& watcher = startAgent();
    ASSERT_EQ(watcher.askNumber("find Crowd", "found"), newest);

    for (auto& hoarder : hoarders) {
        std::vector<char> requests;
        for (int i = 0; i < 100; ++i) {
            std::vector<char> one = hoarder->request(Kind::Snapshot, 0);
            requests.insert(requests.end(), one.begin(), one.end());
        }
        ASSERT_TRUE(hoarder->sendBytes(requests));
    }
    EXPECT_EQ(watcher.askNumber("find Crowd", "found"), newest);
    EXPECT_EQ(watcher.askNumber("iswindow " + std::to_string(newest), "iswindow"), 1);
    for (auto& hoarder : hoarders)
        EXPECT_TRUE(hoarder->hungUpOn());
    EXPECT_EQ(watcher.askNumber("find Crowd", "found"), newest);
}

TEST_F(StationUnderLoad, AClientThatReadsLateGetsEveryAnswerInOrder)
{
    AgentProcess& owner = startAgent();
    long long window = createWindow(owner, "Late");
    RawStationClient late(desktop_.path());
    constexpr int requests = 40000; /* far more than the sockets and the station hold unread */
    std::vector<char> all;
    for (int i = 0; i < requests; ++i) {
        std::vector<char> one = late.request(Kind::Resolve, static_cast<uint32_t>(window));
        all.insert(all.end(), one.begin(), one.end());
    }
    pid_t writer = fork();
    if (writer == 0)
        _exit(late.sendBytes(all) ? 0 : 1);
    AgentProcess& watcher = startAgent();
    EXPECT_EQ(watcher.askNumber("find Late", "found"), window);
    EXPECT_EQ(watcher.askNumber("iswindow " + std::to_string(window), "iswindow"), 1);

    int inOrder = 0;
    for (FrameHeader answer; inOrder < requests; ++inOrder) {
        answer = late.readAnswer();
        if (answer.sequence != static_cast<uint64_t>(inOrder + 1) || answer.window != window)
            break;
    }
    EXPECT_EQ(inOrder, requests);
    int status = 0;
    ASSERT_EQ(waitpid(writer, &status, 0), writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

class StationSuccessor : public StationUnderLoad {};

TEST_F(StationSuccessor, KeepsTheSlotsOfSurvivingWindowsForTheirOwners)
{
    AgentProcess& newcomer = startAgent();
    startStation(newcomer);
    auto first = std::make_unique<RawStationClient>(desktop_.path());
    uint32_t survivor = first->ask(Kind::Create, 0, rkwire::flagTopLevel, "Survivor").window;
    ASSERT_NE(survivor, 0u);
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));
    first.reset();

    long long fresh = createWindow(newcomer, "Fresh");
    ASSERT_GT(fresh, 0);
    EXPECT_NE(slotOf(fresh), slotOf(survivor)) << "a new window got a surviving window's slot";
    EXPECT_EQ(newcomer.askNumber("iswindow " + std::to_string(survivor), "iswindow"), 1);
    std::string path = desktop_.path();
    EXPECT_TRUE(inChildProcess([&] {
        RawStationClient stranger(path);
        return stranger.ask(Kind::Claim, survivor, 0, "Survivor").status == static_cast<uint16_t>(Status::Refused);
    })) << "another process claimed the surviving window's handle";

    RawStationClient owner(desktop_.path());
    EXPECT_EQ(owner.ask(Kind::Claim, survivor, rkwire::flagTopLevel, "Survivor").status,
              static_cast<uint16_t>(Status::Ok));
    EXPECT_EQ(owner.ask(Kind::Resolve, survivor).lParam, getpid());
    EXPECT_EQ(newcomer.askNumber("find Survivor", "found"), survivor);
}

/* A process that got a dead owner's pid is not that owner: the start times differ. */
TEST_F(StationSuccessor, KeepsNoWindowForALaterProcessThatGotItsOwnersPid)
{
    AgentProcess& newcomer = startAgent();
    startStation(newcomer);
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));
    FILE* journal = std::fopen((desktop_.path() + "/winstation.handles").c_str(), "a");
    ASSERT_NE(journal, nullptr);
    /* Slot 7 of this very process, as it was when it started at tick 1 after boot: long ago. */
    std::fprintf(journal, "+ 00050007 %d\n= 00050007 1 1 4f6c64 -\n", static_cast<int>(getpid()));
    std::fclose(journal);

    startStation(newcomer);
    RawStationClient observer(desktop_.path());
    EXPECT_EQ(observer.ask(Kind::Resolve, 0x00050007).status, static_cast<uint16_t>(Status::NoWindow));
    EXPECT_EQ(newcomer.askNumber("find Old", "found"), 0);
}

TEST_F(StationSuccessor, GivesUpTheSlotOfASurvivingWindowOnceItsOwnerHasDied)
{
    AgentProcess& newcomer = startAgent();
    startStation(newcomer);
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    pid_t owner = fork();
    if (owner == 0) {
        RawStationClient client(desktop_.path());
        uint32_t handle = client.ask(Kind::Create, 0, rkwire::flagTopLevel, "Doomed").window;
        if (write(channel[1], &handle, sizeof handle) != sizeof handle)
            _exit(1);
        pause();
        _exit(0);
    }
    close(channel[1]);
    uint32_t doomed = 0;
    ASSERT_EQ(read(channel[0], &doomed, sizeof doomed), static_cast<ssize_t>(sizeof doomed));
    close(channel[0]);
    ASSERT_NE(doomed, 0u);
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));
    kill(owner, SIGKILL);
    ASSERT_EQ(waitpid(owner, nullptr, 0), owner);

    long long first = createWindow(newcomer, "After");
    RawStationClient observer(desktop_.path());
    auto deadline = std::chrono::steady_clock::now() + patience;
    while (observer.ask(Kind::Resolve, doomed).status == static_cast<uint16_t>(Status::Ok) &&
           std::chrono::steady_clock::now() < deadline)
        usleep(10000);
    EXPECT_EQ(observer.ask(Kind::Resolve, doomed).status, static_cast<uint16_t>(Status::NoWindow));
    long long second = createWindow(newcomer, "After");
    EXPECT_TRUE(slotOf(first) == slotOf(doomed) || slotOf(second) == slotOf(doomed)) << "the slot stayed reserved";
    EXPECT_NE(first, doomed);
    EXPECT_NE(second, doomed);
}
