/*
 * The Win32 semantics of windows inside one process that the driver's
 * message window relies on: the creation and destruction messages, window
 * classes, the extra window bytes and the thread's message queue. The same
 * tests run on both hosts.
 */
#include "rkwin.h"
#include "testHost.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const DWORD errorInvalidIndex = 1413; // ERROR_INVALID_INDEX

class OwnWindows : public testing::Test {
protected:
    void SetUp() override
    {
        desktop = makeScratchDirectory("rklifecycle");
        setEnvironment("RK_DESKTOP", desktop);
        seen().clear();
        createAnswer() = 0;
        ncCreateAnswer() = TRUE;
    }

    void TearDown() override
    {
        for (HWND window : windows)
            if (IsWindow(window))
                DestroyWindow(window);
        for (const std::string& name : classes)
            UnregisterClassA(name.c_str(), nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(desktop, ignored);
    }

    // A class of this test served by the recording procedure; its name.
    const char* recordingClass(int extraBytes = 0)
    {
        classes.push_back("lifecycle" + std::to_string(classes.size()));
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = recordingProcedure;
        windowClass.cbWndExtra = extraBytes;
        windowClass.lpszClassName = classes.back().c_str();
        EXPECT_NE(RegisterClassA(&windowClass), 0);
        return classes.back().c_str();
    }

    HWND createWindow(const char* className, LPVOID param = nullptr)
    {
        HWND window = CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, param);
        windows.push_back(window);
        return window;
    }

    // The creation and destruction messages, with the creation parameter
    // each creation message carried.
    static std::vector<std::pair<UINT, LPVOID>>& seen()
    {
        static std::vector<std::pair<UINT, LPVOID>> messages;
        return messages;
    }
    static LRESULT& createAnswer()
    {
        static LRESULT answer = 0;
        return answer;
    }
    static LRESULT& ncCreateAnswer()
    {
        static LRESULT answer = TRUE;
        return answer;
    }

    std::vector<std::string> classes;
    std::vector<HWND> windows;
    std::string desktop;

private:
    static LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        switch (message) {
        case WM_NCCREATE:
            seen().emplace_back(message, creation->lpCreateParams);
            return ncCreateAnswer();
        case WM_CREATE:
            seen().emplace_back(message, creation->lpCreateParams);
            return createAnswer();
        case WM_DESTROY:
        case WM_NCDESTROY:
            seen().emplace_back(message, nullptr);
            break;
        case WM_APP:
            return static_cast<LRESULT>(wParam) * 3 + lParam;
        default:
            break;
        }
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

using message = std::pair<UINT, LPVOID>;

TEST_F(OwnWindows, CreationSendsNcCreateThenCreateBothWithTheCreationParameter)
{
    int object = 0;

    EXPECT_NE(createWindow(recordingClass(), &object), nullptr);
    EXPECT_EQ(seen(), (std::vector<message>{{WM_NCCREATE, &object}, {WM_CREATE, &object}}));
}

TEST_F(OwnWindows, CreationFailsWhenCreateAnswersMinusOne)
{
    createAnswer() = -1;

    EXPECT_EQ(createWindow(recordingClass()), nullptr);
    ASSERT_GE(seen().size(), 2u);
    EXPECT_EQ(seen().back(), (message{WM_NCDESTROY, nullptr})) << "the half-made window is destroyed";
}

TEST_F(OwnWindows, CreationFailsWhenNcCreateAnswersFalse)
{
    ncCreateAnswer() = FALSE;

    EXPECT_EQ(createWindow(recordingClass()), nullptr);
    EXPECT_EQ(seen().front(), (message{WM_NCCREATE, nullptr}));
}

TEST_F(OwnWindows, DestroySendsDestroyThenNcDestroyAndTheHandleDies)
{
    HWND window = createWindow(recordingClass());
    seen().clear();

    EXPECT_TRUE(DestroyWindow(window));
    EXPECT_EQ(seen(), (std::vector<message>{{WM_DESTROY, nullptr}, {WM_NCDESTROY, nullptr}}));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(DestroyWindow(window));
}

TEST_F(OwnWindows, SendToAWindowOfThisThreadCallsItsProcedureWithTheValuesAsGiven)
{
    HWND window = createWindow(recordingClass());

    EXPECT_EQ(SendMessageA(window, WM_APP, 5, -1), 14);
}

TEST_F(OwnWindows, ExtraBytesHoldAPointerAtOffsetZeroAndLongsAtByteOffsets)
{
    HWND window = createWindow(recordingClass(16));
    int object = 0;

    EXPECT_EQ(SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(&object)), 0);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), reinterpret_cast<LONG_PTR>(&object));
    EXPECT_EQ(SetWindowLongA(window, 8, 1234), 0);
    EXPECT_EQ(SetWindowLongA(window, 12, -5), 0);
    EXPECT_EQ(SetWindowLongA(window, 8, 99), 1234) << "answers the previous value";
    EXPECT_EQ(GetWindowLongA(window, 12), -5);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), reinterpret_cast<LONG_PTR>(&object));
}

TEST_F(OwnWindows, ExtraBytesRefuseOffsetsOutsideThem)
{
    HWND window = createWindow(recordingClass(4));

    SetLastError(0);
    EXPECT_EQ(GetWindowLongA(window, 4), 0);
    EXPECT_EQ(GetLastError(), errorInvalidIndex);
    SetLastError(0);
    EXPECT_EQ(SetWindowLongPtrA(window, 0, 1), 0) << "a pointer does not fit in four bytes";
    EXPECT_EQ(GetLastError(), errorInvalidIndex);
}

TEST_F(OwnWindows, UserDataLiesBesideTheExtraBytes)
{
    HWND window = createWindow(recordingClass(8));

    SetWindowLongPtrA(window, 0, 11);
    SetWindowLongPtrA(window, GWLP_USERDATA, 22);
    EXPECT_EQ(GetWindowLongPtrA(window, 0), 11);
    EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 22);
}

TEST_F(OwnWindows, ClassesAreRegisteredOnceAndUnregisteredOnlyWithoutWindows)
{
    const char* name = recordingClass();
    WNDCLASSA again = {};
    again.lpfnWndProc = DefWindowProcA;
    again.lpszClassName = name;
    HWND window = createWindow(name);

    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA(name, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
    DestroyWindow(window);
    EXPECT_TRUE(UnregisterClassA(name, nullptr));
}

TEST_F(OwnWindows, UnknownClassesAreRefused)
{
    // Creating a window of an unknown class fails on Windows with
    // ERROR_CANNOT_FIND_WND_CLASS; Wine 8 strays to ERROR_CLASS_DOES_NOT_EXIST.
    // Nothing of ours reads the code.
    const DWORD noClassToCreate = runningOnWine() ? ERROR_CLASS_DOES_NOT_EXIST : ERROR_CANNOT_FIND_WND_CLASS;

    SetLastError(0);
    EXPECT_FALSE(UnregisterClassA("lifecycleNeverRegistered", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
    SetLastError(0);
    EXPECT_EQ(createWindow("lifecycleNeverRegistered"), nullptr);
    EXPECT_EQ(GetLastError(), noClassToCreate);
}

TEST_F(OwnWindows, PostedMessagesArePeekedInOrderAndQuitComesLast)
{
    HWND window = createWindow(recordingClass());
    MSG taken = {};

    PostMessageA(window, WM_APP, 1, 0);
    PostMessageA(window, WM_APP, 2, 0);
    PostQuitMessage(7);
    ASSERT_TRUE(PeekMessageA(&taken, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(taken.wParam, 1u) << "looking leaves the message queued";
    ASSERT_EQ(GetMessageA(&taken, nullptr, 0, 0), TRUE);
    EXPECT_EQ(taken.wParam, 1u);
    ASSERT_EQ(GetMessageA(&taken, nullptr, 0, 0), TRUE);
    EXPECT_EQ(taken.wParam, 2u);
    EXPECT_EQ(GetMessageA(&taken, nullptr, 0, 0), FALSE);
    EXPECT_EQ(taken.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(taken.wParam, 7u);
}

TEST_F(OwnWindows, PostsToADestroyedWindowAreDropped)
{
    HWND window = createWindow(recordingClass());
    MSG taken = {};

    PostMessageA(window, WM_APP, 1, 0);
    DestroyWindow(window);
    EXPECT_FALSE(PeekMessageA(&taken, nullptr, WM_APP, WM_APP, PM_REMOVE));
}

} // namespace
