// Test support: a real kivstandin process per test, a window in the test
// process that plays a driver, and message pumping while waiting.
#ifndef HUB_HARNESS_H
#define HUB_HARNESS_H

#include "rkwin.h"
#include "testProcess.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// A fresh RK_DESKTOP for this process, removed again on destruction.
class privateDesktop {
public:
    privateDesktop();
    ~privateDesktop();
    const std::string& directory() const { return m_directory; }
    std::string file(const std::string& name) const { return m_directory + "/" + name; }

private:
    std::string m_directory;
};

// Dispatches this process's window messages until done() holds or the
// bound passes; returns done()'s last value.
bool pumpUntil(const std::function<bool()>& done, int milliseconds = 10000);

// A child process with pipes to its standard input and output.
class childProcess {
public:
    childProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& stderrFile);
    ~childProcess();
    childProcess(const childProcess&) = delete;
    childProcess& operator=(const childProcess&) = delete;

    void writeLine(const std::string& line);
    // The first unread line of output that starts with prefix (earlier lines
    // are kept); empty when none came within the bound.
    std::string waitForLine(const std::string& prefix, int milliseconds = 10000);
    std::string waitForLineMatching(const std::function<bool(const std::string&)>& wanted,
                                    int milliseconds = 10000);
    const std::vector<std::string>& lines() const { return m_lines; }
    // The exit code, or -1 when the process did not end within the bound.
    int waitForExit(int milliseconds = 10000);
    void kill() { m_process.kill(); }
    // False where the host has no signals to send.
    bool signal(int number) { return m_process.signal(number); }

private:
    void readOutput();

    testProcess m_process;
    std::string m_partial;
    std::vector<std::string> m_lines;
    std::size_t m_taken = 0;
};

// kivstandin with --quiet, --ready and the given options; its window is
// known once the constructor returns.
class hubProcess : public childProcess {
public:
    hubProcess(const privateDesktop& desktop, const std::vector<std::string>& options = {});
    HWND window() const { return m_window; }
    // Sends a command line and returns its "ok ..." or "error ..." line.
    std::string command(const std::string& line);
    // The driver lines of the status command.
    std::vector<std::string> status();
    // Where the hub's stderr (its events) goes.
    const std::string& eventFile() const { return m_eventFile; }

private:
    hubProcess(const privateDesktop& desktop, const std::vector<std::string>& options, const std::string& name);

    HWND m_window = nullptr;
    std::string m_eventFile;
};

std::string binaryPath(const std::string& name);
std::string readWholeFile(const std::string& path);

// One message as the test driver window saw it, after unwrapping.
struct seenMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    bool relayed = false; // came as a relay request
    bool wrapped = false; // came wrapped in 2074
    std::string text;
    std::vector<char> bytes;
};

// A message-only window in the test process that answers like a driver:
// relay requests are delivered and answered, 2074 goes through telmifDeliver.
class testDriverWindow {
public:
    testDriverWindow();
    ~testDriverWindow();
    testDriverWindow(const testDriverWindow&) = delete;
    testDriverWindow& operator=(const testDriverWindow&) = delete;

    HWND handle() const { return m_window; }
    LRESULT send(HWND hub, UINT message, WPARAM wParam, LPARAM lParam) const;
    LRESULT registerAt(HWND hub, unsigned long device, int mode) const;
    // Sends one relay text request, as a mode-1 driver's send path does.
    LRESULT relayText(HWND hub, UINT message, const std::string& text);
    const std::vector<seenMessage>& seen() const { return m_seen; }
    // Waits for a message with that number; null when none came.
    const seenMessage* waitFor(UINT message, int milliseconds = 10000);

    std::map<UINT, LRESULT> answers; // what the window answers, by message
    bool replied = false;
    unsigned replyResult = 0;
    HWND hubFromBroadcast = nullptr;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam, bool relayed, bool wrapped);
    LRESULT onCopyData(HWND sender, const COPYDATASTRUCT* copyData);

    HWND m_window = nullptr;
    std::vector<seenMessage> m_seen;
    bool m_unwrapping = false;
};

#endif
