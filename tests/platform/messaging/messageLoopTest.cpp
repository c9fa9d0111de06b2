#include "messagingFixture.h"

using namespace agent;

class MessageLoop : public DesktopTest {};

TEST_F(MessageLoop, GetMessageLoopAnswersSendsAndDispatchesPostsUntilQuit)
{
    AgentProcess& driver = startAgent();
    long long window = 0;
    AgentProcess& looper = startGetMessageAgent("Looper", window);
    ASSERT_GT(window, 0);

    EXPECT_EQ(send(driver, window, msgAdd, 20, 22), 42);
    EXPECT_EQ(driver.ask(command("post", window, msgAdd, 1, 2), "posted"), "posted 1 0");
    EXPECT_FALSE(looper.waitFor(received(window, msgAdd, 1, 2)).empty());
    /* WM_CLOSE destroys the window, whose WM_DESTROY posts the quit */
    EXPECT_EQ(driver.ask(command("post", window, 0x10, 0, 0), "posted"), "posted 1 0");
    EXPECT_EQ(looper.waitFor("quit"), "quit 0 3");
    EXPECT_TRUE(looper.exited());
}

TEST_F(MessageLoop, GetMessageLoopAnswersNestedSendsFromTheProcessItCallsBack)
{
    AgentProcess& driver = startAgent();
    long long driverWindow = createWindow(driver, "Driver", false);
    long long window = 0;
    startGetMessageAgent("Looper", window);

    EXPECT_EQ(send(driver, window, msgCallBack, driverWindow, 8), 1009);
    EXPECT_EQ(send(driver, window, msgNest, driverWindow, 6), 6);
}

class EventBridge : public DesktopTest {};

TEST_F(EventBridge, WakesAPollLoopForAPostFromAnotherProcess)
{
    AgentProcess& sleeper = startAgent();
    AgentProcess& poster = startAgent();
    long long window = createWindow(sleeper, "Sleeper");

    EXPECT_EQ(poster.ask(command("post", window, msgAdd, 3, 4), "posted"), "posted 1 0");
    EXPECT_FALSE(sleeper.waitFor(received(window, msgAdd, 3, 4)).empty());
}

TEST_F(EventBridge, WakesAPollLoopForASendFromAnotherProcess)
{
    AgentProcess& sleeper = startAgent();
    AgentProcess& sender = startAgent();
    long long window = createWindow(sleeper, "Sleeper");

    EXPECT_EQ(send(sender, window, msgAdd, 5, 6), 11);
}

TEST_F(EventBridge, WakesAPollLoopForAPostToItself)
{
    AgentProcess& sleeper = startAgent();
    long long window = createWindow(sleeper, "Sleeper");

    EXPECT_EQ(sleeper.ask(command("post", window, msgAdd, 7, 8), "posted"), "posted 1 0");
    EXPECT_FALSE(sleeper.waitFor(received(window, msgAdd, 7, 8)).empty());
}

TEST_F(EventBridge, DeliversPostsThatArrivedDuringASendAfterwards)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First");
    long long secondWindow = createWindow(second, "Second");

    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(send(first, secondWindow, msgPostThenSend, firstWindow, 0), 7);
        EXPECT_FALSE(first.waitFor(received(firstWindow, msgPosted, 0, 0)).empty()) << round;
    }
}

TEST_F(EventBridge, PostsNeverWaitForAReceiverThatDoesNotRead)
{
    AgentProcess& poster = startAgent();
    AgentProcess& busy = startAgent();
    long long window = createWindow(busy, "Busy");
    long long busyPoster = createWindow(poster, "Poster");
    poster.write(command("post", window, msgHold, 0, 0));
    ASSERT_FALSE(busy.waitFor("holding").empty());

    /* far more than the socket holds */
    EXPECT_EQ(poster.ask("postmany " + std::to_string(window) + " " + std::to_string(msgCount) + " 10000",
                         "postedmany"),
              "postedmany 10000 0");
    EXPECT_EQ(send(poster, busyPoster, msgAdd, 1, 1), 2) << "the poster's own loop still runs";
    busy.write("release");
    long long count = 0;
    for (int i = 0; i < 1000 && count < 10000; ++i)
        count = busy.askNumber("count", "count");
    EXPECT_EQ(count, 10000);
}

/*
 * Posts fill the receiver's ring, then its socket; more posts made while it
 * catches up find room in the ring again, ahead of the socket's backlog.
 * They are still handled in the order they were made.
 */
TEST_F(EventBridge, PostsThatOverflowTheirRingArriveInOrder)
{
    AgentProcess& poster = startAgent();
    AgentProcess& busy = startAgent();
    long long window = createWindow(busy, "Busy");
    ASSERT_EQ(send(poster, window, msgAdd, 1, 1), 2);
    poster.write(command("post", window, msgHold, 0, 0));
    ASSERT_FALSE(busy.waitFor("holding").empty());
    const std::string postMany = "postmany " + std::to_string(window) + " " + std::to_string(msgInOrder) + " 10000";
    EXPECT_EQ(poster.ask(postMany, "postedmany"), "postedmany 10000 0");
    busy.write("release");
    EXPECT_EQ(poster.ask(postMany, "postedmany"), "postedmany 10000 0");
    std::string count;
    for (int i = 0; i < 1000 && numberIn(count) < 20000; ++i)
        count = busy.ask("count", "count");
    EXPECT_EQ(count, "count 20000 0");
}

TEST_F(EventBridge, PostsBeyondTheQuotaFailWhileTheReceiverDoesNotRead)
{
    AgentProcess& poster = startAgent();
    AgentProcess& busy = startAgent();
    long long window = createWindow(busy, "Busy");
    poster.write(command("post", window, msgHold, 0, 0));
    ASSERT_FALSE(busy.waitFor("holding").empty());

    std::string answer = poster.ask("postmany " + std::to_string(window) + " " + std::to_string(msgCount) + " 60000",
                                    "postedmany");
    EXPECT_LT(numberIn(answer), 60000);
    EXPECT_EQ(numberIn(answer, 2), 1816) << answer;
    busy.write("release");
    EXPECT_TRUE(busy.settle());
}
