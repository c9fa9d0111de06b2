#include "rkDriver.h"

#include "rkConfig.h"
#include "rkDriverMessages.h"

#include <cstdio>

__attribute__((used)) static const char rkDriverSignature[] =
    "TELM_SIG,rkDriver,LIB,1.1.1.0,08/12/26,TELM,<<BUILD_URL>>";

namespace {

const WPARAM identityQuestion = 0x5555;
const WORD identityAnswer = 0xaaaa;

typedef HWND(WINAPI* kivHwndFunction)(void);

bool answersAsKiv(HWND window)
{
    return LOWORD(SendMessageA(window, msgIdentity, identityQuestion, 0)) == identityAnswer;
}

/* A device's state as KIV reports it: 3 is state 2 asked for with the flag. */
int stateFromAnswer(LRESULT answer)
{
    if (answer == 1)
        return 1;
    if (answer == 2 || answer == 3)
        return 2;
    return 0;
}

} // namespace

rkDriver::rkDriver(IrkDriverCallback* callback, const std::string& checkName)
    : rkCheck(checkName.c_str()),
      callback(callback),
      kivWindow(nullptr),
      messageWindow(nullptr),
      connectionMode(0),
      option(0),
      workstation(::getWorkstation()),
      device(0),
      sentCount(0),
      receivedCount(0),
      lastSentCount(-1),
      lastReceivedCount(-1),
      state(0),
      preference(1),
      searching(false)
{
    resetCounters();
    char name[64];
    std::snprintf(name, sizeof name, "rkDriverMessageWindow_%p", static_cast<void*>(this));
    windowClassName = name;
    createMessageWindow();
}

rkDriver::~rkDriver()
{
    // The window's WM_DESTROY unregisters while the callback still listens.
    if (messageWindow != nullptr)
        DestroyWindow(messageWindow);
    callback = nullptr;
    if (!UnregisterClassA(windowClassName.c_str(), nullptr))
        OutputDebugStringA("Failed to unregister rkDriver window class");
}

void rkDriver::createMessageWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = messageWindowProcedure;
    // Room for a whole pointer: the object's address on every host.
    windowClass.cbWndExtra = sizeof(rkDriver*);
    windowClass.lpszClassName = windowClassName.c_str();
    RegisterClassA(&windowClass);

    messageWindow = CreateWindowExA(0, windowClassName.c_str(), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, this);
    if (messageWindow == nullptr) {
        MessageBoxA(nullptr, "Cannot create rkDriverMessageWindow", "Very Serious Error!", MB_OK);
        return;
    }
    char line[64];
    std::snprintf(line, sizeof line, "rkdriver message window %lld",
                  static_cast<long long>(reinterpret_cast<LONG_PTR>(messageWindow)));
    OutputDebugStringA(line);
}

bool rkDriver::connect(unsigned int device, int connectionMode, int option)
{
    if (isConnected())
        disconnect();
    accepted = false;
    this->device = device;
    this->connectionMode = connectionMode;
    this->option = option;
    findKiv();
    const int reply = registerDevice();
    state = 0;
    if (reportRegistration(reply))
        return true;
    accepted = true;
    if (callback != nullptr)
        callback->onConnected(static_cast<int>(device));
    askState();
    return false;
}

/* A handle left from an earlier KIV that has gone is no KIV: every connect
   searches afresh. */
void rkDriver::findKiv()
{
    kivWindow = nullptr;
    askDravik();
    searching = true;
    if (kivWindow == nullptr)
        SendMessageA(HWND_BROADCAST, msgWhereIsKiv, reinterpret_cast<WPARAM>(messageWindow), 0);
    if (kivWindow == nullptr)
        SendMessageA(HWND_BROADCAST, msgWhereIsKivAgain, reinterpret_cast<WPARAM>(messageWindow), 0);
    searching = false;
}

void rkDriver::askDravik()
{
    HMODULE dravik = LoadLibraryA("dravik.dll");
    if (dravik == nullptr)
        return;
    // Through void(*)(void), the one function type every other converts from cleanly.
    const auto kivHwnd = reinterpret_cast<kivHwndFunction>(
        reinterpret_cast<void (*)(void)>(GetProcAddress(dravik, "kivHwnd")));
    if (kivHwnd != nullptr) {
        kivWindow = kivHwnd();
        if (kivWindow != nullptr) {
            if (answersAsKiv(kivWindow))
                OutputDebugStringA("rkClient: KIV handle from dravik.dll");
            else
                kivWindow = nullptr;
        }
    }
    FreeLibrary(dravik);
}

int rkDriver::registerDevice()
{
    if (kivWindow == nullptr)
        return -1;
    UINT message;
    if (connectionMode == 1)
        message = msgRegister;
    else if (connectionMode == 2)
        message = device <= 0x7fff ? msgRegisterMode2 : msgRegisterMode2Wide;
    else
        return -1;
    const LRESULT reply = SendMessageA(kivWindow, message, reinterpret_cast<WPARAM>(messageWindow),
                                       static_cast<LPARAM>(device));
    // A KIV that vanished during the call answered nothing: its 0 is no acceptance.
    if (!IsWindow(kivWindow))
        return -1;
    return static_cast<int>(reply);
}

/* True when the reply refuses the registration. */
bool rkDriver::reportRegistration(int reply)
{
    switch (reply) {
    case 0:
        OutputDebugStringA("Success - KIV has accepted request");
        state = 2;
        return false;
    case 1:
        OutputDebugStringA("Request refused - ID supplied is invalid");
        return true;
    case 2:
        OutputDebugStringA("Request refused - Device ID is already running on this workstation");
        return true;
    case 3:
        OutputDebugStringA("Request refused - KIV has not been enabled in Driver Mode");
        return true;
    case -1:
        OutputDebugStringA("Cannot find KIV");
        return true;
    default:
        return false;
    }
}

void rkDriver::askState()
{
    state = stateFromAnswer(SendMessageA(kivWindow, msgAskState, 0, static_cast<LPARAM>(device)));
    if (callback != nullptr)
        callback->onStateChange(this, state);
}

/* Only a device KIV accepted for this driver is unregistered: after a
   refusal the device, if anyone's, is another driver's, and unregistering
   it would take that driver's registration away. */
bool rkDriver::disconnect()
{
    state = 0;
    const bool wasAccepted = accepted;
    accepted = false;
    if (!wasAccepted || !isConnected())
        return true;
    SendMessageA(kivWindow, msgUnregister, 0, static_cast<LPARAM>(device));
    SendMessageA(kivWindow, msgForgetWindow, reinterpret_cast<WPARAM>(messageWindow), 0);
    kivWindow = nullptr;
    connectionMode = 0;
    if (callback != nullptr)
        callback->onDisconnected(static_cast<int>(device));
    return false;
}

bool rkDriver::isConnected() const
{
    return kivWindow != nullptr && IsWindow(kivWindow);
}

int rkDriver::getDevice() const
{
    return static_cast<int>(device);
}

int rkDriver::getState() const
{
    return state;
}

void rkDriver::setCallback(IrkDriverCallback* callback)
{
    this->callback = callback;
}

void rkDriver::setState(int state, bool flag)
{
    if (state == 2)
        SendMessageA(kivWindow, msgSetState, flag ? 3 : 2, static_cast<LPARAM>(device));
    else if (state == 1)
        SendMessageA(kivWindow, msgSetState, 1, static_cast<LPARAM>(device));
    else
        return;
    this->state = state;
    if (callback != nullptr)
        callback->onStateChange(this, state);
}

void rkDriver::setPreference(int preference, bool apply)
{
    this->preference = preference;
    if (!apply)
        return;
    if (preference == 1)
        setState(2, false);
    else if (preference == 2)
        setState(1, false);
}

HWND rkDriver::getMessageWindow() const
{
    return messageWindow;
}

HWND rkDriver::getKivWindow() const
{
    return kivWindow;
}

int rkDriver::getConnectionMode() const
{
    return connectionMode;
}

int rkDriver::getPreference() const
{
    return preference;
}
