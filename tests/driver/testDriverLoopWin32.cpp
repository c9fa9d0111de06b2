#include "testDriverLoop.h"

#include "rkwin.h"

#include <deque>
#include <iostream>

namespace {

// Standard input blocks, so a thread of its own reads it and hands whole
// lines to the loop; a critical section guards them.
CRITICAL_SECTION inputLock;
std::deque<std::string> inputLines;
bool inputEnded = false;
HANDLE wakeEvent = nullptr;

DWORD WINAPI readInput(LPVOID)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        EnterCriticalSection(&inputLock);
        inputLines.push_back(line);
        LeaveCriticalSection(&inputLock);
        SetEvent(wakeEvent);
    }
    EnterCriticalSection(&inputLock);
    inputEnded = true;
    LeaveCriticalSection(&inputLock);
    SetEvent(wakeEvent);
    return 0;
}

// The lines read so far; false once the input has ended and all are taken.
bool takeLines(std::deque<std::string>& lines)
{
    EnterCriticalSection(&inputLock);
    lines.swap(inputLines);
    const bool more = !inputEnded || !lines.empty();
    LeaveCriticalSection(&inputLock);
    return more;
}

void dispatchWindowMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

void runCommandLoop(const std::function<bool(const std::string&)>& onLine)
{
    InitializeCriticalSection(&inputLock);
    wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wakeEvent == nullptr)
        return;
    if (HANDLE reader = CreateThread(nullptr, 0, readInput, nullptr, 0, nullptr))
        CloseHandle(reader);
    for (;;) {
        MsgWaitForMultipleObjects(1, &wakeEvent, FALSE, INFINITE, QS_ALLINPUT);
        dispatchWindowMessages();
        std::deque<std::string> lines;
        const bool more = takeLines(lines);
        for (const std::string& line : lines) {
            if (!onLine(line))
                return;
        }
        if (!more)
            return;
    }
}
