#include "processSupport.h"

#include "driverTestSupport.h"
#include "testHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

int programsStarted = 0;

bool startsWith(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

bool isAnswer(const std::string& line, const std::string&)
{
    return startsWith(line, "ok ") || startsWith(line, "error ");
}

using steadyClock = std::chrono::steady_clock;

long long millisecondsLeft(steadyClock::time_point deadline)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steadyClock::now()).count();
}

std::vector<std::string> hubArguments(const std::string& ready, const std::vector<std::string>& options)
{
    std::vector<std::string> arguments{"--quiet", "--ready", ready};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

} // namespace

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

runningProgram::runningProgram(const std::string& program, const std::vector<std::string>& arguments,
                               const std::string& stderrFile)
    : process(program, arguments, stderrFile)
{
}

void runningProgram::writeLine(const std::string& line)
{
    if (!process.writeInput(line + "\n"))
        ADD_FAILURE() << "cannot write to the program: " << line;
}

void runningProgram::readOutput(int milliseconds)
{
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    std::string output;
    while ((output = process.readOutput()).empty() && millisecondsLeft(deadline) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    partial += output;
    for (size_t end; (end = partial.find('\n')) != std::string::npos;) {
        std::string line = partial.substr(0, end);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        partial.erase(0, end + 1);
    }
}

std::string runningProgram::waitForLineWhere(bool (*wanted)(const std::string&, const std::string&),
                                             const std::string& prefix, int milliseconds)
{
    const auto deadline = steadyClock::now() + std::chrono::milliseconds(milliseconds);
    detailsBegin = detailsEnd = taken;
    for (;;) {
        for (size_t i = taken; i < lines.size(); ++i) {
            if (wanted(lines[i], prefix)) {
                detailsEnd = i;
                taken = i + 1;
                return lines[i];
            }
        }
        const long long left = millisecondsLeft(deadline);
        if (left <= 0)
            return "";
        readOutput(static_cast<int>(std::min(left, 50LL)));
    }
}

std::string runningProgram::waitForLine(const std::string& prefix, int milliseconds)
{
    return waitForLineWhere(startsWith, prefix, milliseconds);
}

std::string runningProgram::command(const std::string& line, int milliseconds)
{
    writeLine(line);
    return waitForLineWhere(isAnswer, "", milliseconds);
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
    std::optional<int> code;
    while (!(code = process.exitCode()) && millisecondsLeft(deadline) > 0)
        readOutput(10);
    readOutput(0);
    return code ? *code : -1;
}

void runningProgram::kill()
{
    process.kill();
}

hubProgram::hubProgram(const scopedDesktop& desktop, const std::vector<std::string>& options)
    : runningProgram(testProgramPath("kivstandin"),
                     hubArguments(desktop.file("hub" + std::to_string(programsStarted) + ".ready"), options),
                     desktop.file("hub" + std::to_string(programsStarted) + ".err"))
{
    const std::string ready = desktop.file("hub" + std::to_string(programsStarted++) + ".ready");
    const auto deadline = steadyClock::now() + std::chrono::seconds(10);
    while (readWholeFile(ready).empty() && millisecondsLeft(deadline) > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    hubWindow = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(readWholeFile(ready).c_str(), nullptr, 10)));
    EXPECT_NE(hubWindow, nullptr) << "the hub did not write its window to " << ready;
}

int hubProgram::driverCount()
{
    const std::string reply = command("status");
    return startsWith(reply, "ok status ") ? std::atoi(reply.c_str() + 10) : -1;
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
    : runningProgram(testProgramPath("testdriver"), {},
                     desktop.file("driver" + std::to_string(programsStarted++) + ".err"))
{
    EXPECT_EQ(waitForLine("ready"), "ready");
}

HWND driverProgram::messageWindow()
{
    const std::string prefix = "debug rkdriver message window ";
    const std::vector<std::string> named = linesStartingWith(prefix);
    if (named.empty())
        return nullptr;
    return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(named[0].c_str() + prefix.size(), nullptr, 10)));
}
