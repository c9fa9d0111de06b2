#include "testProcess.h"

#include "rkwin.h"

#include <stdexcept>

struct testProcess::host {
    PROCESS_INFORMATION process = {};
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    std::optional<int> exitCode;
};

namespace {

const UINT killedExitCode = 137;
const int launchAttempts = 3;

void closeIfOpen(HANDLE& handle)
{
    if (handle != nullptr)
        CloseHandle(handle);
    handle = nullptr;
}

// One argument quoted so that the child's runtime splits it back unchanged.
std::string quoted(const std::string& argument)
{
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string text = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        text.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, '\\');
    return text + "\"";
}

std::string commandLine(const std::string& program, const std::vector<std::string>& arguments)
{
    std::string line = quoted(program);
    for (const std::string& argument : arguments)
        line += " " + quoted(argument);
    return line;
}

/*
 * A heavily loaded Wine now and then fails a CreateProcess with an internal
 * error. Nothing has run then, so it is safe to try again a few times.
 */
bool startProcess(const std::string& program, std::string& line, STARTUPINFOA& startup,
                  PROCESS_INFORMATION& process)
{
    for (int attempt = 0; attempt < launchAttempts; ++attempt) {
        if (attempt > 0)
            Sleep(200);
        if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                           &process))
            return true;
    }
    return false;
}

// A pipe whose child end is inheritable and whose parent end is not.
void makePipe(HANDLE& read, HANDLE& write, bool childReads)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0))
        throw std::runtime_error("cannot make pipes");
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
}

} // namespace

testProcess::testProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& stderrFile)
    : state(std::make_unique<host>())
{
    HANDLE childInput = nullptr;
    HANDLE childOutput = nullptr;
    makePipe(childInput, state->input, true);
    makePipe(state->output, childOutput, false);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE childError = CreateFileA(stderrFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = childOutput;
    startup.hStdError = childError;
    std::string line = commandLine(program, arguments);
    const bool started = childError != INVALID_HANDLE_VALUE && startProcess(program, line, startup, state->process);
    const DWORD error = started ? 0 : GetLastError();
    CloseHandle(childInput);
    CloseHandle(childOutput);
    if (childError != INVALID_HANDLE_VALUE)
        CloseHandle(childError);
    if (!started) {
        closeIfOpen(state->input);
        closeIfOpen(state->output);
        throw std::runtime_error("cannot start " + program + " (error " + std::to_string(error) + ")");
    }
    CloseHandle(state->process.hThread);
}

testProcess::~testProcess()
{
    if (!exitCode()) {
        TerminateProcess(state->process.hProcess, killedExitCode);
        WaitForSingleObject(state->process.hProcess, INFINITE);
    }
    CloseHandle(state->process.hProcess);
    closeIfOpen(state->input);
    closeIfOpen(state->output);
}

bool testProcess::writeInput(const std::string& bytes)
{
    DWORD written = 0;
    return state->input != nullptr &&
           WriteFile(state->input, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void testProcess::closeInput()
{
    closeIfOpen(state->input);
}

std::string testProcess::readOutput()
{
    std::string got;
    DWORD waiting = 0;
    while (state->output != nullptr && PeekNamedPipe(state->output, nullptr, 0, nullptr, &waiting, nullptr) &&
           waiting > 0) {
        std::string chunk(waiting, '\0');
        DWORD now = 0;
        if (!ReadFile(state->output, chunk.data(), waiting, &now, nullptr) || now == 0)
            break;
        got.append(chunk, 0, now);
    }
    return got;
}

std::optional<int> testProcess::exitCode()
{
    DWORD code = 0;
    if (!state->exitCode && WaitForSingleObject(state->process.hProcess, 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(state->process.hProcess, &code))
        state->exitCode = static_cast<int>(code);
    return state->exitCode;
}

void testProcess::kill()
{
    if (!exitCode())
        TerminateProcess(state->process.hProcess, killedExitCode);
}

bool testProcess::signal(int)
{
    return false;
}

unsigned long testProcess::id() const
{
    return state->process.dwProcessId;
}
