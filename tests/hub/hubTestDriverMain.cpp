// hub_test_driver DEVICE MODE: registers DEVICE at the running kivstandin
// from a window of its own, prints "registered REPLY", then keeps its window
// alive until standard input ends or it is killed.
#include "rkwin.h"
#include "testHost.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const unsigned long device = std::strtoul(argv[1], nullptr, 10);
    const int mode = std::atoi(argv[2]);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.lpszClassName = "hubTestDriverProcess";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "hubTestDriverProcess", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    HWND hub = FindWindowA("kivstandin", nullptr);
    if (window == nullptr || hub == nullptr)
        return 1;
    const LRESULT reply = SendMessageA(hub, mode == 1 ? 2184 : 2193, reinterpret_cast<WPARAM>(window),
                                       static_cast<LPARAM>(device));
    std::printf("registered %ld\n", static_cast<long>(reply));
    std::fflush(stdout);
    // Reading blocks, so a thread of its own waits for the end of the input.
    std::atomic<bool> inputEnded{false};
    std::thread([&inputEnded] {
        while (std::getchar() != EOF) {
        }
        inputEnded = true;
    }).detach();
    while (!inputEnded) {
        waitForMessages(100);
        dispatchPendingMessages();
    }
    DestroyWindow(window);
    return 0;
}
