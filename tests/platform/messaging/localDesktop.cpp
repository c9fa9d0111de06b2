#include "localDesktop.h"

#include <cstdlib>

#include "agentProcess.h"

std::vector<Received> LocalWindowTest::log;
LRESULT LocalWindowTest::ncCreateAnswer = TRUE;
LRESULT LocalWindowTest::createAnswer = 0;
LPVOID LocalWindowTest::createParamSeen = nullptr;

namespace {

class LocalDesktopEnvironment : public ::testing::Environment {
public:
    void SetUp() override { setenv("RK_DESKTOP", desktop_.path().c_str(), 1); }

private:
    agent::PrivateDesktop desktop_;
};

::testing::Environment* const localDesktop = ::testing::AddGlobalTestEnvironment(new LocalDesktopEnvironment);

} // namespace

void LocalWindowTest::SetUp()
{
    log.clear();
    ncCreateAnswer = TRUE;
    createAnswer = 0;
    createParamSeen = nullptr;
}

void LocalWindowTest::TearDown()
{
    for (HWND window : windows_)
        if (IsWindow(window))
            DestroyWindow(window);
    for (const std::string& name : classNames_)
        UnregisterClassA(name.c_str(), nullptr);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

const char* LocalWindowTest::registerRecordingClass(int extraBytes)
{
    static int counter = 0;
    classNames_.push_back("Recording" + std::to_string(++counter));
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = recordingProcedure;
    windowClass.cbWndExtra = extraBytes;
    windowClass.lpszClassName = classNames_.back().c_str();
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    return classNames_.back().c_str();
}

HWND LocalWindowTest::createRecordingWindow(HWND parent, LPVOID param)
{
    const char* name = registerRecordingClass(8);
    HWND window = CreateWindowExA(0, name, "", 0, 0, 0, 0, 0, parent, nullptr, nullptr, param);
    windows_.push_back(window);
    return window;
}

std::vector<UINT> LocalWindowTest::receivedMessages() const
{
    std::vector<UINT> messages;
    for (const Received& entry : log)
        messages.push_back(entry.message);
    return messages;
}

LRESULT CALLBACK LocalWindowTest::recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    log.push_back({message, wParam, lParam});
    if (message == WM_NCCREATE || message == WM_CREATE) {
        createParamSeen = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams;
        return message == WM_NCCREATE ? ncCreateAnswer : createAnswer;
    }
    if (message == WM_USER)
        return static_cast<LRESULT>(wParam) * 2;
    return DefWindowProcA(window, message, wParam, lParam);
}
