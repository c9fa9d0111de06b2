/*
 * Cross-process SendMessageA round trips against two floors between two
 * processes: a futex ping-pong through shared memory (what any transport
 * through shared memory can at best reach) and a raw AF_UNIX socketpair
 * ping-pong of the same bytes (what the layer's socket path is built on).
 *
 * The layer is measured twice in one run, with its shared-memory fast path
 * off (RK_SHARED_MEMORY=0) and on. The layer reads that switch once per
 * process, so each measurement runs in a fresh copy of this program, on its
 * own private desktop, and hands its figures back through a pipe.
 *
 *   bench_messaging [round trips]     (default 20000)
 */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <linux/futex.h>
#include <new>
#include <string>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/syscall.h>
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
constexpr size_t smallCopyBytes = 512;
constexpr size_t largeCopyBytes = 4096;
constexpr auto futexSpin = std::chrono::microseconds(20);
const char* const echoClass = "BenchEcho";
/* Not in the usage: how main asks a fresh copy of itself to measure the layer. */
const char* const layerChildArgument = "--measure-layer-into-fd";

/* Targets for the fast path, as ratios to the socketpair floor. */
constexpr double plainTarget = 0.7;
constexpr double copyDataTarget = 0.7;
constexpr double nestedTarget = 1.5; /* of two socketpair round trips */

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

/* ---- The futex floor ---------------------------------------------------- */

/* One page shared by the two processes. Each side says when it sleeps, so
 * that the other pays for FUTEX_WAKE only when somebody is there to wake. */
struct PingPongPage {
    std::atomic<uint32_t> counter;
    std::atomic<uint32_t> parentAsleep;
    std::atomic<uint32_t> childAsleep;
    std::atomic<uint32_t> stop;
};
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex word must be a plain 32-bit word");

uint32_t* futexWord(std::atomic<uint32_t>& word) { return reinterpret_cast<uint32_t*>(&word); }

/* Not FUTEX_PRIVATE_FLAG: the waiter and the waker are different processes. */
void futexWait(std::atomic<uint32_t>& word, uint32_t expected)
{
    syscall(SYS_futex, futexWord(word), FUTEX_WAIT, expected, nullptr, nullptr, 0);
}

void futexWake(std::atomic<uint32_t>& word) { syscall(SYS_futex, futexWord(word), FUTEX_WAKE, 1, nullptr, nullptr, 0); }

inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

uint32_t spinWhileUnchanged(std::atomic<uint32_t>& word, uint32_t written, Clock::duration spin)
{
    auto deadline = Clock::now() + spin;
    uint32_t seen;
    while ((seen = word.load()) == written && Clock::now() < deadline)
        cpuRelax();
    return seen;
}

/* Announcing the sleep before looking once more closes the window in which
 * the other side could change the counter without seeing the flag. */
uint32_t awaitChange(PingPongPage& page, uint32_t written, std::atomic<uint32_t>& asleep, Clock::duration spin)
{
    uint32_t seen = spinWhileUnchanged(page.counter, written, spin);
    while (seen == written) {
        asleep.store(1);
        if (page.counter.load() == written)
            futexWait(page.counter, written);
        asleep.store(0);
        seen = page.counter.load();
    }
    return seen;
}

void publish(PingPongPage& page, uint32_t value, std::atomic<uint32_t>& otherAsleep)
{
    page.counter.store(value);
    if (otherAsleep.load())
        futexWake(page.counter);
}

[[noreturn]] void answerPings(PingPongPage& page, Clock::duration spin)
{
    uint32_t written = 0;
    for (;;) {
        uint32_t seen = awaitChange(page, written, page.childAsleep, spin);
        if (page.stop.load())
            _exit(0);
        written = seen + 1;
        publish(page, written, page.parentAsleep);
    }
}

Figures futexPingPong(int rounds, Clock::duration spin)
{
    void* mapping = mmap(nullptr, sizeof(PingPongPage), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED)
        return {0, 0};
    auto* page = new (mapping) PingPongPage{};
    pid_t echo = fork();
    if (echo == 0)
        answerPings(*page, spin);
    uint32_t seen = 0;
    Figures figures{0, 0};
    if (echo > 0) {
        figures = measure(rounds, [&] {
            publish(*page, seen + 1, page->childAsleep);
            seen = awaitChange(*page, seen + 1, page->parentAsleep, spin);
        });
        page->stop.store(1);
        publish(*page, seen + 1, page->childAsleep);
        waitpid(echo, nullptr, 0);
    }
    munmap(mapping, sizeof(PingPongPage));
    return figures;
}

/* ---- The socketpair floor ----------------------------------------------- */

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

Figures socketpairPingPong(int rounds, size_t size)
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

struct Floors {
    Figures futexSpinning;
    Figures futexOnly;
    Figures socketPlain;
    Figures socketSmallCopy;
    Figures socketLargeCopy;
};

Floors measureFloors(int rounds)
{
    return {futexPingPong(rounds, futexSpin), futexPingPong(rounds, Clock::duration::zero()),
            socketpairPingPong(rounds, frameHeaderBytes), socketpairPingPong(rounds, frameHeaderBytes + smallCopyBytes),
            socketpairPingPong(rounds, frameHeaderBytes + largeCopyBytes)};
}

/* ---- The layer, measured in a fresh process ----------------------------- */

/* Trivially copyable: it crosses the pipe as bytes, between two copies of one program. */
struct LayerFigures {
    bool measured;
    Figures plain;
    Figures smallCopy;
    Figures largeCopy;
    Figures nested;
};

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

Figures measureCopyData(int rounds, HWND target, size_t size)
{
    std::vector<char> block(size, 'x');
    COPYDATASTRUCT copy{1, static_cast<DWORD>(block.size()), block.data()};
    return measure(rounds, [&] { SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)); });
}

/* A figure for a send that silently fails would flatter the layer. */
bool echoAnswers(HWND target, HWND own)
{
    std::vector<char> block(largeCopyBytes, 'x');
    COPYDATASTRUCT copy{1, static_cast<DWORD>(block.size()), block.data()};
    return SendMessageA(target, msgEcho, 1, 0) == 2 &&
           SendMessageA(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy)) == static_cast<LRESULT>(largeCopyBytes) &&
           SendMessageA(target, msgCallBack, reinterpret_cast<WPARAM>(own), 0) == 2;
}

LayerFigures measureLayer(int rounds)
{
    LayerFigures figures{};
    pid_t echo = fork();
    if (echo == 0)
        runEchoWindow();
    HWND target = findEchoWindow();
    HWND own = createEchoWindow("BenchCaller", HWND_MESSAGE);
    if (!target || !own || !echoAnswers(target, own)) {
        std::fprintf(stderr, "bench_messaging: the echo window did not appear or did not answer\n");
        kill(echo, SIGKILL);
        waitpid(echo, nullptr, 0);
        return figures;
    }
    figures.plain = measure(rounds, [&] { SendMessageA(target, msgEcho, 1, 2); });
    figures.smallCopy = measureCopyData(rounds, target, smallCopyBytes);
    figures.largeCopy = measureCopyData(rounds, target, largeCopyBytes);
    figures.nested = measure(rounds, [&] { SendMessageA(target, msgCallBack, reinterpret_cast<WPARAM>(own), 0); });
    figures.measured = true;
    PostMessageA(target, WM_CLOSE, 0, 0);
    waitpid(echo, nullptr, 0);
    DestroyWindow(own);
    return figures;
}

/* The fresh copy: RK_DESKTOP and RK_SHARED_MEMORY were set by the parent. */
int runLayerChild(int fd, int rounds)
{
    LayerFigures figures = measureLayer(rounds);
    bool handedOver = transfer(fd, reinterpret_cast<char*>(&figures), sizeof figures, true);
    close(fd);
    return figures.measured && handedOver ? 0 : 1;
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

/* In the forked child, before the exec: its own process group, so that a
 * copy that fails can be cleared away with its echo process in one go. */
[[noreturn]] void execLayerChild(const char* desktop, bool sharedMemory, int fd, int rounds)
{
    setpgid(0, 0);
    setenv("RK_DESKTOP", desktop, 1);
    if (sharedMemory)
        unsetenv("RK_SHARED_MEMORY"); /* unset means on, whatever the caller's shell says */
    else
        setenv("RK_SHARED_MEMORY", "0", 1);
    std::string fdText = std::to_string(fd);
    std::string roundsText = std::to_string(rounds);
    execl("/proc/self/exe", "bench_messaging", layerChildArgument, fdText.c_str(), roundsText.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
}

/* The parent owns the desktop, so that it is gone even if the copy dies. */
LayerFigures measureLayerInFreshProcess(int rounds, bool sharedMemory)
{
    LayerFigures figures{};
    char desktop[] = "/tmp/rk-bench-XXXXXX";
    int ends[2];
    if (!mkdtemp(desktop))
        return figures;
    if (pipe2(ends, O_CLOEXEC) == 0) {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            close(ends[0]);
            fcntl(ends[1], F_SETFD, 0); /* the write end only survives the exec */
            execLayerChild(desktop, sharedMemory, ends[1], rounds);
        }
        close(ends[1]);
        bool received = child > 0 && transfer(ends[0], reinterpret_cast<char*>(&figures), sizeof figures, false);
        close(ends[0]);
        int status = 0;
        if (child > 0)
            waitpid(child, &status, 0);
        if (!received || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            figures.measured = false;
            if (child > 0)
                kill(-child, SIGKILL); /* its echo process, if it outlived it */
        }
    }
    stopStation(desktop);
    nftw(desktop, removeEntry, 8, FTW_DEPTH | FTW_PHYS);
    return figures;
}

/* ---- The table ---------------------------------------------------------- */

void printFloor(const char* what, const Figures& figures)
{
    std::printf("  %-44s %12.0f %10.2f\n", what, figures.perSecond, figures.medianMicroseconds);
}

void printFloors(const Floors& floors)
{
    std::printf("  %-44s %12s %10s\n", "Floors", "per second", "median us");
    std::string spinning = "futex, spin up to " + std::to_string(futexSpin.count()) + " us then FUTEX_WAIT";
    printFloor(spinning.c_str(), floors.futexSpinning);
    printFloor("futex, FUTEX_WAIT at once", floors.futexOnly);
    printFloor("socketpair, 48 bytes", floors.socketPlain);
    printFloor("socketpair, 560 bytes (48 + 512)", floors.socketSmallCopy);
    printFloor("socketpair, 4144 bytes (48 + 4096)", floors.socketLargeCopy);
    std::printf("  %-44s %12s %10.2f\n", "two socketpair round trips of 48 bytes", "",
                2 * floors.socketPlain.medianMicroseconds);
}

/* One side of a row: the figures and their ratios to the floors; the ratio
 * to two socketpair round trips only where the send makes two. */
void printSide(const LayerFigures& layer, const Figures LayerFigures::*row, const Floors& floors,
               const Figures& socketFloor, bool twoRoundTrips)
{
    if (!layer.measured) {
        std::printf(" | %10s %9s %7s %7s %7s", "failed", "-", "-", "-", "-");
        return;
    }
    const Figures& figures = layer.*row;
    double median = figures.medianMicroseconds;
    std::printf(" | %10.0f %9.2f %7.2f %7.2f", figures.perSecond, median,
                median / floors.futexSpinning.medianMicroseconds, median / socketFloor.medianMicroseconds);
    if (twoRoundTrips)
        std::printf(" %7.2f", median / (2 * floors.socketPlain.medianMicroseconds));
    else
        std::printf(" %7s", "-");
}

void printLayerRow(const char* what, const Figures LayerFigures::*row, const LayerFigures& before,
                   const LayerFigures& after, const Floors& floors, const Figures& socketFloor,
                   bool twoRoundTrips = false)
{
    std::printf("  %-26s", what);
    printSide(before, row, floors, socketFloor, twoRoundTrips);
    printSide(after, row, floors, socketFloor, twoRoundTrips);
    std::printf("\n");
}

void printLayer(const LayerFigures& before, const LayerFigures& after, const Floors& floors)
{
    std::printf("  %-26s | %-44s | %s\n", "SendMessageA", "before: fast path off (RK_SHARED_MEMORY=0)",
                "after: fast path on");
    std::printf("  %-26s", "");
    for (int side = 0; side < 2; ++side)
        std::printf(" | %10s %9s %7s %7s %7s", "per second", "median us", "x futex", "x sockp", "x 2sock");
    std::printf("\n");
    printLayerRow("plain message", &LayerFigures::plain, before, after, floors, floors.socketPlain);
    printLayerRow("WM_COPYDATA of 512 bytes", &LayerFigures::smallCopy, before, after, floors, floors.socketSmallCopy);
    printLayerRow("WM_COPYDATA of 4096 bytes", &LayerFigures::largeCopy, before, after, floors, floors.socketLargeCopy);
    printLayerRow("one send nested back", &LayerFigures::nested, before, after, floors, floors.socketPlain, true);
    std::printf("  x futex: to the spinning futex floor; x sockp: to the socketpair floor of the same bytes;\n"
                "  x 2sock: to two socketpair round trips of 48 bytes\n");
}

std::string verdict(const LayerFigures& layer, const Figures LayerFigures::*row, double floorMicroseconds,
                    double limit)
{
    if (!layer.measured)
        return "   failed";
    double ratio = (layer.*row).medianMicroseconds / floorMicroseconds;
    char text[32];
    std::snprintf(text, sizeof text, "%7.2f %s", ratio, ratio <= limit ? "met" : "missed");
    return text;
}

void printTarget(const char* what, const Figures LayerFigures::*row, const LayerFigures& before,
                 const LayerFigures& after, double floorMicroseconds, double limit)
{
    std::printf("  %-52s %-14s %s\n", what, verdict(before, row, floorMicroseconds, limit).c_str(),
                verdict(after, row, floorMicroseconds, limit).c_str());
}

void printTargets(const LayerFigures& before, const LayerFigures& after, const Floors& floors)
{
    std::printf("  %-52s %-14s %s\n", "Targets, for the fast path (x floor)", "before", "after");
    printTarget("plain send <= 0.7 x socketpair of 48 bytes", &LayerFigures::plain, before, after,
                floors.socketPlain.medianMicroseconds, plainTarget);
    printTarget("WM_COPYDATA 512 B <= 0.7 x socketpair of 560 bytes", &LayerFigures::smallCopy, before, after,
                floors.socketSmallCopy.medianMicroseconds, copyDataTarget);
    printTarget("nested <= 1.5 x two socketpair round trips", &LayerFigures::nested, before, after,
                2 * floors.socketPlain.medianMicroseconds, nestedTarget);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], layerChildArgument) == 0)
        return runLayerChild(std::atoi(argv[2]), std::atoi(argv[3]));
    int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (rounds < 10) {
        std::fprintf(stderr, "usage: bench_messaging [round trips, at least 10]\n");
        return 2;
    }
    Floors floors = measureFloors(rounds);
    LayerFigures before = measureLayerInFreshProcess(rounds, false);
    LayerFigures after = measureLayerInFreshProcess(rounds, true);

    std::printf("%d round trips each, between two processes\n\n", rounds);
    printFloors(floors);
    std::printf("\n");
    printLayer(before, after, floors);
    std::printf("\n");
    printTargets(before, after, floors);
    return before.measured && after.measured ? 0 : 1;
}
