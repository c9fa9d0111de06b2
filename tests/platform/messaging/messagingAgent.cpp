/*
 * A scriptable process on the desktop for the messaging tests. It reads one
 * command a line from stdin, answers one line on stdout, and reports what
 * its windows receive. By default it runs a foreign event loop over stdin
 * and the bridge descriptor; with --getmessage CLASS it creates one window
 * and runs a GetMessageA loop instead.
 */
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "agentMessages.h"
#include "rkhost.h"
#include "rkwin.h"

namespace {

bool getMessageLoop = false;
long long counted = 0;
long long outOfTurn = 0; /* msgInOrder posts whose number was not the count so far */

/* Lines from stdin; also read from inside a window procedure (HOLD). */
class LineReader {
public:
    /* A whole line if one is buffered, else reads once; false at end of input. */
    bool next(std::string& line, bool block)
    {
        for (;;) {
            size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return true;
            }
            if (!block && !readable())
                return false;
            char chunk[4096];
            ssize_t got = read(0, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                std::exit(0);
            buffer_.append(chunk, static_cast<size_t>(got));
        }
    }

private:
    static bool readable()
    {
        pollfd entry{0, POLLIN, 0};
        return poll(&entry, 1, 0) == 1;
    }
    std::string buffer_;
};

LineReader input;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

HWND asWindow(unsigned long long value) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(value)); }
unsigned long long asNumber(HWND window) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)); }

LRESULT onCopyData(const COPYDATASTRUCT* copy)
{
    uint32_t hash = agent::hashBytes(copy->lpData, copy->cbData);
    say("copydata %llu %lu %" PRIu32, static_cast<unsigned long long>(copy->dwData),
        static_cast<unsigned long>(copy->cbData), hash);
    return hash & 0x7fffffff;
}

/* How the message being handled came, as the procedure itself sees it. */
LRESULT tellOrigin(const char* prefix)
{
    const DWORD flags = InSendMessageEx(nullptr);
    say("%s %lu %d", prefix, static_cast<unsigned long>(flags), InSendMessage());
    return static_cast<LRESULT>(flags);
}

void holdUntilReleased()
{
    say("holding");
    std::string line;
    while (input.next(line, true) && line != "release") {
    }
}

LRESULT CALLBACK agentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    using namespace agent;
    if (message == WM_CREATE || message == WM_NCCREATE || message == WM_NCDESTROY)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        if (getMessageLoop)
            PostQuitMessage(3);
        return 0;
    }
    if (message == WM_COPYDATA)
        return onCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == msgCount)
        return ++counted;
    if (message == msgInOrder) {
        if (static_cast<long long>(wParam) != counted)
            ++outOfTurn;
        return ++counted;
    }
    say("recv %llu %u %llu %lld", asNumber(window), message, static_cast<unsigned long long>(wParam),
        static_cast<long long>(lParam));
    switch (message) {
    case msgAdd:
        return static_cast<LRESULT>(wParam) + lParam;
    case msgCallBack:
        return SendMessageA(asWindow(wParam), msgAdd, static_cast<WPARAM>(lParam), 1) + 1000;
    case msgNest:
        return lParam > 0 ? SendMessageA(asWindow(wParam), msgNest, reinterpret_cast<WPARAM>(window), lParam - 1) + 1 : 0;
    case msgHold:
        holdUntilReleased();
        return 7;
    case msgReplyThenHold: {
        const BOOL replied = ReplyMessage(5);
        say("replied %d %lu", replied, static_cast<unsigned long>(InSendMessageEx(nullptr)));
        holdUntilReleased();
        return 7;
    }
    case msgPostThenSend:
        PostMessageA(asWindow(wParam), msgPosted, 0, 0);
        return SendMessageA(asWindow(wParam), msgSent, 0, 0);
    case msgPosted:
        return 6;
    case msgSent:
        return 7;
    case msgForward:
        return SendMessageA(asWindow(static_cast<uintptr_t>(lParam)), msgCallBack, wParam, 20);
    case msgAskOrigin:
        return tellOrigin("insend");
    case msgAskThrough: {
        const LRESULT inner = SendMessageA(asWindow(wParam), msgAskOrigin, 0, 0);
        tellOrigin("after");
        return inner;
    }
    case WM_CLOSE:
        return DefWindowProcA(window, message, wParam, lParam);
    default:
        return 0;
    }
}

void ensureClass(const char* name)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = agentProcedure;
    windowClass.cbWndExtra = 16;
    windowClass.lpszClassName = name;
    RegisterClassA(&windowClass);
}

HWND createWindow(const char* className, bool topLevel)
{
    ensureClass(className);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, topLevel ? nullptr : HWND_MESSAGE, nullptr, nullptr,
                           nullptr);
}

void sendCopyData(unsigned long long window, unsigned long size, unsigned long long tag)
{
    std::vector<unsigned char> bytes = agent::patternBytes(size);
    COPYDATASTRUCT copy{static_cast<ULONG_PTR>(tag), static_cast<DWORD>(size), size ? bytes.data() : nullptr};
    say("result %lld", static_cast<long long>(SendMessageA(asWindow(window), WM_COPYDATA, 0,
                                                            reinterpret_cast<LPARAM>(&copy))));
}

/* A send whose answer also tells the last error it left. */
void sendTellingError(unsigned long long window, UINT message, WPARAM wParam, LPARAM lParam)
{
    SetLastError(0);
    const LRESULT result = SendMessageA(asWindow(window), message, wParam, lParam);
    say("sent %lld %lu", static_cast<long long>(result), static_cast<unsigned long>(GetLastError()));
}

void postMany(HWND window, UINT message, unsigned long long count)
{
    unsigned long long posted = 0;
    DWORD error = 0;
    static unsigned long long inOrderNumber = 0; /* msgInOrder posts are numbered on across commands */
    for (unsigned long long i = 0; i < count; ++i) {
        if (PostMessageA(window, message, message == agent::msgInOrder ? inOrderNumber++ : i, 0))
            ++posted;
        else
            error = GetLastError();
    }
    say("postedmany %llu %lu", posted, static_cast<unsigned long>(error));
}

void runCommand(const std::string& line)
{
    char verb[32] = "";
    char text[256] = "";
    unsigned long long window = 0, wParam = 0;
    long long lParam = 0;
    unsigned int message = 0;
    if (std::sscanf(line.c_str(), "%31s", verb) != 1)
        return;
    std::string command = verb;
    if (command == "create" && std::sscanf(line.c_str(), "%*s %255s %31s", text, verb) == 2) {
        say("window %llu", asNumber(createWindow(text, std::string(verb) == "top")));
    } else if (command == "destroy" && std::sscanf(line.c_str(), "%*s %llu", &window) == 1) {
        say("destroyed %d", DestroyWindow(asWindow(window)));
    } else if (command == "send" && std::sscanf(line.c_str(), "%*s %llu %u %llu %lld", &window, &message, &wParam, &lParam) == 4) {
        say("result %lld", static_cast<long long>(SendMessageA(asWindow(window), message, wParam, lParam)));
    } else if (command == "senderror" && std::sscanf(line.c_str(), "%*s %llu %u %llu %lld", &window, &message, &wParam, &lParam) == 4) {
        sendTellingError(window, message, wParam, lParam);
    } else if (command == "post" && std::sscanf(line.c_str(), "%*s %llu %u %llu %lld", &window, &message, &wParam, &lParam) == 4) {
        BOOL posted = PostMessageA(asWindow(window), message, wParam, lParam);
        say("posted %d %lu", posted, static_cast<unsigned long>(posted ? 0 : GetLastError()));
    } else if (command == "postmany" && std::sscanf(line.c_str(), "%*s %llu %u %llu", &window, &message, &wParam) == 3) {
        postMany(asWindow(window), message, wParam);
    } else if (command == "count") {
        say("count %lld %lld", counted, outOfTurn);
    } else if (command == "copydata" && std::sscanf(line.c_str(), "%*s %llu %llu %llu", &window, &wParam, &lParam) >= 2) {
        sendCopyData(window, static_cast<unsigned long>(wParam), static_cast<unsigned long long>(lParam));
    } else if (command == "find" && std::sscanf(line.c_str(), "%*s %255s", text) == 1) {
        say("found %llu", asNumber(FindWindowA(text, nullptr)));
    } else if (command == "iswindow" && std::sscanf(line.c_str(), "%*s %llu", &window) == 1) {
        say("iswindow %d", IsWindow(asWindow(window)));
    } else if (command == "insend") {
        tellOrigin("insend");
    } else if (command == "ping") {
        say("pong");
    } else if (command == "exit") {
        std::exit(0);
    } else {
        say("error %s", line.c_str());
    }
}

/* The stand-in hub's kind of loop: poll, then dispatch only when the descriptor says so. */
int bridgeLoop()
{
    int events = rkMessageEventFd();
    if (events < 0) {
        say("error no desktop");
        return 1;
    }
    say("ready %d", static_cast<int>(getpid()));
    for (;;) {
        std::string line;
        while (input.next(line, false))
            runCommand(line);
        pollfd watched[2] = {{0, POLLIN, 0}, {events, POLLIN, 0}};
        if (poll(watched, 2, -1) < 0 && errno != EINTR)
            return 1;
        if (watched[1].revents & POLLIN)
            rkDispatchPendingMessages();
    }
}

int getMessageMain(const char* className)
{
    getMessageLoop = true;
    HWND window = createWindow(className, true);
    say("window %llu", asNumber(window));
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    say("quit %d %llu", got, static_cast<unsigned long long>(message.wParam));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--getmessage") == 0)
        return getMessageMain(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--claim-delay") == 0)
        setenv("RK_TEST_CLAIM_DELAY_MS", argv[2], 1);
    return bridgeLoop();
}
