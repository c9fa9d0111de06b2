#include "messagingFixture.h"

using namespace agent;

class Broadcast : public DesktopTest {
protected:
    void SetUp() override
    {
        sender_ = &startAgent();
        other_ = &startAgent();
        senderTop_ = createWindow(*sender_, "SenderTop");
        senderHidden_ = createWindow(*sender_, "SenderHidden", false);
        otherTop_ = createWindow(*other_, "OtherTop");
        otherHidden_ = createWindow(*other_, "OtherHidden", false);
    }

    AgentProcess* sender_ = nullptr;
    AgentProcess* other_ = nullptr;
    long long senderTop_ = 0, senderHidden_ = 0, otherTop_ = 0, otherHidden_ = 0;
};

TEST_F(Broadcast, SendReachesEveryTopLevelWindowButNoMessageOnlyWindow)
{
    EXPECT_EQ(send(*sender_, 0xffff, msgRegistered, senderHidden_, 9), 1);
    ASSERT_TRUE(other_->settle());
    EXPECT_TRUE(sender_->said(received(senderTop_, msgRegistered, senderHidden_, 9)));
    EXPECT_TRUE(other_->said(received(otherTop_, msgRegistered, senderHidden_, 9)));
    EXPECT_FALSE(sender_->said(received(senderHidden_, msgRegistered, senderHidden_, 9)));
    EXPECT_FALSE(other_->said(received(otherHidden_, msgRegistered, senderHidden_, 9)));
}

TEST_F(Broadcast, SystemMessagesAreBroadcastToo)
{
    EXPECT_EQ(send(*sender_, 0xffff, 0x0300, senderHidden_, 0), 1);
    ASSERT_TRUE(other_->settle());
    EXPECT_TRUE(other_->said(received(otherTop_, 0x0300, senderHidden_, 0)));
}

TEST_F(Broadcast, ApplicationMessagesReachNobodyAndStillAnswerTrue)
{
    for (unsigned message : {0x7efu, 0x400u, 0xbfffu}) {
        EXPECT_EQ(send(*sender_, 0xffff, message, senderHidden_, 0), 1) << message;
        EXPECT_EQ(sender_->ask(command("post", 0xffff, message, 0, 0), "posted"), "posted 1 0") << message;
    }
    ASSERT_TRUE(sender_->settle());
    ASSERT_TRUE(other_->settle());
    for (const AgentProcess* party : {sender_, other_})
        for (const std::string& line : party->transcript())
            EXPECT_NE(line.rfind("recv", 0), 0u) << line;
}

TEST_F(Broadcast, PostReachesEveryTopLevelWindowButNoMessageOnlyWindow)
{
    EXPECT_EQ(sender_->ask(command("post", 0xffff, msgRegistered, 1, 2), "posted"), "posted 1 0");
    EXPECT_FALSE(sender_->waitFor(received(senderTop_, msgRegistered, 1, 2)).empty());
    EXPECT_FALSE(other_->waitFor(received(otherTop_, msgRegistered, 1, 2)).empty());
    ASSERT_TRUE(sender_->settle());
    ASSERT_TRUE(other_->settle());
    EXPECT_FALSE(sender_->said(received(senderHidden_, msgRegistered, 1, 2)));
    EXPECT_FALSE(other_->said(received(otherHidden_, msgRegistered, 1, 2)));
}
