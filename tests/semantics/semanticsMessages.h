/*
 * The messages the semantics tests and their agent exchange. Numbers in the
 * registered range (0xC000 and above) travel in broadcasts; the private
 * ones (WM_USER, WM_APP) must not.
 */
#ifndef SEMANTICS_MESSAGES_H
#define SEMANTICS_MESSAGES_H

#include "rkwin.h"

// Answers lParam * 2.
const UINT msgDouble = 0xC300;
// The receiver sends msgNestedReply (wParam = this lParam) back to the
// window in wParam and answers that answer + 1.
const UINT msgNested = 0xC200;
const UINT msgNestedReply = 0xC201;
// As msgNested, but first posts msgPosted to the window in wParam.
const UINT msgPostThenNest = 0xC202;
const UINT msgPosted = 0xC203;
// Broadcast probes: each window reports them.
const UINT msgRegisteredProbe = 0xC400;
const UINT msgUserProbe = WM_USER + 5;
const UINT msgAppProbe = WM_APP + 5;
// WM_NULL counts as a probe only with this wParam, so the system's own
// WM_NULL messages go unreported.
const WPARAM nullProbeMark = 0x5A5A;

// What the agent answers for WM_COPYDATA: this plus the byte count.
const LRESULT copyDataAnswerBase = 1000;

const char topClassName[] = "semanticsTop";
const char hiddenClassName[] = "semanticsHidden";

#endif
