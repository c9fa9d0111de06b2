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
 * Three tables in one run:
 *  - the floors and the layer on a quiet machine;
 *  - paced sends, measured by the same two copies after their table: one
 *    plain send every 10 ms, the echo process asleep in its message loop
 *    between them, so that every send has to wake it (300 sends each way);
 *  - the floors and the layer again while one core is kept busy by a
 *    process of its own that spins, pinned to nothing, with a quarter of
 *    the round trips (a busy machine makes every one slower); its targets
 *    are judged against its own floors.
 * 20-30 s with the defaults on the 2-core development machine.
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
#include <functional>
#include <iterator>
#include <linux/futex.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../benchProcesses.h"
#include "rkwin.h"

namespace {

using bench::transfer;

using Clock = std::chrono::steady_clock;

constexpr UINT msgEcho = WM_APP + 1;
constexpr UINT msgCallBack = WM_APP + 2;
constexpr size_t frameHeaderBytes = 48; /* what every message carries on the socket */
constexpr size_t smallCopyBytes = 512;
constexpr size_t largeCopyBytes = 4096;
constexpr auto futexSpin = std::chrono::microseconds(20);
constexpr auto pacedInterval = std::chrono::milliseconds(10);
constexpr int pacedSends = 300;
constexpr int busyShare = 4; /* with a core kept busy: a quarter of the round trips */
const char* const echoClass = "BenchEcho";
/* Not in the usage: how main asks a fresh copy of itself to measure the layer. */
const char* const layerChildArgument = "--measure-layer-into-fd";

/* Targets for the fast path, as ratios to the socketpair floor. */
constexpr double plainTarget = 0.7;
constexpr double copyDataTarget = 0.7;
constexpr double nestedTarget = 1.5; /* of two socketpair round trips */
constexpr double pacedTarget = 1.0;  /* of the socket path's paced median */

struct Figures {
    double perSecond;
    double medianMicroseconds;
};

/* The time below which that fraction of the times lie; reorders them. */
double percentile(std::vector<double>& times, double fraction)
{
    auto at = times.begin() + static_cast<std::ptrdiff_t>(fraction * static_cast<double>(times.size() - 1) + 0.5);
    std::nth_element(times.begin(), at, times.end());
    return *at;
}

double microseconds(Clock::duration duration) { return std::chrono::duration<double, std::micro>(duration).count(); }

Figures measure(int rounds, const std::function<void()>& roundTrip)
{
    for (int i = 0; i < rounds / 10; ++i)
        roundTrip();
    std::vector<double> times(static_cast<size_t>(rounds));
    auto start = Clock::now();
    for (double& time : times) {
        auto before = Clock::now();
        roundTrip();
        time = microseconds(Clock::now() - before);
    }
    double total = std::chrono::duration<double>(Clock::now() - start).count();
    return {rounds / total, percentile(times, 0.5)};
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
    if (echo == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); /* it would sleep on the futex forever without its parent */
        answerPings(*page, spin);
    }
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

struct PacedFigures {
    bool measured;
    int sends;
    double medianMicroseconds;
    double ninetiethMicroseconds;
};

/* Trivially copyable: it crosses the pipe as bytes, between two copies of one program. */
struct LayerFigures {
    bool measured;
    Figures plain;
    Figures smallCopy;
    Figures largeCopy;
    Figures nested;
    PacedFigures paced; /* not measured where no paced sends were asked for */
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

/* Sends on a schedule, not one after the other: between two sends both
 * processes sleep, and each send has to wake the echo process. */
PacedFigures measurePaced(int sends, HWND target)
{
    PacedFigures figures{true, sends, 0, 0};
    std::vector<double> times;
    auto due = Clock::now();
    for (int i = 0; i < sends; ++i) {
        due += pacedInterval;
        std::this_thread::sleep_until(due);
        auto before = Clock::now();
        LRESULT answer = SendMessageA(target, msgEcho, 1, 0);
        times.push_back(microseconds(Clock::now() - before));
        figures.measured = figures.measured && answer == 2;
    }
    if (!figures.measured)
        std::fprintf(stderr, "bench_messaging: a paced send was not answered\n");
    figures.medianMicroseconds = percentile(times, 0.5);
    figures.ninetiethMicroseconds = percentile(times, 0.9);
    return figures;
}

LayerFigures measureLayer(int rounds, int paced)
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
    if (paced > 0)
        figures.paced = measurePaced(paced, target);
    PostMessageA(target, WM_CLOSE, 0, 0);
    waitpid(echo, nullptr, 0);
    DestroyWindow(own);
    return figures;
}

/* The fresh copy: RK_DESKTOP and RK_SHARED_MEMORY were set by the parent. */
int runLayerChild(int fd, int rounds, int paced)
{
    LayerFigures figures = measureLayer(rounds, paced);
    bool handedOver = bench::sendValue(fd, figures);
    close(fd);
    return figures.measured && handedOver ? 0 : 1;
}

/* In the forked child, before the exec: its own process group, so that a
 * copy that fails can be cleared away with its echo process in one go. */
[[noreturn]] void execLayerChild(const char* desktop, bool sharedMemory, int fd, int rounds, int paced)
{
    setpgid(0, 0);
    setenv("RK_DESKTOP", desktop, 1);
    if (sharedMemory)
        unsetenv("RK_SHARED_MEMORY"); /* unset means on, whatever the caller's shell says */
    else
        setenv("RK_SHARED_MEMORY", "0", 1);
    std::string fdText = std::to_string(fd);
    std::string roundsText = std::to_string(rounds);
    std::string pacedText = std::to_string(paced);
    execl("/proc/self/exe", "bench_messaging", layerChildArgument, fdText.c_str(), roundsText.c_str(),
          pacedText.c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

/* The parent owns the desktop, so that it is gone even if the copy dies. */
LayerFigures measureLayerInFreshProcess(int rounds, bool sharedMemory, int paced)
{
    LayerFigures figures{};
    bench::privateDesktop desktop;
    int ends[2];
    if (!desktop.made())
        return figures;
    if (pipe2(ends, O_CLOEXEC) == 0) {
        std::fflush(nullptr);
        pid_t child = fork();
        if (child == 0) {
            close(ends[0]);
            fcntl(ends[1], F_SETFD, 0); /* the write end only survives the exec */
            execLayerChild(desktop.path().c_str(), sharedMemory, ends[1], rounds, paced);
        }
        close(ends[1]);
        bool received = child > 0 && bench::receiveValue(ends[0], figures);
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
    return figures;
}

/* One table's measurements: the floors, then the layer without and with its fast path. */
struct Run {
    int rounds;
    Floors floors;
    LayerFigures before;
    LayerFigures after;

    bool measured() const { return before.measured && after.measured; }
};

Run measureRun(int rounds, int paced)
{
    Run run{rounds, measureFloors(rounds), {}, {}};
    run.before = measureLayerInFreshProcess(rounds, false, paced);
    run.after = measureLayerInFreshProcess(rounds, true, paced);
    return run;
}

/* ---- One core kept busy ------------------------------------------------- */

/* For the signal handler: the spinning process and the process that owns it. */
volatile sig_atomic_t spinnerPid = 0;
volatile sig_atomic_t spinnerOwner = 0;
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

/* Only async-signal-safe calls. A forked child inherits the handler, not the spinner. */
extern "C" void killSpinnerAndEnd(int signalNumber)
{
    if (spinnerPid > 0 && getpid() == spinnerOwner)
        kill(spinnerPid, SIGKILL);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

[[noreturn]] void spin()
{
    volatile unsigned long spins = 0;
    for (;;)
        spins = spins + 1;
}

/*
 * A process of its own that spins while the object lives, pinned to no
 * core. It goes on every way out of this program: the destructor ends it on
 * any return, the handler on the usual ending signals, and the parent-death
 * signal on every other death of this process, SIGKILL and crashes included.
 */
class BusyCore {
public:
    BusyCore()
    {
        std::fflush(nullptr);
        const pid_t owner = getpid();
        const pid_t child = fork();
        if (child == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != owner) /* the owner was gone before the line above */
                _exit(0);
            spin();
        }
        if (child < 0)
            return;
        spinnerOwner = owner;
        spinnerPid = child;
        struct sigaction ending {};
        ending.sa_handler = killSpinnerAndEnd;
        sigemptyset(&ending.sa_mask);
        for (size_t i = 0; i < std::size(endingSignals); ++i) {
            sigaction(endingSignals[i], nullptr, &previous[i]);
            if (previous[i].sa_handler != SIG_IGN) /* under nohup, a hangup stays ignored */
                sigaction(endingSignals[i], &ending, nullptr);
        }
    }

    ~BusyCore()
    {
        const pid_t child = spinnerPid;
        if (child <= 0 || getpid() != spinnerOwner)
            return;
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        spinnerPid = 0;
        for (size_t i = 0; i < std::size(endingSignals); ++i)
            sigaction(endingSignals[i], &previous[i], nullptr);
    }

    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;

    bool running() const { return spinnerPid > 0; }

private:
    struct sigaction previous[std::size(endingSignals)] {};
};

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

void printTargets(const char* heading, const LayerFigures& before, const LayerFigures& after, const Floors& floors)
{
    std::printf("  %-52s %-14s %s\n", heading, "before", "after");
    printTarget("plain send <= 0.7 x socketpair of 48 bytes", &LayerFigures::plain, before, after,
                floors.socketPlain.medianMicroseconds, plainTarget);
    printTarget("WM_COPYDATA 512 B <= 0.7 x socketpair of 560 bytes", &LayerFigures::smallCopy, before, after,
                floors.socketSmallCopy.medianMicroseconds, copyDataTarget);
    printTarget("nested <= 1.5 x two socketpair round trips", &LayerFigures::nested, before, after,
                2 * floors.socketPlain.medianMicroseconds, nestedTarget);
}

void printRun(const Run& run, const char* targetsHeading)
{
    printFloors(run.floors);
    std::printf("\n");
    printLayer(run.before, run.after, run.floors);
    std::printf("\n");
    printTargets(targetsHeading, run.before, run.after, run.floors);
}

void printPacedSide(const char* what, const LayerFigures& layer)
{
    if (!layer.measured || !layer.paced.measured)
        std::printf("  %-44s %10s %12s\n", what, "failed", "-");
    else
        std::printf("  %-44s %10.2f %12.2f\n", what, layer.paced.medianMicroseconds,
                    layer.paced.ninetiethMicroseconds);
}

void printPaced(const LayerFigures& before, const LayerFigures& after)
{
    std::printf("Paced: one plain send every %lld ms, the echo process asleep between them, %d sends\n\n",
                static_cast<long long>(pacedInterval.count()), pacedSends);
    std::printf("  %-44s %10s %12s\n", "SendMessageA", "median us", "90th pct us");
    printPacedSide("before: fast path off (RK_SHARED_MEMORY=0)", before);
    printPacedSide("after: fast path on", after);
    std::printf("\n  %-52s ", "Target: fast path median <= the socket path's");
    if (before.measured && before.paced.measured && after.measured && after.paced.measured) {
        double ratio = after.paced.medianMicroseconds / before.paced.medianMicroseconds;
        std::printf("%7.2f %s\n", ratio, ratio <= pacedTarget ? "met" : "missed");
    } else {
        std::printf("   failed\n");
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], layerChildArgument) == 0)
        return runLayerChild(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
    if (rounds < 10) {
        std::fprintf(stderr, "usage: bench_messaging [round trips, at least 10]\n");
        return 2;
    }
    Run quiet = measureRun(rounds, pacedSends);
    std::printf("%d round trips each, between two processes\n\n", quiet.rounds);
    printRun(quiet, "Targets, for the fast path (x floor)");
    std::printf("\n");
    printPaced(quiet.before, quiet.after);
    std::printf("\n");
    std::fflush(stdout);

    int busyRounds = std::max(10, rounds / busyShare);
    Run busy{busyRounds, {}, {}, {}};
    {
        BusyCore busyCore;
        if (busyCore.running())
            busy = measureRun(busyRounds, 0);
        else
            std::fprintf(stderr, "bench_messaging: no process to keep a core busy\n");
    }
    std::printf("With one core kept busy by a spinning process of its own: %d round trips each\n\n", busy.rounds);
    printRun(busy, "Targets, against this run's floors (x floor)");
    bool measured = quiet.measured() && quiet.before.paced.measured && quiet.after.paced.measured && busy.measured();
    return measured ? 0 : 1;
}
