/*
 * What one client that never reads its answers costs everybody else: the
 * median FindWindowA and IsWindow of a window in another process, first
 * on a quiet desktop, then while a third process has filled its
 * connection to the window station with requests and reads nothing.
 *
 *   bench_station_stall [rounds]     (default 2000)
 */
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../benchProcesses.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

namespace {

using Clock = std::chrono::steady_clock;

const char* const targetClass = "StallTarget";

double medianMicroseconds(int rounds, const std::function<void()>& call)
{
    std::vector<double> times(static_cast<size_t>(rounds));
    for (double& time : times) {
        auto before = Clock::now();
        call();
        time = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<size_t>(rounds / 2)];
}

LRESULT CALLBACK targetProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

[[noreturn]] void runTargetWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = targetProcedure;
    windowClass.lpszClassName = targetClass;
    RegisterClassA(&windowClass);
    if (!CreateWindowExA(0, targetClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr))
        _exit(1);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    _exit(0);
}

HWND findTarget()
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    HWND window = nullptr;
    while (!(window = FindWindowA(targetClass, nullptr)) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return window;
}

int connectToStation(const std::string& desktop)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, (desktop + "/winstation.sock").c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/*
 * Sends Resolve requests until the station has stopped taking them for a
 * while, then tells the parent and waits to be killed, reading nothing.
 */
[[noreturn]] void runHoarder(const std::string& desktop, uint32_t window, int ready)
{
    int fd = connectToStation(desktop);
    if (fd < 0)
        _exit(1);
    rkwire::FrameHeader header = rkwire::makeHeader(rkwire::Kind::Resolve, window, 0);
    std::vector<rkwire::FrameHeader> batch(256, header);
    size_t sent = 0;
    for (;;) {
        ssize_t written = send(fd, batch.data(), batch.size() * sizeof header, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (written > 0) {
            sent += static_cast<size_t>(written);
            continue;
        }
        pollfd entry{fd, POLLOUT, 0};
        if (poll(&entry, 1, 500) == 0)
            break;
    }
    if (write(ready, &sent, sizeof sent) != sizeof sent)
        _exit(1);
    pause();
    _exit(0);
}

void measure(const char* when, int rounds, HWND target)
{
    double find = medianMicroseconds(rounds, [] { FindWindowA(targetClass, nullptr); });
    double isWindow = medianMicroseconds(rounds, [target] { IsWindow(target); });
    std::printf("%-36s %14.1f %14.1f\n", when, find, isWindow);
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (rounds < 10) {
        std::fprintf(stderr, "usage: bench_station_stall [rounds, at least 10]\n");
        return 2;
    }
    char pattern[] = "/tmp/rk-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    std::string desktop = pattern;
    setenv("RK_DESKTOP", pattern, 1);

    pid_t owner = fork();
    if (owner == 0)
        runTargetWindow();
    HWND target = findTarget();
    if (!target) {
        std::fprintf(stderr, "bench_station_stall: the target window did not appear\n");
        kill(owner, SIGKILL);
        return 1;
    }
    std::printf("%d calls each, median us, to a window of another process\n", rounds);
    std::printf("%-36s %14s %14s\n", "", "FindWindowA", "IsWindow");
    measure("quiet desktop", rounds, target);

    int channel[2];
    if (pipe(channel) != 0)
        return 1;
    pid_t hoarder = fork();
    if (hoarder == 0)
        runHoarder(desktop, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(target)), channel[1]);
    size_t sent = 0;
    if (read(channel[0], &sent, sizeof sent) != sizeof sent) {
        std::fprintf(stderr, "bench_station_stall: the hoarding client failed\n");
        return 1;
    }
    measure("one client not reading its answers", rounds, target);
    std::printf("(that client sent %zu bytes of requests before the station stopped taking them)\n", sent);

    kill(hoarder, SIGKILL);
    waitpid(hoarder, nullptr, 0);
    PostMessageA(target, WM_CLOSE, 0, 0);
    waitpid(owner, nullptr, 0);
    bench::removeDesktop(desktop);
    return 0;
}
