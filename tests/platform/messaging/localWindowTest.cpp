#include <gmock/gmock.h>
#include <poll.h>

#include "localDesktop.h"
#include "rkhost.h"

using ::testing::ElementsAre;

class WindowLifecycle : public LocalWindowTest {};

TEST_F(WindowLifecycle, CreationSendsNcCreateThenCreateBothWithTheCreationParameter)
{
    int marker = 0;
    HWND window = createRecordingWindow(HWND_MESSAGE, &marker);
    ASSERT_NE(window, nullptr);
    EXPECT_THAT(receivedMessages(), ElementsAre(UINT(WM_NCCREATE), UINT(WM_CREATE)));
    EXPECT_EQ(createParamSeen, &marker);
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(WindowLifecycle, CreationFailsAndDestroysTheWindowWhenCreateAnswersMinusOne)
{
    createAnswer = -1;
    HWND window = createRecordingWindow();
    EXPECT_EQ(window, nullptr);
    EXPECT_THAT(receivedMessages(),
                ElementsAre(UINT(WM_NCCREATE), UINT(WM_CREATE), UINT(WM_DESTROY), UINT(WM_NCDESTROY)));
}

TEST_F(WindowLifecycle, CreationFailsWhenNcCreateAnswersFalse)
{
    ncCreateAnswer = FALSE;
    EXPECT_EQ(createRecordingWindow(), nullptr);
    EXPECT_THAT(receivedMessages(), ElementsAre(UINT(WM_NCCREATE), UINT(WM_NCDESTROY)));
}

TEST_F(WindowLifecycle, DestroySendsDestroyThenNcDestroyAndFreesTheHandle)
{
    HWND window = createRecordingWindow();
    log.clear();
    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_THAT(receivedMessages(), ElementsAre(UINT(WM_DESTROY), UINT(WM_NCDESTROY)));
    EXPECT_FALSE(IsWindow(window));
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WindowLifecycle, RefusesAClassThatIsNotRegistered)
{
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CANNOT_FIND_WND_CLASS));
}

TEST_F(WindowLifecycle, SendToAWindowOfThisProcessCallsItsProcedureWithTheValuesAsGiven)
{
    HWND window = createRecordingWindow();
    int pointee = 0;
    log.clear();
    EXPECT_EQ(SendMessageA(window, WM_USER, 21, reinterpret_cast<LPARAM>(&pointee)), 42);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].lParam, reinterpret_cast<LPARAM>(&pointee));
}

TEST_F(WindowLifecycle, FindWindowFindsTopLevelWindowsButNotMessageOnlyOnes)
{
    const char* topClass = registerRecordingClass();
    HWND top = CreateWindowExA(0, topClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    const char* hiddenClass = registerRecordingClass();
    HWND hidden = CreateWindowExA(0, hiddenClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_EQ(FindWindowA(topClass, nullptr), top);
    EXPECT_EQ(FindWindowA(hiddenClass, nullptr), nullptr);
    DestroyWindow(top);
    DestroyWindow(hidden);
    EXPECT_EQ(FindWindowA(topClass, nullptr), nullptr);
}

class WindowClasses : public LocalWindowTest {};

TEST_F(WindowClasses, RegisteringANameTwiceFails)
{
    const char* name = registerRecordingClass();
    WNDCLASSA again{};
    again.lpfnWndProc = DefWindowProcA;
    again.lpszClassName = name;
    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_ALREADY_EXISTS));
}

TEST_F(WindowClasses, UnregisteringFailsWhileWindowsOfTheClassExist)
{
    const char* name = registerRecordingClass();
    HWND window = CreateWindowExA(0, name, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA(name, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_HAS_WINDOWS));
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA(name, nullptr));
}

TEST_F(WindowClasses, UnregisteringAnUnknownClassFails)
{
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA("NeverRegistered", nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_CLASS_DOES_NOT_EXIST));
}

TEST_F(WindowClasses, RefusesAClassWithoutProcedureOrName)
{
    WNDCLASSA incomplete{};
    incomplete.lpszClassName = "NoProcedure";
    EXPECT_EQ(RegisterClassA(&incomplete), 0);
    incomplete.lpfnWndProc = DefWindowProcA;
    incomplete.lpszClassName = nullptr;
    EXPECT_EQ(RegisterClassA(&incomplete), 0);
    EXPECT_EQ(RegisterClassA(nullptr), 0);
}

class WindowExtraMemory : public LocalWindowTest {};

TEST_F(WindowExtraMemory, HoldsAPointerAtOffsetZero)
{
    HWND window = createRecordingWindow();
    int object = 0;
    EXPECT_EQ(SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(&object)), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), reinterpret_cast<LONG_PTR>(&object));
}

TEST_F(WindowExtraMemory, HoldsLongsAtByteOffsetsAndAnswersThePreviousValue)
{
    HWND window = createRecordingWindow();
    EXPECT_EQ(SetWindowLongA(window, 0, 0x11223344), 0);
    EXPECT_EQ(SetWindowLongA(window, 4, -5), 0);
    EXPECT_EQ(SetWindowLongA(window, 0, 7), 0x11223344);
    EXPECT_EQ(GetWindowLongA(window, 0), 7);
    EXPECT_EQ(GetWindowLongA(window, 4), -5);
    EXPECT_EQ(SetWindowLongA(window, 2, 0), static_cast<LONG>(0xfffb0000u));
}

TEST_F(WindowExtraMemory, RefusesOffsetsOutsideTheExtraBytes)
{
    HWND window = createRecordingWindow(); /* 8 extra bytes */
    for (int index : {5, 8, -1, -4}) {
        SetLastError(0);
        EXPECT_EQ(SetWindowLongA(window, index, 1), 0) << index;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_INDEX)) << index;
    }
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrA(window, 1), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_INDEX));
}

TEST_F(WindowExtraMemory, KeepsUserDataBesideTheExtraBytes)
{
    HWND window = createRecordingWindow();
    EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 99), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 99);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), 0);
}

TEST_F(WindowExtraMemory, RefusesAWindowThatDoesNotExist)
{
    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(reinterpret_cast<HWND>(0x00050043), 0), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

class LocalMessageQueue : public LocalWindowTest {
protected:
    static bool eventDescriptorReadable()
    {
        pollfd entry{rkMessageEventFd(), POLLIN, 0};
        return poll(&entry, 1, 0) == 1;
    }
};

TEST_F(LocalMessageQueue, PeekLooksWithoutRemovingAndTakesInOrder)
{
    HWND window = createRecordingWindow();
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 1, 0));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 2, 2, 0));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, UINT(WM_USER + 1));
    ASSERT_TRUE(PeekMessageA(&message, window, WM_USER + 2, WM_USER + 2, PM_REMOVE));
    EXPECT_EQ(message.wParam, WPARAM(2));
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, UINT(WM_USER + 1));
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(LocalMessageQueue, QuitComesAfterTheQueuedMessagesAndEndsGetMessage)
{
    HWND window = createRecordingWindow();
    PostMessageA(window, WM_USER, 5, 0);
    PostQuitMessage(4);
    MSG message;
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(DispatchMessageA(&message), 10);
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_EQ(message.message, UINT(WM_QUIT));
    EXPECT_EQ(message.wParam, WPARAM(4));
}

TEST_F(LocalMessageQueue, EventDescriptorIsReadableExactlyWhilePostsWait)
{
    HWND window = createRecordingWindow();
    rkDispatchPendingMessages();
    EXPECT_FALSE(eventDescriptorReadable());
    PostMessageA(window, WM_USER, 1, 0);
    EXPECT_TRUE(eventDescriptorReadable());
    log.clear();
    rkDispatchPendingMessages();
    EXPECT_THAT(receivedMessages(), ElementsAre(UINT(WM_USER)));
    EXPECT_FALSE(eventDescriptorReadable());
}

TEST_F(LocalMessageQueue, DispatchingPendingMessagesLeavesTheQuitForTheMessageLoop)
{
    PostQuitMessage(9);
    rkDispatchPendingMessages();
    EXPECT_FALSE(eventDescriptorReadable());
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, UINT(WM_QUIT));
    EXPECT_EQ(message.wParam, WPARAM(9));
}

TEST_F(LocalMessageQueue, PostsOfADestroyedWindowAreDropped)
{
    HWND window = createRecordingWindow();
    PostMessageA(window, WM_USER, 1, 0);
    DestroyWindow(window);
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_USER, 1, 0));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(LocalMessageQueue, CopyDataCannotBePosted)
{
    HWND window = createRecordingWindow();
    COPYDATASTRUCT copy{1, 0, nullptr};
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MESSAGE_SYNC_ONLY));
}
