#include "agentProcess.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace agent {

namespace {

using Clock = std::chrono::steady_clock;

int removeEntry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

std::vector<char*> environmentWith(const std::string& assignment, std::vector<std::string>& storage)
{
    storage.clear();
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "RK_DESKTOP=", 11) != 0)
            storage.emplace_back(*entry);
    storage.push_back(assignment);
    std::vector<char*> pointers;
    for (std::string& text : storage)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::string binaryDirectory()
{
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    std::string text(path, static_cast<size_t>(length));
    return text.substr(0, text.rfind('/'));
}

long long numberIn(const std::string& line, int field)
{
    std::istringstream words(line);
    std::string word;
    for (int i = 0; i <= field; ++i)
        if (!(words >> word))
            return -1;
    return std::strtoll(word.c_str(), nullptr, 10);
}

AgentProcess::AgentProcess(const std::string& desktop, const std::vector<std::string>& arguments)
{
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
        return;
    std::string program = binaryDirectory() + "/messaging_agent";
    std::vector<std::string> storage;
    std::vector<char*> environment = environmentWith("RK_DESKTOP=" + desktop, storage);
    std::vector<char*> argv{program.data()};
    std::vector<std::string> argumentCopies(arguments);
    for (std::string& argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(input[0], 0);
        dup2(output[1], 1);
        execve(program.c_str(), argv.data(), environment.data());
        _exit(127);
    }
    close(input[0]);
    close(output[1]);
    toAgent_ = input[1];
    fromAgent_ = output[0];
}

AgentProcess::~AgentProcess()
{
    kill(SIGKILL);
    exited();
    close(toAgent_);
    close(fromAgent_);
}

void AgentProcess::write(const std::string& line)
{
    std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t wrote = ::write(toAgent_, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return;
        done += static_cast<size_t>(wrote);
    }
}

bool AgentProcess::readMore(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    pollfd entry{fromAgent_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(left)) <= 0)
        return errno == EINTR;
    char chunk[4096];
    ssize_t got = read(fromAgent_, chunk, sizeof chunk);
    if (got <= 0)
        return false;
    partial_.append(chunk, static_cast<size_t>(got));
    size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        unread_.push_back(partial_.substr(0, end));
        transcript_.push_back(unread_.back());
        partial_.erase(0, end + 1);
    }
    return true;
}

std::string AgentProcess::waitFor(const std::string& prefix, std::chrono::milliseconds within)
{
    auto deadline = Clock::now() + within;
    for (;;) {
        for (auto line = unread_.begin(); line != unread_.end(); ++line) {
            if (line->compare(0, prefix.size(), prefix) == 0) {
                std::string found = *line;
                unread_.erase(line);
                return found;
            }
        }
        if (!readMore(deadline))
            return "";
    }
}

std::string AgentProcess::ask(const std::string& command, const std::string& answerPrefix)
{
    write(command);
    return waitFor(answerPrefix);
}

long long AgentProcess::askNumber(const std::string& command, const std::string& answerPrefix)
{
    std::string answer = ask(command, answerPrefix);
    return answer.empty() ? -1 : numberIn(answer);
}

bool AgentProcess::settle() { return !ask("ping", "pong").empty(); }

bool AgentProcess::said(const std::string& line) const
{
    for (const std::string& entry : transcript_)
        if (entry == line)
            return true;
    return false;
}

void AgentProcess::kill(int signal)
{
    if (pid_ > 0 && !reaped_)
        ::kill(pid_, signal);
}

bool AgentProcess::exited()
{
    if (pid_ <= 0 || reaped_)
        return true;
    auto deadline = Clock::now() + patience;
    while (Clock::now() < deadline) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

PrivateDesktop::PrivateDesktop()
{
    char pattern[] = "/tmp/rk-desktop-XXXXXX";
    if (mkdtemp(pattern))
        path_ = pattern;
}

PrivateDesktop::~PrivateDesktop()
{
    stopStation(SIGKILL);
    if (!path_.empty())
        nftw(path_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

pid_t PrivateDesktop::stationPid() const
{
    FILE* file = std::fopen((path_ + "/winstation.pid").c_str(), "r");
    if (!file)
        return -1;
    int pid = -1;
    if (std::fscanf(file, "%d", &pid) != 1)
        pid = -1;
    std::fclose(file);
    return pid;
}

/* The station holds its lock for life: when the lock is free, it is gone. */
bool PrivateDesktop::stationRunning() const
{
    int lock = open((path_ + "/winstation.lock").c_str(), O_RDWR | O_CLOEXEC);
    if (lock < 0)
        return false;
    bool held = flock(lock, LOCK_EX | LOCK_NB) != 0;
    close(lock);
    return held;
}

bool PrivateDesktop::waitForStationToLeave() const
{
    auto deadline = Clock::now() + patience;
    while (stationRunning()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool PrivateDesktop::stopStation(int signal)
{
    pid_t pid = stationPid();
    if (pid <= 0 || !stationRunning())
        return true;
    ::kill(pid, signal);
    /* Clients start a successor at once: the killed one is gone when another holds the lock or none does. */
    auto deadline = Clock::now() + patience;
    while (stationRunning() && stationPid() == pid) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::unique_ptr<AgentProcess> PrivateDesktop::start(const std::vector<std::string>& arguments)
{
    return std::make_unique<AgentProcess>(path_, arguments);
}

} // namespace agent
