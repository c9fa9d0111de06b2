// The stand-in hub: its window, its answers to drivers and its commands.
#ifndef KIV_STANDIN_H
#define KIV_STANDIN_H

#include "hubFrames.h"
#include "hubOptions.h"
#include "hubRegistry.h"
#include "hubTraffic.h"
#include "rkwin.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class kivStandin {
public:
    explicit kivStandin(const hubOptions& options);
    ~kivStandin();
    kivStandin(const kivStandin&) = delete;
    kivStandin& operator=(const kivStandin&) = delete;

    // False with a reason on stderr when the window or a file cannot be made.
    bool start();
    HWND window() const { return m_window; }

    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void runCommand(const std::string& line);
    // Called at least four times a second by the loop, and after every
    // wakeup; drivers whose window has gone are freed on the first call
    // each 250 ms.
    void tick();
    // SIGINT, SIGTERM: announce closing now, then wait for the drivers.
    void requestClose();
    bool finished() const { return m_finished; }
    // The summary to stdout and, when asked for, as JSON.
    void writeSummary();

private:
    struct relayExchange {
        bool replied = false;
        unsigned result = 0;
    };

    // Messages from drivers
    LRESULT onCopyData(HWND sender, const COPYDATASTRUCT* copyData);
    LRESULT onRelayRequest(HWND sender, const hubFrame& frame);
    // A driver of mode 2 has nothing more to wait for once its answer is
    // known; a relayed text is answered with the relay's own reply.
    enum class answerTime { atOnce, onReturn };
    LRESULT onCarried(const hubFrame& frame, answerTime when);
    LRESULT onCommandText(UINT message, std::string_view text, answerTime when);
    LRESULT onBroadcast(HWND asker);
    LRESULT onRegister(HWND window, LPARAM device, int mode);
    long registrationReply(HWND window, unsigned long device);
    LRESULT onValueMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onUnregister(HWND asker, unsigned long device);
    LRESULT onForgetWindow(HWND window, unsigned long device);
    bool refusesRelease(UINT message, HWND asker, unsigned long device);
    LRESULT answer(UINT message, LRESULT standing) const;
    long stateFor(unsigned long device);

    // Messages to drivers
    bool relaySend(HWND target, unsigned message, unsigned wParam, const void* data, std::size_t size,
                   relayExchange& exchange);
    bool sendValue(const hubDriver& driver, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    std::size_t announceClosing();

    // Commands
    void commandRelayText(const std::vector<std::string>& words, const std::string& line, bool withWParam);
    void commandDatabase(const std::vector<std::string>& words);
    void commandDatabase32(const std::vector<std::string>& words);
    void commandAsk(const std::vector<std::string>& words);
    void commandGoodbye(const std::vector<std::string>& words);
    void commandStatus();
    std::optional<hubDriver> driverFor(const std::string& device, const std::string& command);

    void freeDeadDrivers();
    void showStatus();
    void capture(std::string_view text);
    void writeSeries(std::size_t seconds);
    void startClock();
    std::size_t secondOfRun() const;
    void logEvent(const std::string& text);
    double elapsedSeconds() const;

    hubOptions m_options;
    HWND m_window = nullptr;
    hubRegistry m_drivers;
    hubTraffic m_traffic;
    relayExchange* m_exchange = nullptr;
    std::FILE* m_capture = nullptr;
    std::FILE* m_series = nullptr;
    std::size_t m_seriesTaken = 0; // seconds taken from the series: written, or dropped without a file
    DWORD m_startTick = 0;
    double m_startedUtc = 0; // Unix seconds at m_startTick
    int m_workstation = 0;   // this hub's workstation, read once as it starts
    DWORD m_seriesTick = 0;  // where the wall clock's second that holds m_startTick began
    DWORD m_lastStatusTick = 0;
    DWORD m_lastSweepTick = 0;
    hubCount m_lastStatusCount;
    bool m_closing = false;
    DWORD m_closingTick = 0;
    bool m_finished = false;
    unsigned m_malformedShown = 0;
};

// Prints one line to stdout and flushes it, so that a reader waiting on the
// hub's answers sees each at once.
void hubSay(const std::string& line);

#endif
