/*
 * What the benchmarks share about processes: bytes moved whole through a
 * pipe or a socket, a private desktop that takes its window station with
 * it when it goes, and the stand-in hub started on such a desktop.
 * Header only: each benchmark is one program of its own.
 */
#ifndef BENCH_PROCESSES_H
#define BENCH_PROCESSES_H

#include "rkwin.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <type_traits>
#include <unistd.h>

namespace bench {

/* All of size bytes or false: a short read or write is carried on. */
inline bool transfer(int fd, char* data, size_t size, bool sending)
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

/* A value that crosses a pipe as bytes, between copies of one program. */
template <typename Value>
bool sendValue(int fd, const Value& value)
{
    static_assert(std::is_trivially_copyable<Value>::value, "only plain bytes cross a pipe");
    Value copy = value;
    return transfer(fd, reinterpret_cast<char*>(&copy), sizeof copy, true);
}

template <typename Value>
bool receiveValue(int fd, Value& value)
{
    static_assert(std::is_trivially_copyable<Value>::value, "only plain bytes cross a pipe");
    return transfer(fd, reinterpret_cast<char*>(&value), sizeof value, false);
}

/* The station's process on that desktop, or 0 while it has none. */
inline pid_t stationPid(const std::string& desktop)
{
    FILE* file = std::fopen((desktop + "/winstation.pid").c_str(), "r");
    int pid = 0;
    if (file && std::fscanf(file, "%d", &pid) != 1)
        pid = 0;
    if (file)
        std::fclose(file);
    return pid > 0 ? pid : 0;
}

/* Ends the desktop's station now rather than after its lingering time. */
inline void stopStation(const std::string& desktop)
{
    if (pid_t pid = stationPid(desktop))
        kill(pid, SIGTERM);
    int lock = open((desktop + "/winstation.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (lock >= 0) {
        flock(lock, LOCK_EX); /* held by the station until it is gone */
        close(lock);
    }
}

inline void removeDesktop(const std::string& desktop)
{
    stopStation(desktop);
    std::error_code ignored;
    std::filesystem::remove_all(desktop, ignored);
}

/* A desktop of its own under /tmp, gone with its station at the end of the scope. */
class privateDesktop {
public:
    privateDesktop()
    {
        char pattern[] = "/tmp/rk-bench-XXXXXX";
        if (mkdtemp(pattern))
            directory = pattern;
    }
    ~privateDesktop()
    {
        if (made())
            removeDesktop(directory);
    }
    privateDesktop(const privateDesktop&) = delete;
    privateDesktop& operator=(const privateDesktop&) = delete;

    bool made() const { return !directory.empty(); }
    const std::string& path() const { return directory; }

private:
    std::string directory;
};

inline std::string besideThisProgram(const std::string& name)
{
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / name).string();
}

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline HWND waitForWindow(const std::function<HWND()>& find)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    HWND window = nullptr;
    while ((window = find()) == nullptr && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return window;
}

/*
 * kivstandin beside this program on that desktop, quiet, with its input on
 * a pipe to end it, in this process's environment (RK_DESKTOP included);
 * its events on stderr unless told otherwise. It is asked to close when
 * this process dies, however that happens (it goes on after its input
 * ends).
 */
struct hubChild {
    pid_t pid = -1;
    int input = -1;
    HWND window = nullptr;

    explicit hubChild(const std::string& desktop, bool showEvents = true)
    {
        const std::string ready = desktop + "/hub.ready";
        int toHub[2];
        if (pipe2(toHub, O_CLOEXEC) != 0)
            return;
        std::string program = besideThisProgram("kivstandin");
        std::string quiet = "--quiet", readyOption = "--ready", readyFile = ready;
        char* argv[] = {&program[0], &quiet[0], &readyOption[0], &readyFile[0], nullptr};
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0) {
            /* Only system calls until the exec. */
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(1);
            const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
            dup2(toHub[0], STDIN_FILENO);
            dup2(nowhere, STDOUT_FILENO);
            if (!showEvents)
                dup2(nowhere, STDERR_FILENO);
            execv(argv[0], argv);
            _exit(127);
        }
        close(toHub[0]);
        input = toHub[1];
        if (pid > 0)
            window = waitForWindow([&] {
                return reinterpret_cast<HWND>(std::strtoull(readWholeFile(ready).c_str(), nullptr, 10));
            });
    }

    ~hubChild()
    {
        if (input >= 0) {
            if (write(input, "quit\n", 5) != 5 && pid > 0)
                kill(pid, SIGTERM);
            close(input);
        }
        if (pid > 0)
            waitpid(pid, nullptr, 0);
    }

    hubChild(const hubChild&) = delete;
    hubChild& operator=(const hubChild&) = delete;
};

} // namespace bench

#endif /* BENCH_PROCESSES_H */
