/*
 * Sends a message the way a hostile process on the desktop can: a raw
 * send frame on a connection of its own to the window's owner, with the
 * parameters as given, past every check this process's sending makes.
 * Linux only: on Windows the system itself carries messages.
 */
#ifndef FOREIGN_SEND_H
#define FOREIGN_SEND_H

#include "rkwin.h"

#include <string>

struct foreignAnswer {
    bool answered = false; // false when no reply came within the bound (the owner died)
    LRESULT result = 0;
};

// To window of process owner on the desktop directory given.
foreignAnswer sendAsForeignProcess(const std::string& desktop, DWORD owner, HWND window, UINT message,
                                   WPARAM wParam, LPARAM lParam);

#endif
