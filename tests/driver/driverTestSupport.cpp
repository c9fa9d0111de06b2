#include "driverTestSupport.h"

#include "rkhost.h"
#include "telmifFrame.h"
#include "telmwm32.h"
#include "testHost.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace {

const char fakeKivClass[] = "kivstandin";
const UINT msgWhereIsKiv = 2031;
const UINT msgWhereIsKivAgain = 49153;
const UINT msgKivIsHere = 2032;
const UINT msgIdentity = 49552;

LRESULT defaultAnswer(UINT message)
{
    switch (message) {
    case 2184:
    case 2193:
    case 49859:
        return 0;
    case 2214:
        return 2;
    default:
        return 1;
    }
}

} // namespace

scopedDesktop::scopedDesktop()
    : path(makeScratchDirectory("rkdriver-test-"))
{
    setEnvironment("RK_DESKTOP", path);
}

scopedDesktop::~scopedDesktop()
{
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

scopedConfiguration::scopedConfiguration(const scopedDesktop& desktop)
{
    setEnvironment("RK_ROOT", desktop.directory());
    setEnvironment("RK_SYSTEM", "sys");
    setEnvironment("RK_WORKSTATION", "12");
}

scopedConfiguration::~scopedConfiguration()
{
    unsetEnvironment("RK_ROOT");
    unsetEnvironment("RK_SYSTEM");
    unsetEnvironment("RK_WORKSTATION");
}

debugCapture::debugCapture()
{
    rkSetDebugSink(collect, this);
}

debugCapture::~debugCapture()
{
    rkSetDebugSink(nullptr, nullptr);
}

void debugCapture::collect(const char* text, void* context)
{
    static_cast<debugCapture*>(context)->captured.emplace_back(text);
}

int debugCapture::count(const std::string& text) const
{
    int found = 0;
    for (const std::string& line : captured)
        found += line == text ? 1 : 0;
    return found;
}

void pumpPending()
{
    dispatchPendingMessages();
}

bool pumpUntil(const std::function<bool()>& done, int milliseconds)
{
    return pumpMessagesUntil(done, milliseconds);
}

void recordingCallback::onTextMessage(rkDriver*, const char* text)
{
    events.push_back(std::string("text ") + text);
    if (whenCalled)
        whenCalled();
}

void recordingCallback::onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                                    const std::string& word2)
{
    events.push_back("ns " + std::to_string(workstation) + " " + std::to_string(device) + " [" + text + "] " +
                     word1 + " " + word2);
    if (whenCalled)
        whenCalled();
}

void recordingCallback::onStateChange(rkDriver*, int state)
{
    events.push_back("state " + std::to_string(state));
    if (whenCalled)
        whenCalled();
}

void recordingCallback::onConnected(int device)
{
    events.push_back("connected " + std::to_string(device));
    if (whenCalled)
        whenCalled();
}

void recordingCallback::onDisconnected(int device)
{
    events.push_back("disconnected " + std::to_string(device));
    if (whenCalled)
        whenCalled();
}

void recordingCallback::onDatabaseChange(int device, int database, int index)
{
    events.push_back("db " + std::to_string(device) + " " + std::to_string(database) + " " + std::to_string(index));
    if (whenCalled)
        whenCalled();
}

fakeKiv::fakeKiv()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(fakeKiv*);
    windowClass.lpszClassName = fakeKivClass;
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, fakeKivClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, this);
    if (window == nullptr)
        throw std::runtime_error("cannot create the stand-in KIV window");
}

fakeKiv::~fakeKiv()
{
    DestroyWindow(window);
}

std::vector<kivMessage> fakeKiv::received(UINT message) const
{
    std::vector<kivMessage> found;
    for (const kivMessage& entry : seen) {
        if (entry.message == message)
            found.push_back(entry);
    }
    return found;
}

LRESULT CALLBACK fakeKiv::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    auto* self = reinterpret_cast<fakeKiv*>(GetWindowLongPtrA(window, 0));
    if (self == nullptr || (message < WM_USER && message != WM_COPYDATA))
        return DefWindowProcA(window, message, wParam, lParam);
    return self->handle(message, wParam, lParam);
}

LRESULT fakeKiv::handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return onCopyData(wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == msgWhereIsKiv || message == msgWhereIsKivAgain) {
        record(message, wParam, lParam, kivMessage::direct, "");
        if (answerBroadcast)
            SendMessageA(reinterpret_cast<HWND>(wParam), msgKivIsHere, reinterpret_cast<WPARAM>(window), 0);
        return 0;
    }
    if (message == msgIdentity)
        return answerIdentity && wParam == 0x5555 ? 0x1aaaa : 0;

    std::string text;
    std::vector<char> bytes;
    const size_t room = relayTextRoom(reinterpret_cast<const void*>(lParam));
    if (delivering == kivMessage::relay && room > 0) {
        const char* at = reinterpret_cast<const char*>(lParam);
        text.assign(at, strnlen(at, room));
        bytes.assign(at, at + std::min<size_t>(room, 512));
    }
    return record(message, wParam, lParam, delivering, text, bytes);
}

LRESULT fakeKiv::onCopyData(WPARAM wParam, const COPYDATASTRUCT* copyData)
{
    telmifFrameHeader header{};
    if (copyData->dwData == telmifFrameTag && telmifGetHeader(copyData->lpData, copyData->cbData, header)) {
        const char* payload = static_cast<const char*>(copyData->lpData) + telmifHeaderSize;
        return record(header.message, static_cast<WPARAM>(header.wParam), 0, kivMessage::telmif,
                      std::string(payload, strnlen(payload, header.byteCount)),
                      std::vector<char>(payload, payload + header.byteCount));
    }
    const kivMessage::carrier outer = delivering;
    delivering = kivMessage::relay;
    relayReceive(window, reinterpret_cast<HWND>(static_cast<ULONG_PTR>(LOWORD(wParam))), copyData);
    delivering = outer;
    return 1;
}

LRESULT fakeKiv::record(UINT message, WPARAM wParam, LPARAM lParam, kivMessage::carrier via, std::string text,
                        std::vector<char> bytes)
{
    kivMessage entry;
    entry.message = message;
    entry.wParam = wParam;
    entry.lParam = lParam;
    entry.via = via;
    entry.text = std::move(text);
    entry.bytes = std::move(bytes);
    seen.push_back(std::move(entry));
    const auto answer = answers.find(message);
    return answer != answers.end() ? answer->second : defaultAnswer(message);
}

bool connectedDriver::connectDriver(int device, int mode)
{
    kiv = std::make_unique<fakeKiv>();
    driver = std::make_unique<rkDriver>(&callback, "rkDriver");
    if (driver->connect(device, mode, 0))
        return false;
    callback.events.clear();
    debug.clear();
    return true;
}
