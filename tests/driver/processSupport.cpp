#include "processSupport.h"

#include "driverTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

int programsStarted = 0;

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

bool startsWith(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

using steadyClock = std::chrono::steady_clock;

long long millisecondsLeft(steadyClock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steadyClock::now()).count();
}

} // namespace

std::string besideThisProgram(const std::string& name)
{
    char self[4096] = {};
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path(self, size > 0 ? static_cast<size_t>(size) : 0);
    return path.substr(0, path.rfind('/') + 1) + name;
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

runningProgram::runningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& stderrFile)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    input = toChild[1];
    output = fromChild[0];
    fcntl(output, F_SETFL, fcntl(output, F_GETFL) | O_NONBLOCK);
    if (failed != 0) {
        pid = -1;
        throw std::runtime_error("cannot start " + program);
    }
}

runningProgram::~runningProgram()
{
    if (pid > 0 && exitCode < 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    closeIfOpen(input);
    closeIfOpen(output);
}

void runningProgram::writeLine(const std::string& line)
{
    const std::string text = line + "\n";
    if (input < 0 || write(input, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        ADD_FAILURE() << "cannot write to the program: " << line;
}

void runningProgram::readOutput(int milliseconds)
{
    pollfd event{output, POLLIN, 0};
    if (output < 0 || poll(&event, 1, milliseconds) <= 0)
        return;
    char chunk[65536];
    ssize_t got;
    while ((got = read(output, chunk, sizeof chunk)) > 0) {
        partial.append(chunk, static_cast<size_t>(got));
        for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
            lines.push_back(partial.substr(0, end));
            partial.erase(0, end + 1);
        }
    }
    if (got == 0)
        closeIfOpen(output);
}

std::string runningProgram::waitForLine(const std::string& prefix, int milliseconds)
{
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        for (size_t i = taken; i < lines.size(); ++i) {
            if (startsWith(lines[i], prefix)) {
                taken = i + 1;
                return lines[i];
            }
        }
        const long long left = millisecondsLeft(deadline);
        if (left <= 0 || output < 0)
            return "";
        readOutput(static_cast<int>(std::min(left, 50LL)));
    }
}

std::vector<std::string> runningProgram::linesStartingWith(const std::string& prefix)
{
    readOutput(0);
    std::vector<std::string> found;
    for (const std::string& line : lines) {
        if (startsWith(line, prefix))
            found.push_back(line);
    }
    return found;
}

std::string runningProgram::command(const std::string& line, int milliseconds)
{
    writeLine(line);
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    detailsBegin = detailsEnd = taken;
    for (;;) {
        for (size_t i = taken; i < lines.size(); ++i) {
            if (startsWith(lines[i], "ok ") || startsWith(lines[i], "error ")) {
                detailsEnd = i;
                taken = i + 1;
                return lines[i];
            }
        }
        const long long left = millisecondsLeft(deadline);
        if (left <= 0 || output < 0)
            return "";
        readOutput(static_cast<int>(std::min(left, 50LL)));
    }
}

std::vector<std::string> runningProgram::lastDetails(const std::string& prefix) const
{
    std::vector<std::string> found;
    for (size_t i = detailsBegin; i < detailsEnd; ++i) {
        if (startsWith(lines[i], prefix))
            found.push_back(lines[i]);
    }
    return found;
}

int runningProgram::waitForExit(int milliseconds)
{
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    while (exitCode < 0 && millisecondsLeft(deadline) > 0) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        readOutput(20);
    }
    readOutput(0);
    return exitCode;
}

void runningProgram::kill(int signalNumber)
{
    ::kill(pid, signalNumber);
}

hubProgram::hubProgram(const scopedDesktop& desktop, const std::vector<std::string>& options)
    : runningProgram(besideThisProgram("kivstandin"),
                     [&] {
                         std::vector<std::string> arguments{"--quiet", "--ready",
                                                            desktop.file("hub" + std::to_string(programsStarted) + ".ready")};
                         arguments.insert(arguments.end(), options.begin(), options.end());
                         return arguments;
                     }(),
                     desktop.file("hub" + std::to_string(programsStarted) + ".err"))
{
    const std::string ready = desktop.file("hub" + std::to_string(programsStarted++) + ".ready");
    const auto deadline = steadyClock::now() + std::chrono::seconds(10);
    while (readWholeFile(ready).empty() && millisecondsLeft(deadline) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    hubWindow = reinterpret_cast<HWND>(std::strtoull(readWholeFile(ready).c_str(), nullptr, 10));
    EXPECT_NE(hubWindow, nullptr) << "the hub did not write its window to " << ready;
}

int hubProgram::driverCount()
{
    const std::string reply = command("status");
    return reply.rfind("ok status ", 0) == 0 ? std::atoi(reply.c_str() + 10) : -1;
}

bool hubProgram::waitForDriverCount(int count, int milliseconds)
{
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (driverCount() == count)
            return true;
        if (millisecondsLeft(deadline) <= 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

driverProgram::driverProgram(const scopedDesktop& desktop)
    : runningProgram(besideThisProgram("testdriver"), {},
                     desktop.file("driver" + std::to_string(programsStarted++) + ".err"))
{
    EXPECT_EQ(waitForLine("ready"), "ready");
}

HWND driverProgram::messageWindow()
{
    const std::vector<std::string> named = linesStartingWith("debug rkdriver message window ");
    if (named.empty())
        return nullptr;
    return reinterpret_cast<HWND>(std::strtoull(named[0].c_str() + 30, nullptr, 10));
}
