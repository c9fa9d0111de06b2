#include "kivStandin.h"

#include "hubMessages.h"
#include "rkConfig.h"
#include "telmifFrame.h"

#include <cmath>
#include <chrono>
#include <cstring>
#include <fstream>

namespace {

constexpr char hubClassName[] = "kivstandin";

constexpr unsigned malformedShownMax = 100;
/*
 * Each sweep asks the window station after every driver's window: with
 * hundreds of idle drivers a quarter-second sweep kept the station busier
 * than everything else they do. A registration checks its holder anyway.
 */
constexpr DWORD sweepMilliseconds = 1000;

bool isCommandTextMessage(unsigned message)
{
    return message == msgNSCommand || message == msgRMCommand || message == msgRMCommandCopy || message == msgCommand;
}

// What a driver may ask through a carrier: value messages only. Messages
// whose parameters are window handles or pointers cannot travel that way.
bool isCarriedValueMessage(unsigned message)
{
    switch (message) {
    case msgIdentity:
    case msgAskState:
    case msgSetState:
    case msgUnregister:
    case msgDeviceValue:
    case msgPing:
    case msgMaxDevices:
    case msgSlotLimitA:
    case msgSlotLimitB:
    case msgMaxDatabases:
        return true;
    default:
        return false;
    }
}

bool isRefusal(long reply)
{
    return reply == 1 || reply == 2 || reply == 3;
}

std::string handleText(HWND window)
{
    return std::to_string(reinterpret_cast<std::uintptr_t>(window));
}

LRESULT CALLBACK hubWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The hub comes with the window's own creation, once: a later WM_CREATE
    // is another process's and may carry any address.
    if (message == WM_CREATE) {
        if (GetWindowLongPtrA(window, 0) == 0) {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        return 0;
    }
    auto* hub = reinterpret_cast<kivStandin*>(GetWindowLongPtrA(window, 0));
    if (hub == nullptr || message == WM_DESTROY)
        return DefWindowProcA(window, message, wParam, lParam);
    return hub->handleMessage(message, wParam, lParam);
}

double unixSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool writeFileAtomically(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    std::remove(path.c_str());
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

void hubSay(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The run is counted from here until start() begins it anew, so that a
// second of the run is never taken from the machine's uptime.
kivStandin::kivStandin(const hubOptions& options) : m_options(options), m_traffic(options.deviceLimit)
{
    startClock();
    m_workstation = getWorkstation();
}

// Unix time is read together with the tick count, so that "started_utc"
// and the run's seconds count from the same instant. The series' seconds are
// the wall clock's (the first one only partly the run's), so that they line
// up with the seconds of the drivers and of other workstations.
void kivStandin::startClock()
{
    m_startTick = GetTickCount();
    m_startedUtc = unixSeconds();
    const double intoSecond = m_startedUtc - std::floor(m_startedUtc);
    m_seriesTick = m_startTick - static_cast<DWORD>(intoSecond * 1000);
}

kivStandin::~kivStandin()
{
    if (m_window != nullptr)
        DestroyWindow(m_window);
    UnregisterClassA(hubClassName, nullptr);
    if (m_capture != nullptr)
        std::fclose(m_capture);
    if (m_series != nullptr)
        std::fclose(m_series);
}

bool kivStandin::start()
{
    if (!m_options.captureFile.empty()) {
        m_capture = std::fopen(m_options.captureFile.c_str(), "wb"); // one LF per line on every host
        if (m_capture == nullptr) {
            std::fprintf(stderr, "kivstandin: cannot write %s\n", m_options.captureFile.c_str());
            return false;
        }
    }
    if (!m_options.seriesFile.empty()) {
        m_series = std::fopen(m_options.seriesFile.c_str(), "wb");
        if (m_series == nullptr || std::fputs(hubSeries::csvHeader(), m_series) < 0 || std::fflush(m_series) != 0) {
            std::fprintf(stderr, "kivstandin: cannot write %s\n", m_options.seriesFile.c_str());
            return false;
        }
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = hubWindowProc;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.lpszClassName = hubClassName;
    RegisterClassA(&windowClass);
    m_window = CreateWindowExA(0, hubClassName, hubClassName, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, this);
    if (m_window == nullptr) {
        std::fprintf(stderr, "kivstandin: cannot create the hub window (error %lu)\n",
                     static_cast<unsigned long>(GetLastError()));
        return false;
    }
    startClock();
    m_lastStatusTick = m_startTick;
    m_lastSweepTick = m_startTick;
    if (!m_options.readyFile.empty() && !writeFileAtomically(m_options.readyFile, handleText(m_window) + "\n")) {
        std::fprintf(stderr, "kivstandin: cannot write %s\n", m_options.readyFile.c_str());
        return false;
    }
    logEvent("window " + handleText(m_window) + ", device limit " + std::to_string(m_options.deviceLimit));
    return true;
}

LRESULT kivStandin::handleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA:
        return onCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case msgWhereIsKiv:
    case msgWhereIsKivAgain:
        return onBroadcast(reinterpret_cast<HWND>(wParam));
    case msgRegister:
        return onRegister(reinterpret_cast<HWND>(wParam), lParam, 1);
    case msgRegisterMode2:
    case msgRegisterMode2Wide:
        return onRegister(reinterpret_cast<HWND>(wParam), lParam, 2);
    case msgForgetWindow:
        return answer(message, onForgetWindow(reinterpret_cast<HWND>(wParam),
                                              static_cast<unsigned long>(static_cast<DWORD>(lParam))));
    default:
        if (isCarriedValueMessage(message))
            return onValueMessage(message, wParam, lParam);
        return DefWindowProcA(m_window, message, wParam, lParam);
    }
}

LRESULT kivStandin::onValueMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const auto device = static_cast<unsigned long>(static_cast<DWORD>(lParam));
    switch (message) {
    case msgIdentity:
        return answer(message, !m_options.failIdentity && wParam == 0x5555 ? 0xaaaa : 0);
    case msgAskState:
        return answer(message, stateFor(device));
    case msgSetState:
        if (hubDriver* driver = m_drivers.find(device); driver != nullptr && wParam >= 1 && wParam <= 3)
            driver->state = static_cast<long>(wParam);
        return answer(message, 0);
    case msgUnregister:
        return answer(message, onUnregister(reinterpret_cast<HWND>(wParam), device));
    case msgMaxDevices:
        return answer(message, static_cast<LRESULT>(m_options.deviceLimit));
    case msgSlotLimitA:
    case msgSlotLimitB:
        return answer(message, 4096);
    case msgMaxDatabases:
        return answer(message, 10);
    case msgDeviceValue:
        m_traffic.recordValue();
        return answer(message, 1);
    default: // msgPing
        return answer(message, 1);
    }
}

LRESULT kivStandin::onUnregister(HWND asker, unsigned long device)
{
    if (refusesRelease(msgUnregister, asker, device))
        return 1;
    if (m_drivers.remove(device))
        logEvent("unregistered device " + std::to_string(device));
    return 0;
}

// lParam 0 names no device: device 0 can be held (--register-reply), but not through this.
LRESULT kivStandin::onForgetWindow(HWND window, unsigned long device)
{
    if (device != 0 && refusesRelease(msgForgetWindow, window, device))
        return 1;
    if (const std::size_t forgotten = m_drivers.removeWindow(window))
        logEvent("forgot window " + handleText(window) + " (" + std::to_string(forgotten) + " devices)");
    return 0;
}

// A driver whose registration was refused must not free the device of the
// driver that holds it. A window that has gone holds nothing any more: the
// next sweep would free its devices anyway.
bool kivStandin::refusesRelease(UINT message, HWND asker, unsigned long device)
{
    const hubDriver* holder = m_drivers.find(device);
    if (asker == nullptr || holder == nullptr || holder->window == asker || !IsWindow(holder->window))
        return false;
    logEvent("refused " + std::to_string(message) + " for device " + std::to_string(device) + " from window " +
             handleText(asker) + ": window " + handleText(holder->window) + " holds it");
    return true;
}

LRESULT kivStandin::answer(UINT message, LRESULT standing) const
{
    const auto chosen = m_options.answers.find(message);
    return chosen == m_options.answers.end() ? standing : static_cast<LRESULT>(chosen->second);
}

long kivStandin::stateFor(unsigned long device)
{
    if (m_options.state)
        return *m_options.state;
    const hubDriver* driver = m_drivers.find(device);
    return driver == nullptr ? 0 : driver->state;
}

LRESULT kivStandin::onBroadcast(HWND asker)
{
    if (!m_options.noBroadcast && asker != nullptr && IsWindow(asker))
        SendMessageA(asker, msgKivIsHere, reinterpret_cast<WPARAM>(m_window), 0);
    return 0;
}

LRESULT kivStandin::onRegister(HWND window, LPARAM lParam, int mode)
{
    const auto device = static_cast<unsigned long>(static_cast<DWORD>(lParam));
    const long reply = registrationReply(window, device);
    if (!isRefusal(reply))
        m_drivers.add({device, window, mode, 2});
    m_traffic.recordRegistration({device, reinterpret_cast<std::uintptr_t>(window), mode, reply, elapsedSeconds()});
    logEvent("register device " + std::to_string(device) + " mode " + std::to_string(mode) + " window " +
             handleText(window) + ": reply " + std::to_string(reply));
    // Inside the registration, so that the driver hears the goodbye before it has its answer.
    if (m_options.closeOnRegister && !isRefusal(reply) && !m_closing)
        announceClosing();
    return reply;
}

long kivStandin::registrationReply(HWND window, unsigned long device)
{
    if (m_options.registerReply)
        return *m_options.registerReply;
    if (m_options.driverModeOff)
        return 3;
    if (device < 1 || device > m_options.deviceLimit)
        return 1;
    const hubDriver* holder = m_drivers.find(device);
    // The same window registering again takes its device back.
    if (holder != nullptr && holder->window != window && IsWindow(holder->window))
        return 2;
    return 0;
}

LRESULT kivStandin::onCopyData(HWND sender, const COPYDATASTRUCT* copyData)
{
    const hubFrame frame = readFrame(copyData);
    switch (frame.kind) {
    case frameKind::relayReply:
        if (m_exchange == nullptr) {
            m_traffic.recordBadFrame();
            return 0;
        }
        m_exchange->replied = true;
        m_exchange->result = static_cast<unsigned>(frame.wParam);
        return 1;
    case frameKind::relayRequest:
        return onRelayRequest(sender, frame);
    case frameKind::telmif:
        return onCarried(frame, answerTime::atOnce);
    case frameKind::bad:
        break;
    }
    m_traffic.recordBadFrame();
    return 0;
}

LRESULT kivStandin::onRelayRequest(HWND sender, const hubFrame& frame)
{
    const LRESULT result = onCarried(frame, answerTime::onReturn);
    // A sender that is no window (any more) makes the reply fail at once;
    // asking first would cost a second round trip per request.
    if (sender == nullptr)
        return 1;
    char number[relayNumericSize];
    COPYDATASTRUCT reply;
    reply.dwData = (static_cast<ULONG_PTR>(relayReplyMessage) << 16) | (static_cast<ULONG_PTR>(result) & 0xffff);
    if (frame.numeric) {
        writeRelayNumber(frame.value, number);
        reply.cbData = relayNumericSize;
        reply.lpData = number;
    } else {
        // The payload goes back as long as it came, at least 512 bytes.
        reply.cbData = static_cast<DWORD>(frame.bytes.size() - 1);
        reply.lpData = const_cast<char*>(frame.bytes.data());
    }
    SendMessageA(sender, WM_COPYDATA, reinterpret_cast<WPARAM>(m_window), reinterpret_cast<LPARAM>(&reply));
    return 1;
}

LRESULT kivStandin::onCarried(const hubFrame& frame, answerTime when)
{
    if (isCommandTextMessage(frame.message) && !frame.numeric)
        return onCommandText(frame.message, frame.text(), when);
    // The wide value record: value and device, 32 bits each.
    if (frame.message == msgDeviceValueWide && !frame.numeric && frame.payload.size() >= 8) {
        m_traffic.recordValue();
        return answer(frame.message, 1);
    }
    if (isCarriedValueMessage(frame.message))
        return onValueMessage(frame.message, static_cast<WPARAM>(frame.wParam), static_cast<LPARAM>(frame.value));
    m_traffic.recordBadFrame();
    return 0;
}

// The capture holds every text before its driver has the answer; counting
// and logging need not keep the driver waiting. Once answered, the text may
// be gone with the sender's block: nothing reads it after that.
LRESULT kivStandin::onCommandText(UINT message, std::string_view text, answerTime when)
{
    capture(text);
    const hubTraffic::judgement judged = m_traffic.judge(text, [this](long device) {
        return device > 0 && m_drivers.find(static_cast<unsigned long>(device)) != nullptr;
    });
    const LRESULT result = answer(message, judged.wellFormed ? 1 : 0);
    std::optional<std::string> shown;
    if (!judged.wellFormed && m_malformedShown < malformedShownMax)
        shown = std::string(text.substr(0, 200));
    if (when == answerTime::atOnce)
        ReplyMessage(result);
    m_traffic.count(judged, secondOfRun());
    if (shown) {
        ++m_malformedShown;
        logEvent("malformed IR text: " + *shown +
                 (m_malformedShown == malformedShownMax ? " (further ones only counted)" : ""));
    }
    return result;
}

bool kivStandin::relaySend(HWND target, unsigned message, unsigned wParam, const void* data, std::size_t size,
                           relayExchange& exchange)
{
    char payload[relayTextSize] = {};
    std::memcpy(payload, data, size < relayTextSize ? size : relayTextSize);
    COPYDATASTRUCT request;
    request.dwData = (static_cast<ULONG_PTR>(message & 0xffff) << 16) | (wParam & 0xffff);
    request.cbData = relayTextSize;
    request.lpData = payload;
    // The reply comes back as a WM_COPYDATA nested inside this send.
    relayExchange* outer = m_exchange;
    m_exchange = &exchange;
    const LRESULT taken =
        SendMessageA(target, WM_COPYDATA, reinterpret_cast<WPARAM>(m_window), reinterpret_cast<LPARAM>(&request));
    m_exchange = outer;
    return taken != 0 || exchange.replied;
}

bool kivStandin::sendValue(const hubDriver& driver, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (driver.mode != 2) {
        result = SendMessageA(driver.window, message, wParam, lParam);
        return true;
    }
    const WPARAM wrapped = (wParam << telmifWrapShift) | message;
    if ((wrapped >> telmifWrapShift) != wParam)
        return false;
    result = SendMessageA(driver.window, msgCarried, wrapped, lParam);
    return true;
}

std::size_t kivStandin::announceClosing()
{
    m_closing = true;
    m_closingTick = GetTickCount();
    const std::vector<hubDriver> drivers = m_drivers.snapshot();
    for (const hubDriver& driver : drivers) {
        LRESULT ignored = 0;
        sendValue(driver, msgKivClosing, 0, 0, ignored);
    }
    logEvent("closing announced to " + std::to_string(drivers.size()) + " drivers");
    return drivers.size();
}

void kivStandin::requestClose()
{
    if (!m_closing)
        announceClosing();
}

void kivStandin::tick()
{
    const DWORD now = GetTickCount();
    // Asking after every wakeup whether each driver's window still exists
    // would cost a round trip per driver and message under load.
    if (now - m_lastSweepTick >= sweepMilliseconds) {
        m_lastSweepTick = now;
        freeDeadDrivers();
    }
    if (now - m_lastStatusTick >= 1000)
        showStatus();
    writeSeries(secondOfRun());
    if (!m_closing && m_options.seconds && elapsedSeconds() >= *m_options.seconds)
        announceClosing();
    // Announcing may have started after `now` was read: measure the grace from a fresh reading.
    if (m_closing && (m_drivers.empty() || GetTickCount() - m_closingTick >= m_options.graceSeconds * 1000))
        m_finished = true;
}

void kivStandin::freeDeadDrivers()
{
    for (unsigned long device : m_drivers.sweep([](HWND window) { return IsWindow(window) != FALSE; }))
        logEvent("freed device " + std::to_string(device) + ": its window has gone");
}

void kivStandin::showStatus()
{
    const DWORD now = GetTickCount();
    const double seconds = (now - m_lastStatusTick) / 1000.0;
    const hubCount& total = m_traffic.total();
    if (!m_options.quiet)
        std::fprintf(stderr, "kivstandin: %zu devices, %.0f msg/s, %.0f B/s, %llu malformed, %llu bad frames\n",
                     m_drivers.size(), (total.messages - m_lastStatusCount.messages) / seconds,
                     (total.bytes - m_lastStatusCount.bytes) / seconds,
                     static_cast<unsigned long long>(m_traffic.malformed()),
                     static_cast<unsigned long long>(m_traffic.badFrames()));
    m_lastStatusTick = now;
    m_lastStatusCount = total;
}

void kivStandin::capture(std::string_view text)
{
    if (m_capture == nullptr)
        return;
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_capture);
    std::fflush(m_capture);
}

// Texts are counted in the second they arrive in, read from the same clock,
// so a second whose rows are written takes no more counts.
std::size_t kivStandin::secondOfRun() const
{
    return (GetTickCount() - m_seriesTick) / 1000;
}

// Flushed per second, so that a run that is killed keeps what it had. The
// seconds are taken even without a file, so that the hub keeps none of them.
void kivStandin::writeSeries(std::size_t seconds)
{
    if (seconds <= m_seriesTaken)
        return;
    m_seriesTaken = seconds;
    if (m_series == nullptr) {
        m_traffic.series().dropSeconds(seconds);
        return;
    }
    const std::string rows = m_traffic.series().takeCsvRows(seconds);
    if (std::fwrite(rows.data(), 1, rows.size(), m_series) != rows.size() || std::fflush(m_series) != 0) {
        std::fprintf(stderr, "kivstandin: cannot write %s\n", m_options.seriesFile.c_str());
        std::fclose(m_series);
        m_series = nullptr;
    }
}

void kivStandin::logEvent(const std::string& text)
{
    std::fprintf(stderr, "kivstandin: %s\n", text.c_str());
}

double kivStandin::elapsedSeconds() const
{
    return (GetTickCount() - m_startTick) / 1000.0;
}

void kivStandin::writeSummary()
{
    const double seconds = elapsedSeconds();
    // The partial last second as well, so that the file's rows add up to the summary.
    writeSeries(secondOfRun() + 1);
    std::fputs(m_traffic.summaryText(seconds).c_str(), stdout);
    std::fflush(stdout);
    if (!m_options.summaryFile.empty() &&
        !writeFileAtomically(m_options.summaryFile,
                             m_traffic.summaryJson(seconds, m_drivers.size(), m_startedUtc, m_workstation)))
        std::fprintf(stderr, "kivstandin: cannot write %s\n", m_options.summaryFile.c_str());
}
