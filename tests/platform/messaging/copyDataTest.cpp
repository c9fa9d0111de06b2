#include "messagingFixture.h"

using namespace agent;

class CopyData : public DesktopTest, public ::testing::WithParamInterface<unsigned long> {};

TEST_P(CopyData, CarriesTheTagTheSizeAndEveryByte)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver", false);
    unsigned long size = GetParam();
    std::vector<unsigned char> bytes = patternBytes(size);
    uint32_t hash = hashBytes(bytes.data(), bytes.size());

    long long answer = sender.askNumber("copydata " + std::to_string(window) + " " + std::to_string(size) + " 4660",
                                        "result");
    EXPECT_EQ(answer, static_cast<long long>(hash & 0x7fffffff));
    EXPECT_FALSE(receiver.waitFor("copydata 4660 " + std::to_string(size) + " " + std::to_string(hash)).empty());
}

INSTANTIATE_TEST_SUITE_P(Sizes, CopyData, ::testing::Values(0ul, 16ul, 512ul, 1024ul * 1024ul));

class CopyDataRules : public DesktopTest {};

TEST_F(CopyDataRules, CannotBePosted)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    EXPECT_EQ(sender.ask(command("post", window, 0x4a, 0, 0), "posted"), "posted 0 1159");
    EXPECT_EQ(sender.ask(command("post", 0xffff, 0x4a, 0, 0), "posted"), "posted 0 1159");
}

TEST_F(CopyDataRules, ReachesTheSendersOwnWindowThroughABroadcast)
{
    AgentProcess& sender = startAgent();
    AgentProcess& other = startAgent();
    createWindow(sender, "Own");
    createWindow(other, "Other");
    std::vector<unsigned char> bytes = patternBytes(16);
    std::string expected = "copydata 7 16 " + std::to_string(hashBytes(bytes.data(), bytes.size()));

    EXPECT_EQ(sender.askNumber("copydata 65535 16 7", "result"), 1);
    EXPECT_FALSE(sender.waitFor(expected).empty());
    EXPECT_FALSE(other.waitFor(expected).empty());
}

TEST_F(CopyDataRules, LargeBlocksSentBothWaysAtOnceOverOneConnectionDoNotDeadlock)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First", false);
    long long secondWindow = createWindow(second, "Second", false);
    /* first connects to second; second then answers and sends over that same connection */
    ASSERT_EQ(send(first, secondWindow, msgCallBack, firstWindow, 1), 1002);
    const unsigned long size = 4ul * 1024ul * 1024ul;
    std::vector<unsigned char> bytes = patternBytes(size);
    long long expected = hashBytes(bytes.data(), bytes.size()) & 0x7fffffff;

    first.write("copydata " + std::to_string(secondWindow) + " " + std::to_string(size) + " 1");
    second.write("copydata " + std::to_string(firstWindow) + " " + std::to_string(size) + " 2");
    EXPECT_EQ(numberIn(first.waitFor("result")), expected);
    EXPECT_EQ(numberIn(second.waitFor("result")), expected);
}
