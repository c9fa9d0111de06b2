/* The window messages between a driver and KIV. */
#ifndef RKDRIVERMESSAGES_H
#define RKDRIVERMESSAGES_H

#include "rkwin.h"

/* Finding KIV */
const UINT msgWhereIsKiv = 2031;
const UINT msgWhereIsKivAgain = 49153;
const UINT msgKivIsHere = 2032;
const UINT msgIdentity = 49552;

/* Registration and state */
const UINT msgRegister = 2184;
const UINT msgRegisterMode2 = 2193;
const UINT msgRegisterMode2Wide = 49859;
const UINT msgAskState = 2214;
const UINT msgSetState = 2215;
const UINT msgUnregister = 2185;
const UINT msgForgetWindow = 2186;

/* Command texts and values to KIV */
const UINT msgNSCommand = 2123;
const UINT msgRMCommand = 2124;
const UINT msgRMCommandCopy = 2159;
const UINT msgCommand = 2187;
const UINT msgDeviceValue = 49244;
const UINT msgDeviceValueWide = 49860;
const UINT msgPing = 49238;
const UINT msgMaxDevices = 49245;
const UINT msgSlotLimitA = 49233;
const UINT msgSlotLimitB = 49234;
const UINT msgMaxDatabases = 49243;

/* From KIV */
const UINT msgNSMessage = 2121;
const UINT msgTextMessage = 2189;
const UINT msgDatabaseChange = 2174;
const UINT msgDatabaseChangeWide = 49854;
const UINT msgKivClosing = 2175;
const UINT msgDeclineState2 = 2179;
const UINT msgTakeState2 = 2180;
const UINT msgAcceptState2 = 2181;
const UINT msgTakeState1 = 2190;
const UINT msgCarried = 2074;

/* Posted by the message window to itself */
const UINT msgDeliverPosts = 2334;

#endif /* RKDRIVERMESSAGES_H */
