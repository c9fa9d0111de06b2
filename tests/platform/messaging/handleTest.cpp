#include "messagingFixture.h"

using namespace agent;

class WindowHandles : public DesktopTest {};

TEST_F(WindowHandles, ReachTheWindowByTheirLow16BitsAlone)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver", false);
    long long slot = window & 0xffff;
    ASSERT_NE(window, slot) << "a full handle carries a reuse count";

    EXPECT_EQ(send(sender, slot, msgAdd, 1, 2), 3);
    EXPECT_EQ(send(sender, slot | 0xffff0000ll, msgAdd, 3, 4), 7);
    EXPECT_EQ(sender.askNumber("iswindow " + std::to_string(slot), "iswindow"), 1);
}

TEST_F(WindowHandles, StayDeadAfterTheirWindowIsDestroyedEvenWhenTheSlotIsReused)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long stale = createWindow(receiver, "Receiver");
    EXPECT_EQ(send(sender, stale, msgAdd, 1, 1), 2); /* the sender now knows where it lives */
    EXPECT_EQ(receiver.ask("destroy " + std::to_string(stale), "destroyed"), "destroyed 1");
    long long successor = createWindow(receiver, "Receiver");
    ASSERT_EQ(successor & 0xffff, stale & 0xffff) << "the freed slot is taken again";
    ASSERT_NE(successor, stale);

    EXPECT_EQ(send(sender, stale, msgAdd, 1, 1), 0);
    EXPECT_EQ(sender.askNumber("iswindow " + std::to_string(stale), "iswindow"), 0);
    EXPECT_EQ(send(sender, successor, msgAdd, 2, 2), 4);
    EXPECT_EQ(send(sender, stale & 0xffff, msgAdd, 3, 3), 6);
    ASSERT_TRUE(receiver.settle());
    EXPECT_TRUE(receiver.said(received(successor, msgAdd, 3, 3)));
}

TEST_F(WindowHandles, SlotOnlyHandlesFollowTheSlotToItsNextWindow)
{
    AgentProcess& sender = startAgent();
    AgentProcess& firstOwner = startAgent();
    AgentProcess& secondOwner = startAgent();
    long long first = createWindow(firstOwner, "Owner");
    long long slot = first & 0xffff;
    EXPECT_EQ(send(sender, slot, msgAdd, 1, 0), 1);
    firstOwner.ask("destroy " + std::to_string(first), "destroyed");
    long long second = createWindow(secondOwner, "Owner");
    ASSERT_EQ(second & 0xffff, slot);

    EXPECT_EQ(send(sender, slot, msgAdd, 5, 0), 5);
    ASSERT_TRUE(secondOwner.settle());
    EXPECT_TRUE(secondOwner.said(received(second, msgAdd, 5, 0)));
}

TEST_F(WindowHandles, BroadcastHandleIsNeverAWindow)
{
    AgentProcess& owner = startAgent();
    createWindow(owner, "Owner");
    EXPECT_EQ(owner.askNumber("iswindow 65535", "iswindow"), 0);
    EXPECT_EQ(owner.askNumber("iswindow 0", "iswindow"), 0);
}
