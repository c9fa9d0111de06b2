/*
 * Peers that break the rules of the wire: they pipeline sends and never
 * read, announce frames they never send, or stop while others write to
 * them. The process they talk to stays up and serves everyone else.
 */
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "messagingFixture.h"
#include "wire/rkChannel.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

using namespace agent;

namespace {

constexpr unsigned long largeCopy = 8u << 20;
constexpr unsigned setText = 0x000C; /* WM_SETTEXT: lParam is the address of a string */

int connectToPeer(const PrivateDesktop& desktop, pid_t pid)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/peer-%d.sock", desktop.path().c_str(),
                  static_cast<int>(pid));
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Resident memory of a process in KiB, or -1. */
long residentKiB(pid_t pid)
{
    FILE* status = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
    if (!status)
        return -1;
    long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
            break;
    std::fclose(status);
    return kib;
}

/* True when the peer closes fd within the bound, whatever it wrote before. */
bool closedByPeer(int fd)
{
    char bytes[4096];
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        if (poll(&entry, 1, 10000) != 1)
            return false;
        const ssize_t got = recv(fd, bytes, sizeof bytes, 0);
        if (got <= 0)
            return got == 0 || errno == ECONNRESET;
    }
}

/* Offers segment as the channel of connection fd, as the side that connected does. */
bool offerSegment(int fd, int segment)
{
    rkwire::FrameHeader offer = rkwire::makeHeader(rkwire::Kind::Channel, 0, 0);
    offer.serial = 1;
    return rkwire::sendHeaderWithDescriptor(fd, offer, segment) == long(sizeof offer);
}

bool sendHeader(int fd, const rkwire::FrameHeader& header)
{
    return ::send(fd, &header, sizeof header, MSG_NOSIGNAL) == ssize_t(sizeof header);
}

/* The next header from fd; zeros when none came within the bound. */
rkwire::FrameHeader receiveHeader(int fd)
{
    rkwire::FrameHeader header{};
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 10000) == 1)
        EXPECT_EQ(recv(fd, &header, sizeof header, MSG_WAITALL), ssize_t(sizeof header));
    else
        ADD_FAILURE() << "no header came";
    return header;
}

} // namespace

class HostilePeer : public DesktopTest {
protected:
    /* Polls the agent's count of msgCount posts until it reaches wanted. */
    static bool countReaches(AgentProcess& agent, long long wanted)
    {
        auto deadline = std::chrono::steady_clock::now() + patience;
        while (agent.askNumber("count", "count") < wanted)
            if (std::chrono::steady_clock::now() > deadline)
                return false;
        return true;
    }

    static void expectCrossedCopiesFinish(AgentProcess& left, long long leftWindow, AgentProcess& right,
                                          long long rightWindow)
    {
        left.write("copydata " + std::to_string(rightWindow) + " " + std::to_string(largeCopy));
        right.write("copydata " + std::to_string(leftWindow) + " " + std::to_string(largeCopy));
        EXPECT_NE(left.waitFor("result"), "");
        EXPECT_NE(right.waitFor("result"), "");
        EXPECT_NE(left.waitFor("copydata 0 " + std::to_string(largeCopy)), "");
        EXPECT_NE(right.waitFor("copydata 0 " + std::to_string(largeCopy)), "");
    }
};

TEST_F(HostilePeer, ThatPipelinesSendsAndNeverReadsIsCutOffWhileOthersAreServed)
{
    AgentProcess& target = startAgent();
    AgentProcess& bystander = startAgent();
    long long window = createWindow(target, "Target");
    int fd = connectToPeer(desktop_, target.pid());
    ASSERT_GE(fd, 0);
    /* msgCount: the target says nothing on stdout for it, so only the socket can back up. */
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Send, static_cast<uint32_t>(window), msgCount);
    std::string burst;
    for (int i = 0; i < 1000; ++i) {
        header.sequence = i + 1;
        burst.append(reinterpret_cast<const char*>(&header), sizeof header);
    }
    /* Its replies pile up until the target gives up on it and closes the connection. */
    bool cutOff = false;
    for (int round = 0; round < 200 && !cutOff; ++round)
        cutOff = ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL) < 0;
    close(fd);
    EXPECT_TRUE(cutOff) << "a peer that never read its replies was served without bound";
    EXPECT_EQ(send(bystander, window, msgAdd, 2, 3), 5);
}

TEST_F(HostilePeer, AnnouncingHugeFramesCommitsNoMemoryForThem)
{
    AgentProcess& target = startAgent();
    long long window = createWindow(target, "Target");
    long before = residentKiB(target.pid());
    ASSERT_GT(before, 0);
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Send, static_cast<uint32_t>(window), WM_COPYDATA);
    header.length = rkwire::maxCopyDataBytes;
    std::vector<int> connections;
    for (int i = 0; i < 8; ++i) {
        int fd = connectToPeer(desktop_, target.pid());
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::send(fd, &header, sizeof header, MSG_NOSIGNAL), ssize_t(sizeof header));
        ASSERT_EQ(::send(fd, "x", 1, MSG_NOSIGNAL), 1);
        connections.push_back(fd);
    }
    AgentProcess& bystander = startAgent();
    EXPECT_EQ(send(bystander, window, msgAdd, 1, 1), 2) << "the target read the announcements";
    EXPECT_LT(residentKiB(target.pid()) - before, 32 * 1024) << "memory went to bytes that never came";
    for (int fd : connections)
        close(fd);
}

TEST_F(HostilePeer, PostsArriveWhileTheirReceiverWritesToAStoppedProcess)
{
    AgentProcess& writer = startAgent();
    AgentProcess& poster = startAgent();
    AgentProcess& stopped = startAgent();
    long long writerWindow = createWindow(writer, "Writer");
    long long stoppedWindow = createWindow(stopped, "Stopped");
    stopped.kill(SIGSTOP);
    writer.write("copydata " + std::to_string(stoppedWindow) + " " + std::to_string(largeCopy));
    EXPECT_EQ(poster.ask("postmany " + std::to_string(writerWindow) + " " + std::to_string(msgCount) + " 20000",
                         "postedmany"),
              "postedmany 20000 0");
    stopped.kill(SIGCONT);
    EXPECT_NE(writer.waitFor("result"), "");
    EXPECT_TRUE(countReaches(writer, 20000));
}

TEST_F(HostilePeer, TwoProcessesWritingLargeFramesToEachOtherBothFinish)
{
    AgentProcess& left = startAgent();
    AgentProcess& right = startAgent();
    long long leftWindow = createWindow(left, "Left");
    long long rightWindow = createWindow(right, "Right");
    ASSERT_EQ(left.ask(command("post", rightWindow, msgCount, 0, 0), "posted"), "posted 1 0");
    expectCrossedCopiesFinish(left, leftWindow, right, rightWindow);
}

/* Each connects to the other and fills its socket before either has accepted. */
TEST_F(HostilePeer, TwoProcessesThatNeverTalkedWritingLargeFramesToEachOtherBothFinish)
{
    AgentProcess& left = startAgent();
    AgentProcess& right = startAgent();
    long long leftWindow = createWindow(left, "Left");
    long long rightWindow = createWindow(right, "Right");
    expectCrossedCopiesFinish(left, leftWindow, right, rightWindow);
}

TEST_F(HostilePeer, PostingAnAddressParameterReachesNoProcedure)
{
    AgentProcess& target = startAgent();
    long long window = createWindow(target, "Target");
    int fd = connectToPeer(desktop_, target.pid());
    ASSERT_GE(fd, 0);
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Post, static_cast<uint32_t>(window), setText);
    header.lParam = 8;
    ASSERT_EQ(::send(fd, &header, sizeof header, MSG_NOSIGNAL), ssize_t(sizeof header));
    header.message = msgAdd;
    ASSERT_EQ(::send(fd, &header, sizeof header, MSG_NOSIGNAL), ssize_t(sizeof header));
    EXPECT_NE(target.waitFor(received(window, msgAdd, 0, 8)), "");
    ASSERT_TRUE(target.settle());
    EXPECT_FALSE(target.said(received(window, setText, 0, 8)));
    close(fd);
}

TEST_F(HostilePeer, ThatScribblesOverItsChannelIsCutOffWhileOthersAreServed)
{
    if (!rkwin::channelsWanted())
        GTEST_SKIP() << "the shared-memory channel is switched off";
    AgentProcess& target = startAgent();
    AgentProcess& bystander = startAgent();
    long long window = createWindow(target, "Target");
    int fd = connectToPeer(desktop_, target.pid());
    ASSERT_GE(fd, 0);
    int segment = -1;
    std::unique_ptr<rkwin::Channel> channel = rkwin::Channel::create(segment);
    ASSERT_TRUE(channel);
    struct stat status {};
    ASSERT_EQ(fstat(segment, &status), 0);
    void* shared = mmap(nullptr, status.st_size, PROT_READ | PROT_WRITE, MAP_SHARED, segment, 0);
    ASSERT_NE(shared, MAP_FAILED);
    ASSERT_TRUE(offerSegment(fd, segment));
    close(segment);
    EXPECT_EQ(receiveHeader(fd).kind, uint16_t(rkwire::Kind::ChannelAccept));

    std::memset(shared, 0xa5, status.st_size);
    /* The bell wakes a target asleep; one still watching its rings may have cut us off already. */
    sendHeader(fd, rkwire::makeHeader(rkwire::Kind::Wake, 0, 0));
    EXPECT_TRUE(closedByPeer(fd)) << "a channel of garbage was read on";
    close(fd);
    munmap(shared, status.st_size);
    EXPECT_EQ(send(bystander, window, msgAdd, 2, 3), 5);
}

TEST_F(HostilePeer, ThatOffersAShrinkableSegmentIsServedThroughItsSocket)
{
    AgentProcess& target = startAgent();
    long long window = createWindow(target, "Target");
    int fd = connectToPeer(desktop_, target.pid());
    ASSERT_GE(fd, 0);
    int segment = memfd_create("unsealed", MFD_CLOEXEC);
    ASSERT_GE(segment, 0);
    ASSERT_EQ(ftruncate(segment, 1 << 20), 0);
    ASSERT_TRUE(offerSegment(fd, segment));
    close(segment);

    rkwire::FrameHeader add = rkwire::makeHeader(rkwire::Kind::Send, static_cast<uint32_t>(window), msgAdd);
    add.sequence = 1;
    add.serial = 2;
    add.wParam = 20;
    add.lParam = 22;
    ASSERT_TRUE(sendHeader(fd, add));
    rkwire::FrameHeader reply = receiveHeader(fd);
    EXPECT_EQ(reply.kind, uint16_t(rkwire::Kind::Reply)) << "the offer was taken up";
    EXPECT_EQ(reply.lParam, 42);
    close(fd);
}
