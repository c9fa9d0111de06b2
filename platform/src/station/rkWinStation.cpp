/*
 * rkwinstation: the desktop's window station. It owns the table of window
 * handles (which process holds which window, its class and name, whether it
 * is top-level) and answers the clients' questions about it. Messages never
 * pass through here: clients talk to each other directly.
 */
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>

#include "wire/rkDesktop.h"
#include "station/rkStationServer.h"

namespace {

constexpr int defaultLingerMs = 3000;

int lingerMilliseconds()
{
    const char* text = std::getenv("RK_WINSTATION_LINGER_MS");
    if (!text || !*text)
        return defaultLingerMs;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return *end == '\0' && value >= 0 && value <= 600000 ? static_cast<int>(value) : defaultLingerMs;
}

/* Exactly one station per desktop: the one that holds the station lock. */
bool holdStationLock(const std::string& desktop)
{
    int lock = open(rkwire::stationLockPath(desktop).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    return lock >= 0 && flock(lock, LOCK_EX | LOCK_NB) == 0;
}

void writeNumberFile(const std::string& path, long number)
{
    std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return;
    std::fprintf(file, "%ld\n", number);
    if (std::fclose(file) == 0)
        std::rename(temporary.c_str(), path.c_str());
}

long readNumberFile(const std::string& path)
{
    long number = 0;
    FILE* file = std::fopen(path.c_str(), "r");
    if (file) {
        if (std::fscanf(file, "%ld", &number) != 1 || number < 0)
            number = 0;
        std::fclose(file);
    }
    return number;
}

/*
 * Windows can outlive a station that was killed. Their slots stay reserved
 * with the reuse counts they had; every other slot starts its reuse count
 * further on than the station before did, so that a window of the new
 * station does not get the full handle of a window that was destroyed
 * shortly before and may still be remembered somewhere.
 */
uint16_t firstReuseOfThisStation(const std::string& desktop)
{
    std::string path = desktop + "/winstation.generation";
    long generation = readNumberFile(path);
    writeNumberFile(path, (generation + 1) % 0x10000);
    return static_cast<uint16_t>(1 + (generation * 0x100) % 0xfffd);
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::string desktop = rkwire::desktopDirectory();
    if (desktop.empty())
        return 1;
    if (!holdStationLock(desktop))
        return 0;
    int listener = rkwire::listenUnix(rkwire::stationSocketPath(desktop));
    if (listener < 0) {
        std::fprintf(stderr, "rkwinstation: cannot listen in %s: %s\n", desktop.c_str(), std::strerror(errno));
        return 1;
    }
    writeNumberFile(rkwire::stationPidPath(desktop), static_cast<long>(getpid()));
    rkstation::StationServer(desktop, listener, lingerMilliseconds(), firstReuseOfThisStation(desktop)).run();
    return 0;
}
