#include <csignal>

#include "messagingFixture.h"

using namespace agent;

class CrossProcessSend : public DesktopTest {};

TEST_F(CrossProcessSend, ReturnsTheAnswerOfTheOtherProcesssWindow)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");
    ASSERT_GT(window, 0);

    EXPECT_EQ(send(sender, window, msgAdd, 40, 2), 42);
    EXPECT_EQ(send(sender, window, msgAdd, 0, -7), -7);
    ASSERT_TRUE(receiver.settle());
    EXPECT_TRUE(receiver.said(received(window, msgAdd, 40, 2)));
}

TEST_F(CrossProcessSend, ThreeProcessesExchangeSendsAndPostsInEveryDirection)
{
    AgentProcess* processes[3] = {&startAgent(), &startAgent(), &startAgent()};
    long long windows[3];
    for (int i = 0; i < 3; ++i)
        windows[i] = createWindow(*processes[i], "Party" + std::to_string(i));
    for (int from = 0; from < 3; ++from) {
        for (int to = 0; to < 3; ++to) {
            EXPECT_EQ(send(*processes[from], windows[to], msgAdd, from, 10 * to), from + 10 * to);
            EXPECT_EQ(processes[from]->ask(command("post", windows[to], msgAdd, 100 + from, to), "posted"),
                      "posted 1 0");
            EXPECT_FALSE(processes[to]->waitFor(received(windows[to], msgAdd, 100 + from, to)).empty())
                << from << " posting to " << to;
        }
    }
}

TEST_F(CrossProcessSend, DispatchesASendBackIntoTheWaitingSender)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First", false);
    long long secondWindow = createWindow(second, "Second", false);

    /* second answers by sending msgAdd(5, 1) back to first, which is still waiting */
    EXPECT_EQ(send(first, secondWindow, msgCallBack, firstWindow, 5), 1006);
    EXPECT_TRUE(first.said(received(firstWindow, msgAdd, 5, 1)));
}

TEST_F(CrossProcessSend, UnwindsDeeplyNestedSendsInBothDirections)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First", false);
    long long secondWindow = createWindow(second, "Second", false);

    EXPECT_EQ(send(first, secondWindow, msgNest, firstWindow, 20), 20);
    ASSERT_TRUE(second.settle());
    EXPECT_TRUE(first.said(received(firstWindow, msgNest, secondWindow, 1)));
    EXPECT_TRUE(second.said(received(secondWindow, msgNest, firstWindow, 0)));
}

TEST_F(CrossProcessSend, NestsAcrossThreeProcesses)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    AgentProcess& third = startAgent();
    long long firstWindow = createWindow(first, "First");
    long long secondWindow = createWindow(second, "Second");
    long long thirdWindow = createWindow(third, "Third");

    /* first -> second -> third -> back into first, all waiting */
    EXPECT_EQ(send(first, secondWindow, msgForward, firstWindow, thirdWindow), 1021);
    EXPECT_TRUE(first.said(received(firstWindow, msgAdd, 20, 1)));
}

TEST_F(CrossProcessSend, LeavesPostedMessagesQueuedUntilTheSendReturns)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First");
    long long secondWindow = createWindow(second, "Second");

    EXPECT_EQ(send(first, secondWindow, msgPostThenSend, firstWindow, 0), 7);
    ASSERT_FALSE(first.waitFor(received(firstWindow, msgPosted, 0, 0)).empty());
    const std::vector<std::string>& lines = first.transcript();
    auto sent = std::find(lines.begin(), lines.end(), received(firstWindow, msgSent, 0, 0));
    auto result = std::find(lines.begin(), lines.end(), "result 7");
    auto posted = std::find(lines.begin(), lines.end(), received(firstWindow, msgPosted, 0, 0));
    EXPECT_LT(sent, result);
    EXPECT_LT(result, posted);
}

TEST_F(CrossProcessSend, AnswersZeroForAWindowThatDoesNotExist)
{
    AgentProcess& sender = startAgent();
    createWindow(sender, "Own");
    EXPECT_EQ(send(sender, 0x00070042, msgAdd, 1, 1), 0);
    EXPECT_EQ(sender.ask("post 458818 32769 1 1", "posted"), "posted 0 1400");
}

TEST_F(CrossProcessSend, AnswersZeroPromptlyWhenTheReceiverIsKilledWhileTheSenderWaits)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    sender.write(command("send", window, msgHold, 0, 0));
    ASSERT_FALSE(receiver.waitFor("holding").empty());
    receiver.kill(SIGKILL);
    EXPECT_EQ(numberIn(sender.waitFor("result", std::chrono::seconds(5))), 0);
    EXPECT_EQ(sender.askNumber("iswindow " + std::to_string(window), "iswindow"), 0);
}

TEST_F(CrossProcessSend, ReceiverSurvivesASenderThatDiedBeforeTheAnswer)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    sender.write(command("send", window, msgHold, 0, 0));
    ASSERT_FALSE(receiver.waitFor("holding").empty());
    sender.kill(SIGKILL);
    ASSERT_TRUE(sender.exited());
    receiver.write("release");
    EXPECT_TRUE(receiver.settle());

    AgentProcess& another = startAgent();
    EXPECT_EQ(send(another, window, msgAdd, 2, 2), 4);
}
