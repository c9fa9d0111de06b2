// Test support for real processes: the stand-in hub and the test driver,
// each talking through its standard input and output.
#ifndef DRIVER_PROCESS_SUPPORT_H
#define DRIVER_PROCESS_SUPPORT_H

#include "rkwin.h"
#include "testProcess.h"

#include <string>
#include <vector>

class scopedDesktop;

std::string readWholeFile(const std::string& path);

// A child process with pipes to its standard input and output.
class runningProgram {
public:
    runningProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& stderrFile);
    virtual ~runningProgram() = default;
    runningProgram(const runningProgram&) = delete;
    runningProgram& operator=(const runningProgram&) = delete;

    void writeLine(const std::string& line);
    // The first line after the last one taken that starts with prefix; empty
    // when none came within the bound.
    std::string waitForLine(const std::string& prefix, int milliseconds = 10000);
    // Every line read so far that starts with prefix, in order.
    std::vector<std::string> linesStartingWith(const std::string& prefix);
    // Sends a command line and returns its "ok ..." or "error ..." line.
    std::string command(const std::string& line, int milliseconds = 10000);
    // The lines that came before the last command's answer and after the
    // line taken before it, that start with prefix.
    std::vector<std::string> lastDetails(const std::string& prefix) const;
    // The exit code, or -1 when the process did not end within the bound.
    int waitForExit(int milliseconds = 10000);
    void kill();

private:
    // Takes the output that has come; waits up to the bound when none has.
    void readOutput(int milliseconds);
    std::string waitForLineWhere(bool (*wanted)(const std::string&, const std::string&), const std::string& prefix,
                                 int milliseconds);

    testProcess process;
    std::string partial;
    std::vector<std::string> lines;
    size_t taken = 0;
    size_t detailsBegin = 0;
    size_t detailsEnd = 0;
    int exitCode = -1;
};

// kivstandin with --quiet, --ready and the given options.
class hubProgram : public runningProgram {
public:
    hubProgram(const scopedDesktop& desktop, const std::vector<std::string>& options = {});
    HWND window() const { return hubWindow; }
    // The number of drivers the hub holds, from its status command.
    int driverCount();
    // Polls the hub's status until it holds count drivers.
    bool waitForDriverCount(int count, int milliseconds = 10000);

private:
    HWND hubWindow = nullptr;
};

// testdriver, ready for commands.
class driverProgram : public runningProgram {
public:
    explicit driverProgram(const scopedDesktop& desktop);
    // The driver's message window, as its debug output named it.
    HWND messageWindow();
};

#endif
