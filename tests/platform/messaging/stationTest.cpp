#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "messagingFixture.h"

using namespace agent;

namespace {

int connectTo(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* True when the other side closes the connection within the patience. */
bool closedByPeer(int fd)
{
    timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    ssize_t got;
    while ((got = recv(fd, &byte, 1, 0)) > 0) {
    }
    return got == 0 || (got < 0 && errno == ECONNRESET);
}

bool sendBytes(int fd, const void* data, size_t size)
{
    return send(fd, data, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

/* A frame header: magic, kind, status, length, window, sequence, message, reserved, wParam, lParam. */
struct RawHeader {
    uint32_t magic = 0x314d4b52;
    uint16_t kind = 1;
    uint16_t status = 0;
    uint32_t length = 0;
    uint32_t window = 0;
    uint64_t sequence = 1;
    uint32_t message = 0x8001;
    uint32_t reserved = 0;
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

} // namespace

class WindowStation : public DesktopTest {};

TEST_F(WindowStation, KilledStationHangsNobodyAndWindowsCreatedAfterwardsWork)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long before = createWindow(first, "Before");
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));

    long long after = createWindow(first, "After");
    ASSERT_GT(after, 0);
    EXPECT_EQ(second.askNumber("find After", "found"), after);
    EXPECT_EQ(send(second, after, msgAdd, 1, 2), 3);
    EXPECT_EQ(second.askNumber("find Before", "found"), before) << "windows outlive their station";
    EXPECT_EQ(send(second, before, msgAdd, 3, 4), 7);
}

/* Until its owner claims it from the next station, a window is still one to everyone, and no longer once the owner dies. */
TEST_F(WindowStation, AWindowNotYetClaimedAgainIsFoundAndReachedAndGoesWithItsOwner)
{
    agents_.push_back(desktop_.start({"--claim-delay", "60000"}));
    AgentProcess& owner = *agents_.back();
    ASSERT_FALSE(owner.waitFor("ready").empty());
    AgentProcess& other = startAgent();
    long long window = createWindow(owner, "Unclaimed");
    ASSERT_EQ(other.askNumber("find Unclaimed", "found"), window);
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));

    std::string isWindow = "iswindow " + std::to_string(window);
    EXPECT_EQ(other.askNumber(isWindow, "iswindow"), 1);
    EXPECT_EQ(other.askNumber("find Unclaimed", "found"), window);
    EXPECT_EQ(send(other, window, msgAdd, 1, 2), 3);
    owner.kill(SIGKILL);
    ASSERT_TRUE(owner.exited());
    EXPECT_EQ(other.askNumber(isWindow, "iswindow"), 0);
}

TEST_F(WindowStation, NextStationNeverHandsOutTheFullHandleOfASurvivingWindow)
{
    AgentProcess& survivorOwner = startAgent();
    AgentProcess& newcomer = startAgent();
    long long survivor = createWindow(survivorOwner, "Survivor");
    ASSERT_TRUE(desktop_.stopStation(SIGKILL));

    long long fresh = createWindow(newcomer, "Fresh");
    ASSERT_GT(fresh, 0);
    EXPECT_NE(fresh, survivor);
    EXPECT_EQ(send(newcomer, survivor, msgAdd, 1, 1), 2) << "the survivor's window is not reachable under its handle";
    EXPECT_EQ(send(survivorOwner, fresh, msgAdd, 2, 2), 4);
}

TEST_F(WindowStation, ProcessesRacingToStartItLeaveExactlyOne)
{
    std::vector<AgentProcess*> racers;
    for (int i = 0; i < 4; ++i)
        racers.push_back(&startAgent());
    for (size_t i = 0; i < racers.size(); ++i)
        racers[i]->write("create Racer" + std::to_string(i) + " top");
    std::vector<long long> windows;
    for (AgentProcess* racer : racers)
        windows.push_back(numberIn(racer->waitFor("window")));
    for (size_t i = 0; i < racers.size(); ++i) {
        EXPECT_GT(windows[i], 0);
        EXPECT_EQ(racers[0]->askNumber("find Racer" + std::to_string(i), "found"), windows[i]);
    }
}

TEST_F(WindowStation, LeavesAFewSecondsAfterItsLastClientAndFreesTheirWindowsAtOnce)
{
    AgentProcess& keeper = startAgent();
    AgentProcess& leaver = startAgent();
    long long window = createWindow(leaver, "Leaver");
    ASSERT_EQ(keeper.askNumber("iswindow " + std::to_string(window), "iswindow"), 1);
    leaver.kill(SIGKILL);
    ASSERT_TRUE(leaver.exited());
    EXPECT_EQ(keeper.askNumber("find Leaver", "found"), 0);
    ASSERT_TRUE(desktop_.stationRunning());

    keeper.write("exit");
    ASSERT_TRUE(keeper.exited());
    EXPECT_TRUE(desktop_.waitForStationToLeave());
}

TEST_F(WindowStation, RefusesAConnectionFromAnotherUser)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    AgentProcess& owner = startAgent();
    createWindow(owner, "Owner");
    /* Open the directory so that only the credential check stands in the way. */
    ASSERT_EQ(chmod(desktop_.path().c_str(), 0755), 0);
    std::string station = desktop_.path() + "/winstation.sock";
    std::string peer = desktop_.path() + "/peer-" + std::to_string(owner.pid()) + ".sock";
    ASSERT_EQ(chmod(station.c_str(), 0666), 0);
    ASSERT_EQ(chmod(peer.c_str(), 0666), 0);

    pid_t child = fork();
    if (child == 0) {
        if (setgid(65534) != 0 || setuid(65534) != 0)
            _exit(2);
        RawHeader header;
        header.kind = 19; /* resolve */
        for (const std::string& path : {station, peer}) {
            int fd = connectTo(path);
            if (fd < 0)
                _exit(3);
            sendBytes(fd, &header, sizeof header);
            if (!closedByPeer(fd))
                _exit(4);
            close(fd);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    chmod(desktop_.path().c_str(), 0700);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    EXPECT_TRUE(owner.settle());
}

class MalformedFrames : public DesktopTest {
protected:
    void SetUp() override
    {
        owner_ = &startAgent();
        client_ = &startAgent();
        window_ = createWindow(*owner_, "Owner");
        ASSERT_EQ(send(*client_, window_, msgAdd, 1, 1), 2);
    }

    /* Sends bytes on a fresh connection and expects the receiver to hang up, then still serve others. */
    void expectRefused(const std::string& socketName, const void* bytes, size_t size)
    {
        int fd = connectTo(desktop_.path() + "/" + socketName);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(sendBytes(fd, bytes, size));
        EXPECT_TRUE(closedByPeer(fd));
        close(fd);
        EXPECT_EQ(send(*client_, window_, msgAdd, 2, 3), 5);
        EXPECT_EQ(client_->askNumber("find Owner", "found"), window_);
    }

    std::string peerSocket() const { return "peer-" + std::to_string(owner_->pid()) + ".sock"; }

    AgentProcess* owner_ = nullptr;
    AgentProcess* client_ = nullptr;
    long long window_ = 0;
};

TEST_F(MalformedFrames, WithAWrongMagicCloseTheirConnection)
{
    RawHeader header;
    header.magic = 0x12345678;
    header.window = static_cast<uint32_t>(window_);
    expectRefused(peerSocket(), &header, sizeof header);
    expectRefused("winstation.sock", &header, sizeof header);
}

TEST_F(MalformedFrames, ThatAnnounceAnOversizedPayloadCloseTheirConnection)
{
    RawHeader header;
    header.window = static_cast<uint32_t>(window_);
    header.message = 0x4a;
    header.length = 0x7fffffff;
    expectRefused(peerSocket(), &header, sizeof header);
    header.kind = 20; /* find */
    expectRefused("winstation.sock", &header, sizeof header);
}

TEST_F(MalformedFrames, OfAnUnknownKindCloseTheirConnection)
{
    RawHeader header;
    header.kind = 99;
    expectRefused(peerSocket(), &header, sizeof header);
    expectRefused("winstation.sock", &header, sizeof header);
}

TEST_F(MalformedFrames, ThatPostCopyDataCloseTheirConnection)
{
    RawHeader header;
    header.kind = 2;
    header.message = 0x4a;
    header.window = static_cast<uint32_t>(window_);
    expectRefused(peerSocket(), &header, sizeof header);
}

TEST_F(MalformedFrames, WithAPayloadOnAPlainMessageCloseTheirConnection)
{
    struct {
        RawHeader header;
        char payload[8] = "payload";
    } frame;
    frame.header.window = static_cast<uint32_t>(window_);
    frame.header.length = sizeof frame.payload;
    expectRefused(peerSocket(), &frame, sizeof frame);
}

TEST_F(MalformedFrames, CutOffMidFrameDoNotDisturbTheReceiver)
{
    RawHeader header;
    header.window = static_cast<uint32_t>(window_);
    header.message = 0x4a;
    header.length = 4096;
    int fd = connectTo(desktop_.path() + "/" + peerSocket());
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendBytes(fd, &header, sizeof header));
    ASSERT_TRUE(sendBytes(fd, "partial", 7));
    close(fd);
    EXPECT_EQ(send(*client_, window_, msgAdd, 4, 4), 8);
    ASSERT_TRUE(owner_->settle());
    for (const std::string& line : owner_->transcript())
        EXPECT_EQ(line.find("copydata"), std::string::npos) << line;
}

TEST_F(WindowStation, ThatCannotBeStartedFailsWindowCreationAndNothingElse)
{
    setenv("RK_WINSTATION", (desktop_.path() + "/missing-station").c_str(), 1);
    AgentProcess& lonely = startAgent();
    unsetenv("RK_WINSTATION");

    EXPECT_EQ(createWindow(lonely, "Lonely"), 0);
    EXPECT_EQ(lonely.askNumber("find Lonely", "found"), 0);
    EXPECT_TRUE(lonely.settle());
}
