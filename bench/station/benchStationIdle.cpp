/*
 * What the window station costs while its clients are idle: the share of
 * one core its process uses (user + system time) and how often it wakes,
 * with 0, 100 and 400 connected processes that each hold one window and
 * wait in their message loop; each time also while one more process asks
 * after every one of those windows once a second, as the hub does.
 * Then with the 400 stopped, the station killed and a new one keeping
 * their windows until they claim them again, and once they have.
 *
 *   bench_station_idle [seconds per measurement]     (default 5)
 */
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "wire/rkDesktop.h"
#include "rkwin.h"

namespace {

const char* const clientClass = "IdleClient";

volatile sig_atomic_t interrupted = 0;

void noteInterrupt(int) { interrupted = 1; }

/* Sleeps, returning early (false) when the bench is interrupted. */
bool rest(double seconds)
{
    for (int step = 0; step < static_cast<int>(seconds * 100) && !interrupted; ++step) {
        timespec tenth{0, 10 * 1000 * 1000};
        nanosleep(&tenth, nullptr);
    }
    return !interrupted;
}

LRESULT CALLBACK clientProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

/* One window, its handle to the parent, then the message loop until killed. */
[[noreturn]] void runClient(pid_t parent, int ready)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    std::signal(SIGINT, SIG_IGN);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = clientProcedure;
    windowClass.lpszClassName = clientClass;
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, clientClass, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    /* One write of a whole handle: the parent never reads half of one. */
    uint32_t handle = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
    if (!window || write(ready, &handle, sizeof handle) != sizeof handle)
        _exit(1);
    close(ready);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    _exit(0);
}

/* Asks the station after every window once a second, until killed. */
[[noreturn]] void runHub(pid_t parent, const std::vector<uint32_t>& windows)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    std::signal(SIGINT, SIG_IGN);
    for (;;) {
        for (uint32_t window : windows)
            IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(window)));
        Sleep(1000);
    }
}

struct Bench {
    std::string desktop;
    std::vector<pid_t> clients;
    std::vector<uint32_t> windows;
    pid_t hub = -1;
    int ready[2] = {-1, -1};

    /* Starts count clients and waits until each has its window. */
    bool addClients(size_t count)
    {
        pid_t parent = getpid();
        for (size_t i = 0; i < count; ++i) {
            pid_t child = fork();
            if (child < 0)
                return false;
            if (child == 0) {
                close(ready[0]);
                runClient(parent, ready[1]);
            }
            clients.push_back(child);
        }
        for (size_t arrived = 0; arrived < count; ++arrived) {
            pollfd entry{ready[0], POLLIN, 0};
            uint32_t handle = 0;
            if (interrupted || poll(&entry, 1, 20000) <= 0 || read(ready[0], &handle, sizeof handle) != sizeof handle)
                return false;
            windows.push_back(handle);
        }
        return true;
    }

    bool startHub()
    {
        pid_t parent = getpid();
        hub = fork();
        if (hub == 0)
            runHub(parent, windows);
        return hub > 0;
    }

    void stopHub()
    {
        if (hub <= 0)
            return;
        kill(hub, SIGKILL);
        waitpid(hub, nullptr, 0);
        hub = -1;
    }

    void stopClients(size_t from, int signal)
    {
        for (size_t i = from; i < clients.size(); ++i)
            kill(clients[i], signal);
    }

    void removeClients(size_t keep)
    {
        stopClients(keep, SIGKILL);
        for (size_t i = keep; i < clients.size(); ++i)
            waitpid(clients[i], nullptr, 0);
        clients.resize(keep);
        windows.resize(std::min(windows.size(), keep));
    }

    pid_t stationPid() const
    {
        FILE* file = std::fopen(rkwire::stationPidPath(desktop).c_str(), "r");
        int pid = 0;
        if (file) {
            if (std::fscanf(file, "%d", &pid) != 1)
                pid = 0;
            std::fclose(file);
        }
        return pid;
    }

    /* Kills the station and waits until its lifetime lock is free, so that it is gone. */
    void killStation(int signal)
    {
        pid_t pid = stationPid();
        if (pid > 0)
            kill(pid, signal);
        int lock = open(rkwire::stationLockPath(desktop).c_str(), O_RDWR | O_CLOEXEC);
        if (lock >= 0) {
            flock(lock, LOCK_EX);
            close(lock);
        }
    }

    ~Bench()
    {
        stopHub();
        removeClients(0);
        killStation(SIGTERM);
        if (!desktop.empty())
            nftw(desktop.c_str(), [](const char* path, const struct stat*, int, FTW*) { return remove(path); }, 8,
                 FTW_DEPTH | FTW_PHYS);
    }
};

/* A number from a file in /proc/PID/: the field'th after the command name's ")" or, in status, after a key. */
bool procNumber(pid_t pid, const char* file, const char* key, int field, unsigned long long& number)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/%s", static_cast<int>(pid), file);
    FILE* stream = std::fopen(path, "r");
    if (!stream)
        return false;
    char text[4096];
    size_t length = std::fread(text, 1, sizeof text - 1, stream);
    std::fclose(stream);
    text[length] = '\0';
    const char* at = key ? std::strstr(text, key) : std::strrchr(text, ')');
    if (!at)
        return false;
    at += key ? std::strlen(key) : 1;
    for (int skipped = 1; at && skipped < field; ++skipped)
        at = std::strchr(at + 1, ' ');
    if (!at)
        return false;
    number = std::strtoull(at, nullptr, 10);
    return true;
}

/* User + system time of a process in seconds, and its wake-ups (voluntary context switches). */
bool usage(pid_t pid, double& cpu, unsigned long long& wakeups)
{
    unsigned long long user = 0, system = 0;
    if (!procNumber(pid, "stat", nullptr, 12, user) || !procNumber(pid, "stat", nullptr, 13, system) ||
        !procNumber(pid, "status", "voluntary_ctxt_switches:", 1, wakeups))
        return false;
    cpu = static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
    return true;
}

bool measure(const Bench& bench, const char* what, double seconds)
{
    if (!rest(1)) /* what connecting set off has settled */
        return false;
    pid_t station = bench.stationPid();
    double cpuBefore = 0, cpuAfter = 0;
    unsigned long long wakeupsBefore = 0, wakeupsAfter = 0;
    if (station <= 0 || !usage(station, cpuBefore, wakeupsBefore)) {
        std::fprintf(stderr, "bench_station_idle: no station runs\n");
        return false;
    }
    timespec start{}, stop{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (!rest(seconds))
        return false;
    clock_gettime(CLOCK_MONOTONIC, &stop);
    if (!usage(station, cpuAfter, wakeupsAfter) || bench.stationPid() != station) {
        std::fprintf(stderr, "bench_station_idle: the station went away while measured\n");
        return false;
    }
    double elapsed = static_cast<double>(stop.tv_sec - start.tv_sec) + (stop.tv_nsec - start.tv_nsec) / 1e9;
    std::printf("%-44s %8.2f %10.1f\n", what, 100 * (cpuAfter - cpuBefore) / elapsed,
                static_cast<double>(wakeupsAfter - wakeupsBefore) / elapsed);
    std::fflush(stdout);
    return true;
}

int run(Bench& bench, double seconds)
{
    /* The station stays without clients for longer than a measurement takes. */
    setenv("RK_WINSTATION_LINGER_MS", std::to_string(static_cast<int>(seconds * 1000) + 30000).c_str(), 1);
    if (pipe2(bench.ready, O_CLOEXEC) != 0)
        return 1;
    std::printf("station process, idle clients, %.0f s each      %% of a core  wake-ups/s\n", seconds);
    std::fflush(stdout);
    if (!bench.addClients(1)) {
        std::fprintf(stderr, "bench_station_idle: the first client did not get its window\n");
        return 1;
    }
    bench.removeClients(0);
    if (!measure(bench, "0 clients", seconds))
        return 1;
    for (size_t count : {100, 400}) {
        if (!bench.addClients(count - bench.clients.size())) {
            std::fprintf(stderr, "bench_station_idle: not every client got its window\n");
            return 1;
        }
        if (!measure(bench, (std::to_string(count) + " clients").c_str(), seconds))
            return 1;
        if (!bench.startHub() ||
            !measure(bench, (std::to_string(count) + " clients, a hub asking after each").c_str(), seconds))
            return 1;
        bench.stopHub();
    }

    /* The station dies while the clients cannot run: the new one reserves their windows. */
    bench.stopClients(0, SIGSTOP);
    bench.killStation(SIGKILL);
    int fd = rkwire::connectToStation(bench.desktop);
    if (fd < 0) {
        std::fprintf(stderr, "bench_station_idle: no new station started\n");
        return 1;
    }
    close(fd);
    if (!measure(bench, "400 stopped, their windows reserved", seconds))
        return 1;
    bench.stopClients(0, SIGCONT);
    if (!measure(bench, "400 clients, windows claimed again", seconds))
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 5;
    if (seconds < 1 || seconds > 300) {
        std::fprintf(stderr, "usage: bench_station_idle [seconds per measurement, 1 to 300]\n");
        return 2;
    }
    struct sigaction interrupt{};
    interrupt.sa_handler = noteInterrupt;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &interrupt, nullptr);
    char pattern[] = "/tmp/rk-bench-idle-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    setenv("RK_DESKTOP", pattern, 1);
    int status = 1;
    {
        Bench bench;
        bench.desktop = pattern;
        status = run(bench, seconds);
    }
    if (interrupted)
        std::fprintf(stderr, "bench_station_idle: interrupted\n");
    return interrupted ? 1 : status;
}
