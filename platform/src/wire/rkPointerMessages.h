/*
 * The system messages whose parameters Win32 defines as addresses in the
 * receiver's memory. Between processes such a number would be read at an
 * address that means nothing there (or whatever a hostile sender chose),
 * so the layer carries none of them across: the sender refuses to send
 * them to another process and the receiver refuses them when they come.
 */
#ifndef RKPOINTERMESSAGES_H
#define RKPOINTERMESSAGES_H

#include "rkwin.h"

namespace rkwire {

/*
 * True for a system message (below WM_USER) with a pointer parameter.
 * WM_COPYDATA is not one of them: its block travels as bytes and arrives
 * as a pointer to the receiver's own copy. Messages from WM_USER up are
 * the applications' own and travel as the numbers they are.
 */
bool carriesPointer(UINT message);

} // namespace rkwire

#endif
