// A driver process given what any process on the desktop may send its
// message window: relayed system messages and creation messages with
// stray addresses. It answers none of them and goes on serving.
#include "driverTestSupport.h"
#include "processSupport.h"
#include "telmwm32.h"
#ifndef _WIN32
#include "foreignSend.h"
#endif

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// A window of the test process that counts the blocks sent to it: the
// relay's answers come to it.
class answerCounter {
public:
    answerCounter()
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.lpszClassName = "answerCounter";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "answerCounter", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    ~answerCounter() { DestroyWindow(window); }

    HWND window = nullptr;
    static int answers;

private:
    static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_COPYDATA)
            return ++answers;
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
};
int answerCounter::answers = 0;

class hostileDriverPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(driver.command("connect 5 1"), "ok connect 0");
        driverWindow = driver.messageWindow();
        ASSERT_NE(driverWindow, nullptr);
    }

    void relayValue(ULONG_PTR dwData, const char* value)
    {
        char payload[RELAY_VALUE_BYTES] = {};
        std::snprintf(payload, sizeof payload, "%s", value);
        COPYDATASTRUCT copyData{dwData, RELAY_VALUE_BYTES, payload};
        SendMessageA(driverWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(counter.window),
                     reinterpret_cast<LPARAM>(&copyData));
    }

    scopedDesktop desktop;
    scopedConfiguration configuration{desktop};
    hubProgram hub{desktop};
    driverProgram driver{desktop};
    answerCounter counter;
    HWND driverWindow = nullptr;
};

TEST_F(hostileDriverPeer, dropsARelayedCopyDataUnansweredAndGoesOnServing)
{
    relayValue(ULONG_PTR{WM_COPYDATA} << 16, "41414140");
    EXPECT_EQ(answerCounter::answers, 0);
    EXPECT_EQ(driver.command("status"), "ok status 1 2 5 1");
    relayValue(2181u << 16, "00000000");
    EXPECT_EQ(answerCounter::answers, 1);
}

// On Windows the system carries WM_CREATE's structure itself.
#ifndef _WIN32
TEST_F(hostileDriverPeer, answersZeroToACreationMessageWithAStrayAddressAndGoesOnServing)
{
    SetLastError(0);
    EXPECT_EQ(SendMessageA(driverWindow, WM_CREATE, 0, 8), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    DWORD owner = 0;
    ASSERT_NE(GetWindowThreadProcessId(driverWindow, &owner), 0u);
    const foreignAnswer answer = sendAsForeignProcess(desktop.directory(), owner, driverWindow, WM_CREATE, 0, 8);
    EXPECT_TRUE(answer.answered);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(driver.command("status"), "ok status 1 2 5 1");
}
#endif

} // namespace
