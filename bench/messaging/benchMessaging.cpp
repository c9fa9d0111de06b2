/*
 * Cross-process SendMessageA round trips against the floor of a raw
 * AF_UNIX socketpair ping-pong of the same bytes between two processes.
 *
 *   bench_messaging [round trips]     (default 20000)
 */
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "rkwin.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr UINT msgEcho = WM_APP + 1;
constexpr UINT msgCallBack = WM_APP + 2;
constexpr size_t frameHeaderBytes = 48; /* what every message carries on the socket */
constexpr size_t copyDataBytes = 512;
const char* const echoClass = "BenchEcho";

struct Figures {
    double perSecond;
    double medianMicroseconds;
};

Figures measure(int rounds, const std::function<void()>& roundTrip)
{
    for (int i = 0; i < rounds / 10; ++i)
        roundTrip();
    std::vector<double> times(static_cast<size_t>(rounds));
    auto start = Clock::now();
    for (double& time : times) {
        auto before = Clock::now();
        roundTrip();
        time = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
    }
    double total = std::chrono::duration<double>(Clock::now() - start).count();
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return {rounds / total, times[static_cast<size_t>(rounds / 2)]};
}

LRESULT CALLBACK echoProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case msgEcho:
        return static_cast<LRESULT>(wParam) + 1;
    case msgCallBack:
        return SendMessageA(reinterpret_cast<HWND>(wParam), msgEcho, 1, 0);
    case WM_COPYDATA:
        return static_cast<LRESULT>(reinterpret_cast<const COPYDATASTRUCT*>(lParam)->cbData);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

HWND createEchoWindow(const char* className, HWND parent)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = echoProcedure;
    windowClass.lpszClassName = className;
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, className, "", 0, 0, 0, 0, 0, parent, nullptr, nullptr, nullptr);
}

[[noreturn]] void runEchoWindow()
{
    if (!createEchoWindow(echoClass, nullptr))
        _exit(1);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    _exit(0);
}

HWND findEchoWindow()
{
    auto deadline = Clock::now() + std::chrono::seconds(10);
    HWND window = nullptr;
    while (!(window = FindWindowA(echoClass, nullptr)) && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return window;
}

bool transfer(int fd, char* data, size_t size, bool sending)
{
    size_t done = 0;
    while (done < size) {
        ssize_t moved = sending ? write(fd, data + done, size - done) : read(fd, data + done, size - done);
        if (moved <= 0)
            return false;
        done += static_cast<size_t>(moved);
    }
    return true;
}

Figures rawPingPong(int rounds, size_t size)
{
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return {0, 0};
    pid_t echo = fork();
    if (echo == 0) {
        close(ends[0]);
        std::vector<char> buffer(size);
        while (transfer(ends[1], buffer.data(), size, false) && transfer(ends[1], buffer.data(), size, true)) {
        }
        _exit(0);
    }
    close(ends[1]);
    std::vector<char> buffer(size, 'x');
    Figures figures = measure(rounds, [&] {
        transfer(ends[0], buffer.data(), size, true);
        transfer(ends[0], buffer.data(), size, false);
    });
    close(ends[0]);
    waitpid(echo, nullptr, 0);
    return figures;
}

void report(const char* what, const Figures& figures, const Figures* floor)
{
    std::printf("%-40s %12.0f %12.2f", what, figures.perSecond, figures.medianMicroseconds);
    if (floor)
        std::printf(" %10.2f", figures.medianMicroseconds / floor->medianMicroseconds);
    std::printf("\n");
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

void stopStation(const std::string& desktop)
{
    FILE* file = std::fopen((desktop + "/winstation.pid").c_str(), "r");
    int pid = 0;
    if (file && std::fscanf(file, "%d", &pid) == 1 && pid > 0)
        kill(pid, SIGTERM);
    if (file)
        std::fclose(file);
    int lock = open((desktop + "/winstation.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (lock >= 0) {
        flock(lock, LOCK_EX); /* held by the station until it is gone */
        close(lock);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (rounds < 10) {
        std::fprintf(stderr, "usage: bench_messaging [round trips, at least 10]\n");
        return 2;
    }
    char pattern[] = "/tmp/rk-bench-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    std::string desktop = pattern;
    setenv("RK_DESKTOP", pattern, 1);

    pid_t echo = fork();
    if (echo == 0)
        runEchoWindow();
    HWND target = findEchoWindow();
    HWND own = createEchoWindow("BenchCaller", HWND_MESSAGE);
    if (!target || !own) {
        std::fprintf(stderr, "bench_messaging: the echo window did not appear\n");
        kill(echo, SIGKILL);
        return 1;
    }

    std::vector<char> block(copyDataBytes, 'x');
    COPYDATASTRUCT copy{1, static_cast<DWORD>(block.size()), block.data()};
    Figures plain = measure(rounds, [&] { SendMessageA(target, msgEcho, 1, 2); });
    Figures copyData = measure(rounds, [&] { SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)); });
    Figures nested = measure(rounds, [&] { SendMessageA(target, msgCallBack, reinterpret_cast<WPARAM>(own), 0); });
    Figures rawPlain = rawPingPong(rounds, frameHeaderBytes);
    Figures rawCopyData = rawPingPong(rounds, frameHeaderBytes + copyDataBytes);

    std::printf("%d round trips each, between two processes\n", rounds);
    std::printf("%-40s %12s %12s %10s\n", "", "per second", "median us", "x raw");
    report("raw socketpair, 48 bytes", rawPlain, nullptr);
    report("SendMessageA, plain message", plain, &rawPlain);
    report("raw socketpair, 560 bytes", rawCopyData, nullptr);
    report("SendMessageA, WM_COPYDATA of 512 bytes", copyData, &rawCopyData);
    report("SendMessageA, with one send nested back", nested, &rawPlain);

    PostMessageA(target, WM_CLOSE, 0, 0);
    waitpid(echo, nullptr, 0);
    DestroyWindow(own);
    stopStation(desktop);
    nftw(pattern, removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    return 0;
}
