/*
 * semantics_agent: a process of its own with one top-level window and one
 * message-only window. It prints "ready TOP HIDDEN" (the handles, decimal),
 * reports on stdout what its windows receive, and takes commands on stdin:
 * "ping" (answers "pong", so everything said before has been read),
 * "destroy" (destroys the top-level window, answers "destroyed"). It ends
 * with its input.
 */
#include "semanticsMessages.h"
#include "testHost.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace {

HWND topWindow = nullptr;
HWND hiddenWindow = nullptr;

void say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

unsigned long long number(HWND window)
{
    return static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window));
}

const char* nameOf(HWND window)
{
    return window == hiddenWindow ? "hidden" : "top";
}

bool isProbe(UINT message, WPARAM wParam)
{
    return message == msgRegisteredProbe || message == msgUserProbe || message == msgAppProbe ||
           (message == WM_NULL && wParam == nullProbeMark);
}

LRESULT onCopyData(HWND window, COPYDATASTRUCT* copy)
{
    const char* bytes = static_cast<const char*>(copy->lpData);
    const std::string text = bytes ? std::string(bytes, strnlen(bytes, copy->cbData)) : "";
    say(std::string("copydata ") + nameOf(window) + " " + std::to_string(copy->dwData) + " " +
        std::to_string(copy->cbData) + " " + text);
    // The block is this process's own copy: scribbling on it must not reach the sender.
    for (DWORD i = 0; i < copy->cbData; ++i)
        static_cast<char*>(copy->lpData)[i] = 'X';
    return copyDataAnswerBase + static_cast<LRESULT>(copy->cbData);
}

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return onCopyData(window, reinterpret_cast<COPYDATASTRUCT*>(lParam));
    if (message == msgDouble || isProbe(message, wParam))
        say(std::string("got ") + nameOf(window) + " " + std::to_string(message) + " " + std::to_string(wParam) +
            " " + std::to_string(lParam));
    if (message == msgDouble)
        return lParam * 2;
    if (message == msgPostThenNest)
        PostMessageA(reinterpret_cast<HWND>(wParam), msgPosted, 0, 0);
    if (message == msgNested || message == msgPostThenNest)
        return SendMessageA(reinterpret_cast<HWND>(wParam), msgNestedReply, static_cast<WPARAM>(lParam), 0) + 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND createWindow(const char* className, HWND parent)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, className, className, 0, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
}

// Reading blocks, so a thread of its own reads the commands.
class commandReader {
public:
    commandReader()
    {
        std::thread([this] {
            for (std::string line; std::getline(std::cin, line);)
                add(line);
            add("end");
        }).detach();
    }

    bool next(std::string& line)
    {
        const std::lock_guard<std::mutex> hold(lock);
        if (lines.empty())
            return false;
        line = lines.front();
        lines.pop_front();
        return true;
    }

private:
    void add(const std::string& line)
    {
        const std::lock_guard<std::mutex> hold(lock);
        lines.push_back(line);
    }

    std::mutex lock;
    std::deque<std::string> lines;
};

// False once the input has ended.
bool obey(const std::string& command)
{
    if (command == "ping")
        say("pong");
    if (command == "destroy") {
        DestroyWindow(topWindow);
        say("destroyed");
    }
    return command != "end";
}

} // namespace

int main()
{
    topWindow = createWindow(topClassName, nullptr);
    hiddenWindow = createWindow(hiddenClassName, HWND_MESSAGE);
    if (topWindow == nullptr || hiddenWindow == nullptr)
        return 1;
    say("ready " + std::to_string(number(topWindow)) + " " + std::to_string(number(hiddenWindow)));
    commandReader commands;
    for (bool going = true; going;) {
        waitForMessages(10);
        dispatchPendingMessages();
        for (std::string line; going && commands.next(line);)
            going = obey(line);
    }
    return 0;
}
