/*
 * The Win32 window-message semantics that the driver library and the hub
 * rely on, between this process and an agent process. The same tests run
 * on Linux against the platform layer and on Windows (or Wine) against the
 * system itself, so a difference shows which host strays.
 */
#include "semanticsMessages.h"
#include "testHost.h"
#include "testProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

HWND handleFrom(const std::string& text)
{
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::stoull(text)));
}

std::string number(ULONG_PTR value)
{
    return std::to_string(value);
}

// The test's own top-level window: answers the nested reply and records
// the probes it receives.
class ownWindow {
public:
    ownWindow()
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = procedure;
        windowClass.lpszClassName = "semanticsTest";
        RegisterClassA(&windowClass);
        handle = CreateWindowExA(0, "semanticsTest", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        received().clear();
    }
    ~ownWindow() { DestroyWindow(handle); }

    static std::vector<UINT>& received()
    {
        static std::vector<UINT> messages;
        return messages;
    }

    HWND handle = nullptr;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == msgPosted)
            received().push_back(message);
        if (message == msgNestedReply) {
            received().push_back(message);
            return static_cast<LRESULT>(wParam) + 100;
        }
        if (message == msgRegisteredProbe || message == msgUserProbe || message == msgAppProbe ||
            (message == WM_NULL && wParam == nullProbeMark))
            received().push_back(message);
        return DefWindowProcA(window, message, wParam, lParam);
    }
};

class WindowMessages : public testing::Test {
protected:
    void SetUp() override
    {
        desktop = makeScratchDirectory("rksemantics");
        setEnvironment("RK_DESKTOP", desktop);
        own = std::make_unique<ownWindow>();
        agent = std::make_unique<testProcess>(testProgramPath("semantics_agent"), std::vector<std::string>{},
                                              desktop + "/agent.err");
        std::istringstream ready(waitForLine("ready "));
        std::string word, top, hidden;
        ready >> word >> top >> hidden;
        ASSERT_FALSE(hidden.empty()) << "the agent did not start";
        agentTop = handleFrom(top);
        agentHidden = handleFrom(hidden);
    }

    void TearDown() override
    {
        agent.reset();
        own.reset();
        std::error_code ignored;
        std::filesystem::remove_all(desktop, ignored);
    }

    // The first unread line that starts with prefix; "" when none came
    // within the bound. Messages are dispatched while waiting.
    std::string waitForLine(const std::string& prefix)
    {
        std::string found;
        pumpMessagesUntil([&] {
            readLines();
            for (std::size_t i = taken; i < lines.size(); ++i)
                if (lines[i].rfind(prefix, 0) == 0) {
                    found = lines[i];
                    taken = i + 1;
                    return true;
                }
            return false;
        });
        return found;
    }

    // Everything the agent said up to now, read to the end.
    std::vector<std::string> transcript()
    {
        agent->writeInput("ping\n");
        EXPECT_EQ(waitForLine("pong"), "pong");
        return lines;
    }

    bool agentSaid(const std::string& line)
    {
        for (const std::string& said : transcript())
            if (said == line)
                return true;
        return false;
    }

    static std::string got(const char* window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return std::string("got ") + window + " " + number(message) + " " + number(wParam) + " " +
               std::to_string(lParam);
    }

    std::string desktop;
    std::unique_ptr<ownWindow> own;
    std::unique_ptr<testProcess> agent;
    HWND agentTop = nullptr;
    HWND agentHidden = nullptr;

private:
    void readLines()
    {
        partial += agent->readOutput();
        for (std::size_t end; (end = partial.find('\n')) != std::string::npos; partial.erase(0, end + 1))
            lines.push_back(partial.substr(0, end > 0 && partial[end - 1] == '\r' ? end - 1 : end));
    }

    std::string partial;
    std::vector<std::string> lines;
    std::size_t taken = 0;
};

TEST_F(WindowMessages, SendReturnsTheAnswerOfTheOtherProcesssWindow)
{
    EXPECT_EQ(SendMessageA(agentTop, msgDouble, 3, 21), 42);
    EXPECT_EQ(SendMessageA(agentHidden, msgDouble, 4, -8), -16);
    EXPECT_TRUE(agentSaid(got("top", msgDouble, 3, 21)));
    EXPECT_TRUE(agentSaid(got("hidden", msgDouble, 4, -8)));
}

TEST_F(WindowMessages, PostArrivesThroughTheReceiversLoop)
{
    EXPECT_TRUE(PostMessageA(agentTop, msgDouble, 1, 2));
    EXPECT_EQ(waitForLine("got top"), got("top", msgDouble, 1, 2));
}

TEST_F(WindowMessages, TheLowSixteenBitsOfAHandleReachTheWindow)
{
    const ULONG_PTR slot = LOWORD(reinterpret_cast<ULONG_PTR>(agentTop));
    const HWND shortForm = reinterpret_cast<HWND>(slot);
    const HWND signExtendedForm = reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<LONG>(0xffff0000u | slot)));

    EXPECT_TRUE(IsWindow(shortForm));
    EXPECT_EQ(SendMessageA(shortForm, msgDouble, 0, 5), 10);
    EXPECT_EQ(SendMessageA(signExtendedForm, msgDouble, 0, 6), 12);
}

TEST_F(WindowMessages, FindWindowFindsTheTopLevelWindowButNotTheMessageOnlyOne)
{
    EXPECT_EQ(FindWindowA(topClassName, nullptr), agentTop);
    if (runningOnWine())
        GTEST_SKIP() << "Wine strays here: its FindWindowA finds message-only windows, Windows' does not";
    EXPECT_EQ(FindWindowA(hiddenClassName, nullptr), nullptr);
}

TEST_F(WindowMessages, BroadcastInTheRegisteredRangeReachesEveryTopLevelWindowOnly)
{
    SendMessageA(HWND_BROADCAST, msgRegisteredProbe, 7, 9);

    const std::vector<std::string> said = transcript();
    EXPECT_EQ(std::count(said.begin(), said.end(), got("top", msgRegisteredProbe, 7, 9)), 1);
    EXPECT_EQ(std::count(said.begin(), said.end(), got("hidden", msgRegisteredProbe, 7, 9)), 0);
    EXPECT_EQ(ownWindow::received(), std::vector<UINT>{msgRegisteredProbe}) << "the sender's own window too";
}

TEST_F(WindowMessages, PostedBroadcastReachesEveryTopLevelWindowOnly)
{
    EXPECT_TRUE(PostMessageA(HWND_BROADCAST, msgRegisteredProbe, 11, 12));

    EXPECT_EQ(waitForLine("got "), got("top", msgRegisteredProbe, 11, 12));
    EXPECT_TRUE(pumpMessagesUntil([] { return !ownWindow::received().empty(); }));
    EXPECT_FALSE(agentSaid(got("hidden", msgRegisteredProbe, 11, 12)));
}

TEST_F(WindowMessages, BroadcastOfASystemMessageReachesTopLevelWindows)
{
    SendMessageA(HWND_BROADCAST, WM_NULL, nullProbeMark, 3);

    EXPECT_TRUE(agentSaid(got("top", WM_NULL, nullProbeMark, 3)));
    EXPECT_FALSE(agentSaid(got("hidden", WM_NULL, nullProbeMark, 3)));
}

TEST_F(WindowMessages, BroadcastInThePrivateRangesReachesNobodyAndAnswersTrue)
{
    EXPECT_EQ(SendMessageA(HWND_BROADCAST, msgUserProbe, 1, 1), TRUE);
    EXPECT_EQ(SendMessageA(HWND_BROADCAST, msgAppProbe, 1, 1), TRUE);

    for (const std::string& line : transcript())
        EXPECT_EQ(line.rfind("got", 0), std::string::npos) << line;
    EXPECT_TRUE(ownWindow::received().empty());
}

TEST_F(WindowMessages, CopyDataCarriesTagSizeAndBytesAndTheReceiverWritesOnlyItsOwnCopy)
{
    char bytes[] = "hello";
    COPYDATASTRUCT copy = {0x1234, sizeof bytes, bytes};

    EXPECT_EQ(SendMessageA(agentTop, WM_COPYDATA, reinterpret_cast<WPARAM>(own->handle),
                           reinterpret_cast<LPARAM>(&copy)),
              copyDataAnswerBase + 6);
    EXPECT_TRUE(agentSaid("copydata top 4660 6 hello"));
    EXPECT_STREQ(bytes, "hello");
}

TEST_F(WindowMessages, CopyDataOfAMegabyteArrivesWhole)
{
    std::vector<char> block(1 << 20, '\0');
    std::memcpy(block.data(), "big", 3);
    COPYDATASTRUCT copy = {9, static_cast<DWORD>(block.size()), block.data()};

    EXPECT_EQ(SendMessageA(agentTop, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)),
              copyDataAnswerBase + (1 << 20));
    EXPECT_TRUE(agentSaid("copydata top 9 1048576 big"));
}

TEST_F(WindowMessages, CopyDataOfNoBytesArrivesEmpty)
{
    COPYDATASTRUCT copy = {7, 0, nullptr};

    EXPECT_EQ(SendMessageA(agentHidden, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)), copyDataAnswerBase);
    EXPECT_TRUE(agentSaid("copydata hidden 7 0 "));
}

TEST_F(WindowMessages, CopyDataCannotBePosted)
{
    COPYDATASTRUCT copy = {1, 0, nullptr};
    SetLastError(0);

    EXPECT_FALSE(PostMessageA(agentTop, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
}

TEST_F(WindowMessages, ASendBackFromTheReceiverIsDispatchedWhileTheSenderWaits)
{
    EXPECT_EQ(SendMessageA(agentTop, msgNested, reinterpret_cast<WPARAM>(own->handle), 5), 106);
    EXPECT_EQ(ownWindow::received(), std::vector<UINT>{msgNestedReply});
}

TEST_F(WindowMessages, APostFromTheReceiverWaitsUntilTheSendHasReturned)
{
    EXPECT_EQ(SendMessageA(agentTop, msgPostThenNest, reinterpret_cast<WPARAM>(own->handle), 1), 102);
    EXPECT_EQ(ownWindow::received(), std::vector<UINT>{msgNestedReply});

    EXPECT_TRUE(pumpMessagesUntil([] { return ownWindow::received().size() == 2; }));
    EXPECT_EQ(ownWindow::received(), (std::vector<UINT>{msgNestedReply, msgPosted}));
}

TEST_F(WindowMessages, TheWindowNamesTheProcessThatOwnsIt)
{
    DWORD owner = 0;

    EXPECT_NE(GetWindowThreadProcessId(agentHidden, &owner), 0u);
    EXPECT_EQ(owner, agent->id());
}

TEST_F(WindowMessages, TheBroadcastHandleIsNoWindow)
{
    EXPECT_FALSE(IsWindow(HWND_BROADCAST));
    EXPECT_FALSE(IsWindow(nullptr));
}

TEST_F(WindowMessages, SendToADestroyedWindowAnswersZero)
{
    agent->writeInput("destroy\n");
    ASSERT_EQ(waitForLine("destroyed"), "destroyed");

    EXPECT_FALSE(IsWindow(agentTop));
    SetLastError(0);
    EXPECT_EQ(SendMessageA(agentTop, msgDouble, 0, 5), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(agentTop, msgDouble, 0, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(FindWindowA(topClassName, nullptr), nullptr);
}

TEST_F(WindowMessages, WindowsOfAKilledProcessAnswerZero)
{
    agent->kill();
    ASSERT_TRUE(pumpMessagesUntil([&] { return agent->exitCode().has_value(); }));

    EXPECT_TRUE(pumpMessagesUntil([&] { return !IsWindow(agentTop); }));
    EXPECT_EQ(SendMessageA(agentTop, msgDouble, 0, 5), 0);
}

} // namespace
