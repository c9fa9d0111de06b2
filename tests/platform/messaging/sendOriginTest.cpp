/* InSendMessage and InSendMessageEx: whether another process sent the message being handled. */
#include "messagingFixture.h"
#include "rkwin.h"

using namespace agent;

namespace {

/* What an agent says for InSendMessageEx and InSendMessage. */
std::string origin(const char* prefix, DWORD flags, BOOL inSend)
{
    return std::string(prefix) + " " + std::to_string(flags) + " " + std::to_string(inSend);
}

const std::string sentByAnother = origin("insend", ISMEX_SEND, TRUE);
const std::string notSent = origin("insend", ISMEX_NOSEND, FALSE);

} // namespace

class SendOrigin : public DesktopTest {};

TEST_F(SendOrigin, ReportsAMessageFromAnotherProcessAsSentAndForgetsItOnceAnswered)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    EXPECT_EQ(send(sender, window, msgAskOrigin, 0, 0), ISMEX_SEND);
    EXPECT_EQ(receiver.waitFor("insend"), sentByAnother);
    EXPECT_EQ(receiver.ask("insend", "insend"), notSent);
}

TEST_F(SendOrigin, ReportsASendWithinTheProcessAsNotSent)
{
    AgentProcess& owner = startAgent();
    long long window = createWindow(owner, "Own");

    EXPECT_EQ(send(owner, window, msgAskOrigin, 0, 0), ISMEX_NOSEND);
    EXPECT_EQ(owner.waitFor("insend"), notSent);
}

TEST_F(SendOrigin, ReportsAPostedMessageAsNotSent)
{
    AgentProcess& poster = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    EXPECT_EQ(poster.ask(command("post", window, msgAskOrigin, 0, 0), "posted"), "posted 1 0");
    EXPECT_EQ(receiver.waitFor("insend"), notSent);
}

TEST_F(SendOrigin, ReportsASameThreadSendNestedInAForeignOneAsNotSentAndTheOuterOneAsSentAgain)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long outer = createWindow(receiver, "Outer");
    long long inner = createWindow(receiver, "Inner", false);

    EXPECT_EQ(send(sender, outer, msgAskThrough, inner, 0), ISMEX_NOSEND);
    EXPECT_EQ(receiver.waitFor("insend"), notSent);
    EXPECT_EQ(receiver.waitFor("after"), origin("after", ISMEX_SEND, TRUE));
}

TEST_F(SendOrigin, ReplyMessageReleasesTheSenderWhileTheProcedureGoesOn)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    EXPECT_EQ(send(sender, window, msgReplyThenHold, 0, 0), 5);
    EXPECT_EQ(receiver.waitFor("replied"), "replied 1 " + std::to_string(ISMEX_SEND | ISMEX_REPLIED));
    ASSERT_FALSE(receiver.waitFor("holding").empty());
    receiver.write("release");
    EXPECT_EQ(send(sender, window, msgAdd, 2, 3), 5);
}

TEST_F(SendOrigin, ReplyMessageDoesNothingForASendWithinTheProcess)
{
    AgentProcess& owner = startAgent();
    long long window = createWindow(owner, "Own");

    owner.write(command("send", window, msgReplyThenHold, 0, 0));
    EXPECT_EQ(owner.waitFor("replied"), "replied 0 " + std::to_string(ISMEX_NOSEND));
    ASSERT_FALSE(owner.waitFor("holding").empty());
    owner.write("release");
    EXPECT_EQ(numberIn(owner.waitFor("result")), 7);
}

TEST_F(SendOrigin, ReportsASendBackIntoTheWaitingSenderAsSent)
{
    AgentProcess& first = startAgent();
    AgentProcess& second = startAgent();
    long long firstWindow = createWindow(first, "First");
    long long secondWindow = createWindow(second, "Second");

    /* second, handling first's send, asks first's window while first waits */
    EXPECT_EQ(send(first, secondWindow, msgAskThrough, firstWindow, 0), ISMEX_SEND);
    EXPECT_EQ(first.waitFor("insend"), sentByAnother);
    EXPECT_EQ(second.waitFor("after"), origin("after", ISMEX_SEND, TRUE));
    EXPECT_EQ(first.ask("insend", "insend"), notSent);
}
