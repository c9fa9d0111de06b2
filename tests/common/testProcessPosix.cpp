#include "testProcess.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

struct testProcess::host {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    std::optional<int> exitCode;
};

namespace {

void closeIfOpen(int& fd)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
}

} // namespace

testProcess::testProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& stderrFile)
    : state(std::make_unique<host>())
{
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make pipes");
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        throw std::runtime_error("cannot make pipes");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : all)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int failed = posix_spawn(&state->pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    state->input = input[1];
    state->output = output[0];
    fcntl(state->output, F_SETFL, fcntl(state->output, F_GETFL) | O_NONBLOCK);
    if (failed != 0) {
        state->pid = -1;
        closeIfOpen(state->input);
        closeIfOpen(state->output);
        throw std::runtime_error("cannot start " + program);
    }
}

testProcess::~testProcess()
{
    if (state->pid > 0 && !exitCode()) {
        ::kill(state->pid, SIGKILL);
        waitpid(state->pid, nullptr, 0);
    }
    closeIfOpen(state->input);
    closeIfOpen(state->output);
}

bool testProcess::writeInput(const std::string& bytes)
{
    std::size_t written = 0;
    while (state->input >= 0 && written < bytes.size()) {
        const ssize_t now = write(state->input, bytes.data() + written, bytes.size() - written);
        if (now <= 0)
            return false;
        written += static_cast<std::size_t>(now);
    }
    return written == bytes.size();
}

void testProcess::closeInput()
{
    closeIfOpen(state->input);
}

std::string testProcess::readOutput()
{
    std::string got;
    char chunk[4096];
    ssize_t now;
    while (state->output >= 0 && (now = read(state->output, chunk, sizeof chunk)) > 0)
        got.append(chunk, static_cast<std::size_t>(now));
    return got;
}

std::optional<int> testProcess::exitCode()
{
    int status = 0;
    if (!state->exitCode && state->pid > 0 && waitpid(state->pid, &status, WNOHANG) == state->pid)
        state->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return state->exitCode;
}

void testProcess::kill()
{
    if (!exitCode())
        ::kill(state->pid, SIGKILL);
}

bool testProcess::signal(int number)
{
    return ::kill(state->pid, number) == 0;
}

unsigned long testProcess::id() const
{
    return static_cast<unsigned long>(state->pid);
}
