/*
 * Many senders into one hub: one kivstandin on a private desktop and 1, 2,
 * 4 and 8 sending processes, each the driver of a device of its own. Each
 * registers in mode 2, as the generator does, and sends IR commands through
 * the driver library one after the other, the next as soon as the hub has
 * answered the last, as the generator does within a tick. All senders of
 * a row send for the same stretch of time, and the row is measured with
 * the messaging layer's fast path off (RK_SHARED_MEMORY=0 for the hub, the
 * senders and so the station) and on; every row has a desktop, a hub and
 * senders of its own. Like the generator, a sender runs without its
 * priority boost, so that the hub's answer does not preempt the hub; the
 * last rows keep the boost, to show what that is worth.
 *
 * Per row: the commands answered per second while the senders count
 * (after they have sent together, uncounted, for 0.3 s), and the CPU time
 * per command of the hub, the senders and the window station together.
 * Rows last a fixed time rather than a fixed number of commands: a row of
 * a set number of commands ends with the senders the scheduler served
 * least, and in a row of a tenth of a second that tail is most of it. A virtual
 * machine's speed can change threefold from one second to the next, so
 * every row is measured in several rounds, all rows in turn, and each
 * figure is the median.
 *
 *   bench_fanin [seconds per row] [rounds]
 *                        (defaults 1 and 3; about a minute on the
 *                         2-core development machine)
 */
#include "../benchProcesses.h"
#include "rkDriver.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const int senderCounts[] = {1, 2, 4, 8};
const int firstDevice = 1;
const int commandCharacters = 128; /* the middle of the generator's default sizes, 0 to 255 */
const int warmUpCommands = 200; /* per sender, before the start and not counted */
/*
 * From the start all senders send together for this long before they
 * count. The kernel places processes by their recent load, and senders
 * just woken from a pipe look idle to it: for about the first tenth of a
 * second eight of them deliver half the rate they reach later.
 */
const long long settleNanoseconds = 300000000LL;
const int connectionModeTelmif = 2;
const int commandTaken = 1; /* the hub's answer to a well-formed IR text */
const int readyTimeoutMs = 30000;
const int doneTimeoutMs = 120000;
/* Not in the usage: how this program asks a fresh copy of itself to send. */
const char senderArgument[] = "--send-for-fan-in";

/* Targets, as ratios of 8 senders to 1. */
const double rateTarget = 0.8;
const double cpuTarget = 1.3;

long long nanoseconds(clockid_t clock)
{
    timespec now{};
    if (clock_gettime(clock, &now) != 0)
        return -1;
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

/* User and system time of all the threads of that process so far, read
 * from its CPU-time clock; -1 once it is gone. */
long long processCpuNanoseconds(pid_t pid)
{
    clockid_t clock;
    if (pid <= 0 || clock_getcpuclockid(pid, &clock) != 0)
        return -1;
    return nanoseconds(clock);
}

std::string irCommand(int device)
{
    return "IR " + std::to_string(device) + " 1 '" + std::string(commandCharacters, 'x') + "' 0";
}

/* ---- One sender, in a fresh copy of this program ------------------------ */

/* What a sender hands back, twice: once registered, once done. Smaller than
 * PIPE_BUF, so that the senders' writes into one pipe never interleave. */
struct senderReport {
    int device;
    bool ready;
    bool done;
    int failures;
    long long counted;    /* commands sent and answered while counting */
    long long firstSend;  /* CLOCK_MONOTONIC, the same clock in every process */
    long long lastAnswer;
    long long cpu;        /* this sender's own, from its first counted send to its last answer */
};

/* When the senders of a row count, on CLOCK_MONOTONIC. */
struct countingWindow {
    long long from;
    long long until;
};

class quietCallback : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver*, const char*) override {}
    void onDatabaseChange(int, int, int) override {}
};

/* The start pipe brings each sender the window to count in; until it
 * opens the senders send together, uncounted. EOF instead means the parent
 * gave up. The quit pipe keeps the sender registered until the parent has
 * read the hub's and the station's clocks. */
int runSender(int reportFd, int startFd, int quitFd, int device, bool boosted)
{
    if (!boosted)
        SetThreadPriorityBoost(GetCurrentThread(), TRUE);
    quietCallback callback;
    rkDriver driver(&callback, "rkDriver");
    const std::string command = irCommand(device);
    senderReport report{};
    report.device = device;
    report.ready = !driver.connect(static_cast<unsigned int>(device), connectionModeTelmif, 0);
    for (int i = 0; report.ready && i < warmUpCommands; ++i)
        report.ready = driver.sendCommand(0, command.c_str()) == commandTaken;
    countingWindow window{};
    if (!bench::sendValue(reportFd, report) || !report.ready || !bench::receiveValue(startFd, window))
        return 1;
    while (nanoseconds(CLOCK_MONOTONIC) < window.from)
        report.failures += driver.sendCommand(0, command.c_str()) == commandTaken ? 0 : 1;

    const long long cpuBefore = nanoseconds(CLOCK_PROCESS_CPUTIME_ID);
    report.firstSend = nanoseconds(CLOCK_MONOTONIC);
    for (long long now = report.firstSend; now < window.until; now = nanoseconds(CLOCK_MONOTONIC)) {
        report.failures += driver.sendCommand(0, command.c_str()) == commandTaken ? 0 : 1;
        ++report.counted;
    }
    report.lastAnswer = nanoseconds(CLOCK_MONOTONIC);
    report.cpu = nanoseconds(CLOCK_PROCESS_CPUTIME_ID) - cpuBefore;
    report.done = true;
    const bool handedOver = bench::sendValue(reportFd, report);
    close(reportFd);
    char byte;
    while (read(quitFd, &byte, 1) < 0 && errno == EINTR) {
    }
    return handedOver && report.failures == 0 ? 0 : 1;
}

/* ---- One row, measured from here ---------------------------------------- */

struct rowFigures {
    bool measured = false;
    bool stationFound = false;
    double perSecond = 0;
    /* CPU microseconds per command */
    double hub = 0;
    double senders = 0;
    double station = 0;

    double cpu() const { return hub + senders + station; }
};

/* Reads count reports, of senders ready or done, within timeoutMs in all. */
bool collect(int fd, int count, bool done, std::vector<senderReport>& reports, int timeoutMs)
{
    const long long deadline = nanoseconds(CLOCK_MONOTONIC) + timeoutMs * 1000000LL;
    for (int i = 0; i < count; ++i) {
        const long long left = (deadline - nanoseconds(CLOCK_MONOTONIC)) / 1000000;
        pollfd readable{fd, POLLIN, 0};
        senderReport report{};
        if (left <= 0 || poll(&readable, 1, static_cast<int>(std::min<long long>(left, INT_MAX))) <= 0 ||
            !bench::receiveValue(fd, report) || !(done ? report.done : report.ready))
            return false;
        reports.push_back(report);
    }
    return true;
}

/* In the forked child: only the three pipe ends it was given survive the
 * exec. Its stderr, like the hub's, would bury the table under the driver
 * library's debug output: a sender that fails says so by its exit status. */
[[noreturn]] void execSender(int reportFd, int startFd, int quitFd, int device, bool boosted)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL); /* kept across the exec: no sender outlives this program */
    for (int fd : {reportFd, startFd, quitFd})
        fcntl(fd, F_SETFD, 0);
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere >= 0)
        dup2(nowhere, STDERR_FILENO);
    const std::string arguments[] = {std::to_string(reportFd), std::to_string(startFd), std::to_string(quitFd),
                                     std::to_string(device), boosted ? "1" : "0"};
    execl("/proc/self/exe", "bench_fanin", senderArgument, arguments[0].c_str(), arguments[1].c_str(),
          arguments[2].c_str(), arguments[3].c_str(), arguments[4].c_str(), static_cast<char*>(nullptr));
    _exit(127);
}

struct pipeEnds {
    int readEnd = -1;
    int writeEnd = -1;

    pipeEnds()
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) == 0) {
            readEnd = ends[0];
            writeEnd = ends[1];
        }
    }
    ~pipeEnds()
    {
        closeRead();
        closeWrite();
    }
    pipeEnds(const pipeEnds&) = delete;
    pipeEnds& operator=(const pipeEnds&) = delete;

    bool made() const { return readEnd >= 0; }
    void closeRead() { readEnd = closed(readEnd); }
    void closeWrite() { writeEnd = closed(writeEnd); }

private:
    static int closed(int fd)
    {
        if (fd >= 0)
            close(fd);
        return -1;
    }
};

timespec toTimespec(long long nanoseconds)
{
    timespec at{};
    at.tv_sec = static_cast<time_t>(nanoseconds / 1000000000LL);
    at.tv_nsec = static_cast<long>(nanoseconds % 1000000000LL);
    return at;
}

/* Gives every sender the window, one copy each, and waits until it opens. */
bool startCounting(int fd, int senders, long long rowNanoseconds)
{
    countingWindow window{};
    window.from = nanoseconds(CLOCK_MONOTONIC) + settleNanoseconds;
    window.until = window.from + rowNanoseconds;
    for (int i = 0; i < senders; ++i)
        if (!bench::sendValue(fd, window))
            return false;
    const timespec opening = toTimespec(window.from);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &opening, nullptr) == EINTR) {
    }
    return true;
}

/*
 * What is counted as CPU: user and system time, all threads, of the hub,
 * the window station (a process of its own on the desktop, found by its
 * pid file) and every sender, from the moment the senders count until the
 * last sender has reported its last answer, read from each process's
 * CPU-time clock in nanoseconds (/proc/<pid>/stat would count in 10 ms
 * ticks). The senders read their own clocks around their counted sends;
 * the hub's and the station's are read from here at that moment and just
 * after the last report, while both still run. Not counted: this process,
 * which only waits meanwhile, and each process's start, registration,
 * warm-up, settling and end, which lie outside that window.
 */
rowFigures measureRow(int senders, long long rowNanoseconds, bool sharedMemory, bool boosted)
{
    rowFigures row;
    bench::privateDesktop desktop;
    if (!desktop.made())
        return row;
    /* This process never uses the layer itself: its environment is only for the hub and the senders. */
    setenv("RK_DESKTOP", desktop.path().c_str(), 1);
    if (sharedMemory)
        unsetenv("RK_SHARED_MEMORY"); /* unset means on, whatever the caller's shell says */
    else
        setenv("RK_SHARED_MEMORY", "0", 1);

    bench::hubChild hub(desktop.path(), false);
    const pid_t station = bench::stationPid(desktop.path());
    pipeEnds reports, start, quit;
    if (!hub.window || !reports.made() || !start.made() || !quit.made()) {
        std::fprintf(stderr, "bench_fanin: the hub did not start\n");
        return row;
    }
    std::fflush(nullptr);
    std::vector<pid_t> children;
    for (int i = 0; i < senders; ++i) {
        const pid_t child = fork();
        if (child == 0)
            execSender(reports.writeEnd, start.readEnd, quit.readEnd, firstDevice + i, boosted);
        if (child > 0)
            children.push_back(child);
    }
    reports.closeWrite();
    start.closeRead();
    quit.closeRead();

    std::vector<senderReport> ready, done;
    long long hubBefore = -1, hubAfter = -1, stationBefore = -1, stationAfter = -1;
    bool measured = static_cast<int>(children.size()) == senders &&
                    collect(reports.readEnd, senders, false, ready, readyTimeoutMs);
    if (measured) {
        measured = startCounting(start.writeEnd, senders, rowNanoseconds);
        hubBefore = processCpuNanoseconds(hub.pid);
        stationBefore = processCpuNanoseconds(station);
        measured = measured && collect(reports.readEnd, senders, true, done, doneTimeoutMs);
        hubAfter = processCpuNanoseconds(hub.pid);
        stationAfter = processCpuNanoseconds(station);
    }
    start.closeWrite();
    quit.closeWrite();
    for (pid_t child : children) {
        if (!measured)
            kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        measured = measured && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (!measured || hubBefore < 0 || hubAfter < 0) {
        std::fprintf(stderr, "bench_fanin: a sender failed or a command was not taken (%d senders, fast path %s)\n",
                     senders, sharedMemory ? "on" : "off");
        return row;
    }

    long long firstSend = LLONG_MAX, lastAnswer = 0, senderCpu = 0, total = 0;
    for (const senderReport& report : done) {
        firstSend = std::min(firstSend, report.firstSend);
        lastAnswer = std::max(lastAnswer, report.lastAnswer);
        senderCpu += report.cpu;
        total += report.counted;
    }
    if (total == 0)
        return row;
    const auto perCommand = [total](long long cpu) { return cpu / 1e3 / total; }; /* in microseconds */
    row.measured = true;
    row.perSecond = total / ((lastAnswer - firstSend) / 1e9);
    row.hub = perCommand(hubAfter - hubBefore);
    row.senders = perCommand(senderCpu);
    row.stationFound = stationBefore >= 0 && stationAfter >= 0;
    row.station = row.stationFound ? perCommand(stationAfter - stationBefore) : 0;
    return row;
}

/* ---- The table ---------------------------------------------------------- */

void printRow(int senders, bool sharedMemory, bool boosted, const rowFigures& row)
{
    const char* path = !sharedMemory ? "off" : boosted ? "on*" : "on";
    if (!row.measured) {
        std::printf("  %7d  %-9s %12s\n", senders, path, "failed");
        return;
    }
    std::printf("  %7d  %-9s %12.0f %14.2f %9.2f %9.2f", senders, path, row.perSecond, row.cpu(), row.hub,
                row.senders);
    if (row.stationFound)
        std::printf(" %9.2f\n", row.station);
    else
        std::printf(" %9s\n", "not found");
}

double middle(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

bool allMeasured(const std::vector<rowFigures>& rows)
{
    return std::all_of(rows.begin(), rows.end(), [](const rowFigures& row) { return row.measured; });
}

/* The median of the rounds' ratios: each round's two rows ran seconds apart, at nearly the same host speed. */
std::string verdict(const std::vector<rowFigures>& one, const std::vector<rowFigures>& eight, bool rate)
{
    if (!allMeasured(one) || !allMeasured(eight))
        return "   failed";
    std::vector<double> ratios;
    for (size_t round = 0; round < one.size(); ++round)
        ratios.push_back(rate ? eight[round].perSecond / one[round].perSecond : eight[round].cpu() / one[round].cpu());
    const double ratio = middle(ratios);
    const bool met = rate ? ratio >= rateTarget : ratio <= cpuTarget;
    char text[32];
    std::snprintf(text, sizeof text, "%7.2f %s", ratio, met ? "met" : "missed");
    return text;
}

/* Each figure's median over the rounds; failed if any round failed. */
rowFigures median(const std::vector<rowFigures>& rounds)
{
    rowFigures row;
    if (rounds.empty() || !allMeasured(rounds))
        return row;
    const auto overRounds = [&rounds](double rowFigures::*figure) {
        std::vector<double> values;
        for (const rowFigures& round : rounds)
            values.push_back(round.*figure);
        return middle(values);
    };
    row.measured = true;
    row.stationFound = std::all_of(rounds.begin(), rounds.end(), [](const rowFigures& r) { return r.stationFound; });
    row.perSecond = overRounds(&rowFigures::perSecond);
    row.hub = overRounds(&rowFigures::hub);
    row.senders = overRounds(&rowFigures::senders);
    row.station = overRounds(&rowFigures::station);
    return row;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && std::strcmp(argv[1], senderArgument) == 0)
        return runSender(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                         std::strcmp(argv[6], "1") == 0);
    const double seconds = argc > 1 ? std::strtod(argv[1], nullptr) : 1.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    if (argc > 3 || !(seconds >= 0.1 && seconds <= 3600) || rounds < 1) {
        std::fprintf(stderr, "usage: bench_fanin [seconds per row, 0.1 to 3600] [rounds, at least 1]\n");
        return 2;
    }
    const auto rowNanoseconds = static_cast<long long>(seconds * 1e9);
    const struct {
        bool sharedMemory;
        bool boosted;
    } kinds[] = {{false, false}, {true, false}, {true, true}};
    const size_t rows = std::size(kinds) * std::size(senderCounts);
    /* Rounds of every row in turn: the host's speed drifts over seconds, and so touches every row alike. */
    std::vector<std::vector<rowFigures>> measured(rows);
    for (int round = 1; round <= rounds; ++round) {
        std::fprintf(stderr, "bench_fanin: round %d of %d\n", round, rounds);
        size_t row = 0;
        for (const auto& kind : kinds)
            for (int senders : senderCounts)
                measured[row++].push_back(measureRow(senders, rowNanoseconds, kind.sharedMemory, kind.boosted));
    }

    std::printf("IR commands of %d characters into one kivstandin for %g s per row, all senders at once;\n"
                "each sender the mode-2 driver of a device of its own, sending the next as soon as the last is "
                "answered;\nevery figure the median of %d rounds\n\n",
                commandCharacters, seconds, rounds);
    std::printf("  %7s  %-9s %12s %14s %9s %9s %9s\n", "senders", "fast path", "commands/s", "CPU us/command",
                "hub", "senders", "station");
    std::vector<rowFigures> figures;
    size_t row = 0;
    for (const auto& kind : kinds)
        for (int senders : senderCounts) {
            figures.push_back(median(measured[row++]));
            printRow(senders, kind.sharedMemory, kind.boosted, figures.back());
        }
    std::printf("  commands/s: answered while the senders count; CPU: the hub, the senders and the window\n"
                "  station together, each process's own user and system time meanwhile; on*: the senders\n"
                "  keep their priority boost, so that every answer preempts the hub\n\n");
    const size_t perKind = std::size(senderCounts);
    const auto& offOne = measured[0];
    const auto& offEight = measured[perKind - 1];
    const auto& onOne = measured[perKind];
    const auto& onEight = measured[2 * perKind - 1];
    std::printf("  %-52s %-14s %s\n", "Targets (8 senders against 1, the rounds' median)", "fast path off",
                "fast path on");
    std::printf("  %-52s %-14s %s\n", "rate with 8 senders >= 0.8 x the rate with 1",
                verdict(offOne, offEight, true).c_str(), verdict(onOne, onEight, true).c_str());
    std::printf("  %-52s %-14s %s\n", "CPU per command with 8 <= 1.3 x that with 1",
                verdict(offOne, offEight, false).c_str(), verdict(onOne, onEight, false).c_str());
    return allMeasured(figures) ? 0 : 1;
}
