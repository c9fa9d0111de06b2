/*
 * Commands per second from one driver to the stand-in hub, in connection
 * mode 1 (relay) and mode 2 (telmif32), beside bare cross-process
 * WM_COPYDATA round trips of the same bytes to a window that only answers.
 * IR texts carry 0, 255 and 1024 characters.
 *
 *   bench_driver [commands per measurement]     (default 20000)
 *
 * The three kinds are measured in turns, ten batches each, and the best
 * batch of each kind counts: a machine shared with other work slows some
 * batches, never speeds one up. The driver registers anew in the mode of
 * each batch, outside the timing, so the hub holds one driver throughout.
 */
#include "../benchProcesses.h"
#include "rkDriver.h"
#include "rkwin.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using steadyClock = std::chrono::steady_clock;

const char echoClass[] = "benchEcho";
const int device = 5;
const int sizes[] = {0, 255, 1024};
const int batches = 50;

class silentCallback : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver*, const char*) override {}
    void onDatabaseChange(int, int, int) override {}
};

double perSecond(int count, const std::function<void()>& once)
{
    const auto start = steadyClock::now();
    for (int i = 0; i < count; ++i)
        once();
    return count / std::chrono::duration<double>(steadyClock::now() - start).count();
}

LRESULT CALLBACK echoProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

// The child that answers every WM_COPYDATA and does nothing else.
[[noreturn]] void runEcho()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = echoProcedure;
    windowClass.lpszClassName = echoClass;
    RegisterClassA(&windowClass);
    CreateWindowExA(0, echoClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    std::_Exit(0);
}

std::string irCommand(int size)
{
    return "IR " + std::to_string(device) + " 1 '" + std::string(static_cast<size_t>(size), 'x') + "' 0";
}

struct rates {
    double bare = 0;
    double relayed = 0;
    double carried = 0;
};

class measurement {
public:
    measurement(HWND echo, rkDriver& driver) : echo(echo), driver(driver) {}

    // The best batch of each kind for IR texts of size characters.
    rates best(int size, int count)
    {
        const std::string command = irCommand(size);
        std::string bytes = command;
        COPYDATASTRUCT copyData{0x7ef, static_cast<DWORD>(bytes.size() + 1), &bytes[0]};
        const int batch = std::max(1, count / batches);
        rates top;
        for (int i = 0; i < batches; ++i) {
            top.bare = std::max(top.bare, perSecond(batch, [&] {
                SendMessageA(echo, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copyData));
            }));
            top.relayed = std::max(top.relayed, commandRate(1, command, batch));
            top.carried = std::max(top.carried, commandRate(2, command, batch));
        }
        return top;
    }

    int failures = 0;

private:
    double commandRate(int mode, const std::string& command, int batch)
    {
        if (driver.connect(device, mode, 0)) {
            failures += batch;
            return 0;
        }
        return perSecond(batch, [&] { failures += driver.sendCommand(0, command.c_str()) == 1 ? 0 : 1; });
    }

    HWND echo;
    rkDriver& driver;
};

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const bench::privateDesktop privateDesktop;
    if (!privateDesktop.made())
        return 1;
    const std::string& desktop = privateDesktop.path();
    setenv("RK_DESKTOP", desktop.c_str(), 1);

    const pid_t echoPid = fork();
    if (echoPid == 0)
        runEcho();
    int status = 0;
    {
        bench::hubChild hub(desktop);
        const HWND echo = bench::waitForWindow([] { return FindWindowA(echoClass, nullptr); });
        if (hub.window == nullptr || echo == nullptr) {
            std::fprintf(stderr, "bench_driver: the hub or the echo window did not start\n");
            status = 1;
        } else {
            silentCallback callback;
            rkDriver driver(&callback, "rkDriver");
            measurement bench(echo, driver);
            std::printf("%d IR commands per kind and size, best of %d batches\n", count, batches);
            std::printf("%8s %14s %14s %14s %12s\n", "chars", "bare /s", "mode 1 /s", "mode 2 /s", "mode2/bare");
            for (int size : sizes) {
                const rates top = bench.best(size, count);
                std::printf("%8d %14.0f %14.0f %14.0f %11.0f%%\n", size, top.bare, top.relayed, top.carried,
                            100.0 * top.carried / top.bare);
                std::fflush(stdout);
            }
            if (bench.failures > 0) {
                std::fprintf(stderr, "bench_driver: %d commands were not taken\n", bench.failures);
                status = 1;
            }
        }
    }
    kill(echoPid, SIGTERM);
    waitpid(echoPid, nullptr, 0);
    return status;
}
