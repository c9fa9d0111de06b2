/*
 * Parameters that are addresses: handed untouched to a procedure of the
 * sending process, never carried to another one.
 */
#include "foreignSend.h"
#include "localDesktop.h"
#include "messagingFixture.h"
#include "wire/rkPointerMessages.h"

using namespace agent;

namespace {

constexpr unsigned setText = 0x000C; /* WM_SETTEXT */
constexpr LPARAM garbage = 0x41414140;

TEST(PointerMessages, AreTheSystemMessagesWhoseParametersAreAddresses)
{
    EXPECT_TRUE(rkwire::carriesPointer(WM_CREATE));
    EXPECT_TRUE(rkwire::carriesPointer(WM_NCCREATE));
    EXPECT_TRUE(rkwire::carriesPointer(setText));
    EXPECT_FALSE(rkwire::carriesPointer(WM_COPYDATA));
    EXPECT_FALSE(rkwire::carriesPointer(WM_CLOSE));
    EXPECT_FALSE(rkwire::carriesPointer(WM_USER + 1));
}

class LocalPointerMessage : public LocalWindowTest {};

TEST_F(LocalPointerMessage, CopyDataReachesAProcedureOfThisProcessUnread)
{
    HWND window = createRecordingWindow();
    log.clear();
    SendMessageA(window, WM_COPYDATA, 5, garbage);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].message, UINT(WM_COPYDATA));
    EXPECT_EQ(log[0].lParam, garbage);
}

class RemotePointerMessage : public DesktopTest {};

TEST_F(RemotePointerMessage, IsRefusedByTheSenderAndNeverArrives)
{
    AgentProcess& sender = startAgent();
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");

    EXPECT_EQ(sender.ask(command("senderror", window, setText, 0, 8), "sent"), "sent 0 87");
    EXPECT_EQ(sender.ask(command("post", window, setText, 0, 8), "posted"), "posted 0 1159");
    EXPECT_EQ(send(sender, window, msgAdd, 2, 3), 5);
    ASSERT_TRUE(receiver.settle());
    EXPECT_FALSE(receiver.said(received(window, setText, 0, 8)));
}

TEST_F(RemotePointerMessage, ArrivingRawIsAnsweredZeroWithoutReachingTheProcedure)
{
    AgentProcess& receiver = startAgent();
    long long window = createWindow(receiver, "Receiver");
    HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(window));

    foreignAnswer answer =
        sendAsForeignProcess(desktop_.path(), static_cast<DWORD>(receiver.pid()), hwnd, setText, 0, garbage);
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(sendAsForeignProcess(desktop_.path(), static_cast<DWORD>(receiver.pid()), hwnd, msgAdd, 2, 3).result, 5);
    ASSERT_TRUE(receiver.settle());
    EXPECT_FALSE(receiver.said(received(window, setText, 0, garbage)));
}

} // namespace
