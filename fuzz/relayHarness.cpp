#include "relayHarness.h"

#include "fuzzCheck.h"
#include "fuzzScratch.h"
#include "rkhost.h"
#include "telmwm32.h"

#include <cstdlib>

namespace rkfuzz {

namespace {

const char kivClass[] = "kivstandin";

// What KIV answers a driver that registers: accepted, state 2.
LRESULT kivAnswer(UINT message, WPARAM wParam)
{
    switch (message) {
    case 49552: // identity
        return wParam == 0x5555 ? 0x1aaaa : 0;
    case 2184: // registration
        return 0;
    case 2214: // state
        return 2;
    default:
        return 1;
    }
}

void discardDebugOutput(const char*, void*) {}

} // namespace

void recordingCallback::onTextMessage(rkDriver*, const char* text)
{
    events.push_back(std::string("text ") + text);
}

void recordingCallback::onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                                    const std::string& word2)
{
    events.push_back("ns " + std::to_string(workstation) + " " + std::to_string(device) + " [" + text + "] " + word1 +
                     " " + word2);
}

void recordingCallback::onStateChange(rkDriver*, int state)
{
    events.push_back("state " + std::to_string(state));
}

void recordingCallback::onDisconnected(int device)
{
    events.push_back("disconnected " + std::to_string(device));
}

void recordingCallback::onDatabaseChange(int device, int database, int index)
{
    events.push_back("db " + std::to_string(device) + " " + std::to_string(database) + " " + std::to_string(index));
}

standInKiv::standInKiv()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(standInKiv*);
    windowClass.lpszClassName = kivClass;
    RegisterClassA(&windowClass);
    window_ = CreateWindowExA(0, kivClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, this);
    FUZZ_CHECK(window_ != nullptr, "cannot create the stand-in KIV window");
}

LRESULT CALLBACK standInKiv::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<standInKiv*>(GetWindowLongPtrA(window, 0));
    if (self == nullptr || (message < WM_USER && message != WM_COPYDATA))
        return DefWindowProcA(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

// Answers are stored by the relay as the real hub's relay would store them,
// so that a relaySend from this window gets its result.
LRESULT standInKiv::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        const auto* copyData = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        const char* bytes = static_cast<const char*>(copyData->lpData);
        copies.push_back({copyData->dwData, bytes == nullptr ? std::string() : std::string(bytes, copyData->cbData)});
        relayReceive(window_, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(LOWORD(wParam))), copyData);
        return 1;
    }
    if (message == 2031 || message == 49153) { // where is KIV
        SendMessageA(reinterpret_cast<HWND>(wParam), 2032, reinterpret_cast<WPARAM>(window_), 0);
        return 0;
    }
    ++otherMessages;
    return kivAnswer(message, wParam);
}

relayHarness& relayHarness::instance()
{
    // Never destroyed: the driver's window must outlive every input.
    static relayHarness* harness = new relayHarness;
    return *harness;
}

relayHarness::relayHarness()
{
    const std::string desktop = scratchDirectory("rk-relay-fuzz-");
    setenv("RK_DESKTOP", desktop.c_str(), 1);
    setenv("RK_ROOT", desktop.c_str(), 1);
    setenv("RK_SYSTEM", "sys", 1);
    setenv("RK_WORKSTATION", "12", 1);
    rkSetDebugSink(discardDebugOutput, nullptr);
    // The driver loads and frees dravik at each connect. Held open here, it
    // is never unmapped, so libFuzzer's coverage counters in it stay valid.
    LoadLibraryA("dravik.dll");
    kiv_ = std::make_unique<standInKiv>();
    driver_ = std::make_unique<rkDriver>(&callback_, "rkDriver");
    FUZZ_CHECK(!driver_->connect(5, 1, 0), "the driver does not connect to the stand-in KIV");
    FUZZ_CHECK(driver_->getKivWindow() == kiv_->handle(), "the driver found another KIV");
    driverWindow_ = driver_->getMessageWindow();
    callback_.events.clear();
    kiv_->copies.clear();
    kiv_->otherMessages = 0;
}

} // namespace rkfuzz
