#include "hubLoop.h"

#include "kivStandin.h"

#include <deque>
#include <iostream>
#include <string>

namespace {

constexpr DWORD tickMilliseconds = 250;

// A critical section rather than std::mutex: not every mingw-w64 runtime
// has the standard threads.
CRITICAL_SECTION inputLock;

class inputHold {
public:
    inputHold() { EnterCriticalSection(&inputLock); }
    ~inputHold() { LeaveCriticalSection(&inputLock); }
    inputHold(const inputHold&) = delete;
    inputHold& operator=(const inputHold&) = delete;
};
std::deque<std::string> inputLines;
HANDLE wakeEvent = nullptr;
volatile LONG closeAsked = 0;

BOOL WINAPI onConsoleEvent(DWORD)
{
    InterlockedExchange(&closeAsked, 1);
    SetEvent(wakeEvent);
    return TRUE;
}

// Standard input blocks, so a thread of its own reads it and hands whole
// lines to the loop.
DWORD WINAPI readInput(LPVOID)
{
    for (std::string line; std::getline(std::cin, line);) {
        {
            const inputHold hold;
            inputLines.push_back(line);
        }
        SetEvent(wakeEvent);
    }
    return 0;
}

std::deque<std::string> takeInputLines()
{
    const inputHold hold;
    std::deque<std::string> lines;
    lines.swap(inputLines);
    return lines;
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

int runHubLoop(kivStandin& hub)
{
    InitializeCriticalSection(&inputLock);
    wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wakeEvent == nullptr)
        return 1;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    if (HANDLE reader = CreateThread(nullptr, 0, readInput, nullptr, 0, nullptr))
        CloseHandle(reader);
    while (!hub.finished()) {
        MsgWaitForMultipleObjects(1, &wakeEvent, FALSE, tickMilliseconds, QS_ALLINPUT);
        dispatchWindowMessages();
        if (InterlockedExchange(&closeAsked, 0) != 0)
            hub.requestClose();
        for (const std::string& line : takeInputLines())
            if (!hub.finished())
                hub.runCommand(line);
        hub.tick();
    }
    return 0;
}
