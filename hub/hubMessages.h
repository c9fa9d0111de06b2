// Every window message number the stand-in hub receives, answers or sends,
// named as the driver library names them (driver/rkDriverMessages.h) so that
// both sides read alike. The hub does not link the driver library, hence a
// header of its own.
#ifndef HUB_MESSAGES_H
#define HUB_MESSAGES_H

#include "rkwin.h"

// Finding the hub
constexpr UINT msgWhereIsKiv = 2031;       // broadcast: wParam the asker's window, answered with msgKivIsHere
constexpr UINT msgWhereIsKivAgain = 49153; // the same as msgWhereIsKiv
constexpr UINT msgKivIsHere = 2032;        // to the asker: wParam the hub's window, lParam 0
constexpr UINT msgIdentity = 49552;        // wParam 0x5555: answered 0xaaaa (0 with --fail-identity)

// Registration and state
constexpr UINT msgRegister = 2184;           // wParam the driver's window, lParam its device (mode 1): 0, refused 1..3
constexpr UINT msgRegisterMode2 = 2193;      // as msgRegister, for mode 2
constexpr UINT msgRegisterMode2Wide = 49859; // the same as msgRegisterMode2
constexpr UINT msgAskState = 2214;           // lParam a device: answered the state held for it (0 for none)
constexpr UINT msgSetState = 2215;           // wParam the state 1..3, lParam the device: answered 0
constexpr UINT msgUnregister = 2185;         // wParam the asker's window (0: none), lParam the device: 0, refused 1
constexpr UINT msgForgetWindow = 2186;       // wParam a window to forget, lParam a device of it (0: none): 0, refused 1

// Command texts and values from a driver
constexpr UINT msgNSCommand = 2123;        // a command text: answered 1 when well formed, else 0
constexpr UINT msgRMCommand = 2124;        // a command text, answered as msgNSCommand
constexpr UINT msgRMCommandCopy = 2159;    // a command text, answered as msgNSCommand
constexpr UINT msgCommand = 2187;          // a command text, answered as msgNSCommand
constexpr UINT msgDeviceValue = 49244;     // a device's value: counted, answered 1
constexpr UINT msgDeviceValueWide = 49860; // payload value and device, 32 bits each: counted, answered 1
constexpr UINT msgPing = 49238;            // answered 1
constexpr UINT msgMaxDevices = 49245;      // answered the device limit (--devices)
constexpr UINT msgSlotLimitA = 49233;      // answered 4096
constexpr UINT msgSlotLimitB = 49234;      // answered 4096
constexpr UINT msgMaxDatabases = 49243;    // answered 10

// From the hub to a driver
constexpr UINT msgNSMessage = 2121;           // through the relay: wParam 0, the text of the ns command
constexpr UINT msgTextMessage = 2189;         // through the relay: the wParam and text of the text command
constexpr UINT msgDatabaseChange = 2174;      // wParam the device, lParam index | database << 16
constexpr UINT msgDatabaseChangeWide = 49854; // through the relay: wParam 0, device, index, database (32 bits each)
constexpr UINT msgKivClosing = 2175;          // wParam 0, lParam 0: the hub is closing
constexpr UINT msgDeclineState2 = 2179;       // wParam 0, lParam 0: the driver's answer is printed
constexpr UINT msgTakeState2 = 2180;          // wParam 0, lParam 0: the answer 1 puts the driver in state 2
constexpr UINT msgAcceptState2 = 2181;        // wParam 0, lParam 0: the driver's answer is printed
constexpr UINT msgTakeState1 = 2190;          // wParam 0, lParam 0: puts the driver in state 1
constexpr UINT msgCarried = 2074;             // to a mode-2 driver: wParam message | wParam << 16, lParam as is

// The relay's reply (RELAY_REPLY in driver/telmwm32.h): the upper 16 bits of its
// dwData, the result's low 16 bits below
constexpr UINT relayReplyMessage = 2984;

#endif
