#include "hubHarness.h"

#include "telmif32.h"
#include "testHost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr char driverClassName[] = "hubTestDriver";

} // namespace

privateDesktop::privateDesktop()
    : m_directory(makeScratchDirectory("rkhubtest"))
{
    setEnvironment("RK_DESKTOP", m_directory);
}

privateDesktop::~privateDesktop()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

bool pumpUntil(const std::function<bool()>& done, int milliseconds)
{
    return pumpMessagesUntil(done, milliseconds);
}

std::string binaryPath(const std::string& name)
{
    return testProgramPath(name);
}

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

childProcess::childProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& stderrFile)
    : m_process(program, arguments, stderrFile)
{
}

childProcess::~childProcess() = default;

void childProcess::writeLine(const std::string& line)
{
    ASSERT_TRUE(m_process.writeInput(line + "\n"));
}

void childProcess::readOutput()
{
    m_partial += m_process.readOutput();
    for (std::size_t end; (end = m_partial.find('\n')) != std::string::npos;) {
        // Standard output in text mode ends lines with CR LF on Windows.
        const bool crLf = end > 0 && m_partial[end - 1] == '\r';
        m_lines.push_back(m_partial.substr(0, crLf ? end - 1 : end));
        m_partial.erase(0, end + 1);
    }
}

std::string childProcess::waitForLine(const std::string& prefix, int milliseconds)
{
    return waitForLineMatching([&](const std::string& line) { return line.rfind(prefix, 0) == 0; }, milliseconds);
}

std::string childProcess::waitForLineMatching(const std::function<bool(const std::string&)>& wanted,
                                              int milliseconds)
{
    std::string found;
    pumpUntil(
        [&] {
            readOutput();
            for (std::size_t i = m_taken; i < m_lines.size(); ++i) {
                if (wanted(m_lines[i])) {
                    found = m_lines[i];
                    m_taken = i + 1;
                    return true;
                }
            }
            return false;
        },
        milliseconds);
    return found;
}

int childProcess::waitForExit(int milliseconds)
{
    pumpUntil(
        [&] {
            readOutput();
            return m_process.exitCode().has_value();
        },
        milliseconds);
    readOutput();
    return m_process.exitCode().value_or(-1);
}

namespace {

int hubsStarted = 0;

std::vector<std::string> hubArguments(const std::vector<std::string>& options, const std::string& ready)
{
    std::vector<std::string> arguments{"--quiet", "--ready", ready};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

} // namespace

hubProcess::hubProcess(const privateDesktop& desktop, const std::vector<std::string>& options)
    : hubProcess(desktop, options, "hub" + std::to_string(hubsStarted++))
{
}

hubProcess::hubProcess(const privateDesktop& desktop, const std::vector<std::string>& options,
                       const std::string& name)
    : childProcess(binaryPath("kivstandin"), hubArguments(options, desktop.file(name + ".ready")),
                   desktop.file(name + ".err")),
      m_eventFile(desktop.file(name + ".err"))
{
    const std::string ready = desktop.file(name + ".ready");
    pumpUntil([&] { return !readWholeFile(ready).empty(); });
    m_window = reinterpret_cast<HWND>(std::strtoull(readWholeFile(ready).c_str(), nullptr, 10));
    EXPECT_NE(m_window, nullptr) << "the hub did not write its window to " << ready;
}

std::string hubProcess::command(const std::string& line)
{
    writeLine(line);
    return waitForLineMatching(
        [](const std::string& reply) { return reply.rfind("ok ", 0) == 0 || reply.rfind("error ", 0) == 0; });
}

testDriverWindow::testDriverWindow()
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.cbWndExtra = sizeof(LONG_PTR);
    windowClass.lpszClassName = driverClassName;
    RegisterClassA(&windowClass);
    m_window = CreateWindowExA(0, driverClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, this);
    EXPECT_NE(m_window, nullptr);
}

testDriverWindow::~testDriverWindow()
{
    if (m_window != nullptr)
        DestroyWindow(m_window);
}

LRESULT testDriverWindow::send(HWND hub, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendMessageA(hub, message, wParam, lParam);
}

LRESULT testDriverWindow::registerAt(HWND hub, unsigned long device, int mode) const
{
    const UINT message = mode == 1 ? 2184 : (device <= 0x7fff ? 2193 : 49859);
    return send(hub, message, reinterpret_cast<WPARAM>(m_window), static_cast<LPARAM>(device));
}

LRESULT testDriverWindow::relayText(HWND hub, UINT message, const std::string& text)
{
    char payload[512] = {};
    std::memcpy(payload, text.data(), std::min(text.size(), sizeof payload - 1));
    COPYDATASTRUCT request;
    request.dwData = static_cast<ULONG_PTR>(message) << 16;
    request.cbData = sizeof payload;
    request.lpData = payload;
    replied = false;
    send(hub, WM_COPYDATA, reinterpret_cast<WPARAM>(m_window), reinterpret_cast<LPARAM>(&request));
    return replied ? static_cast<LRESULT>(replyResult) : -1;
}

const seenMessage* testDriverWindow::waitFor(UINT message, int milliseconds)
{
    const seenMessage* found = nullptr;
    pumpUntil(
        [&] {
            for (const seenMessage& seen : m_seen)
                if (seen.message == message)
                    found = &seen;
            return found != nullptr;
        },
        milliseconds);
    return found;
}

LRESULT CALLBACK testDriverWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, 0, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        return 0;
    }
    auto* self = reinterpret_cast<testDriverWindow*>(GetWindowLongPtrA(window, 0));
    if (self == nullptr || message == WM_DESTROY || message == WM_NCDESTROY)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_COPYDATA)
        return self->onCopyData(reinterpret_cast<HWND>(wParam), reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    if (message == 2074) {
        self->m_unwrapping = true;
        const LRESULT result = telmifDeliver(window, wParam, lParam);
        self->m_unwrapping = false;
        return result;
    }
    return self->handle(message, wParam, lParam, false, self->m_unwrapping);
}

LRESULT testDriverWindow::handle(UINT message, WPARAM wParam, LPARAM lParam, bool relayed, bool wrapped)
{
    if (message == 2032) {
        hubFromBroadcast = reinterpret_cast<HWND>(wParam);
        return 0;
    }
    seenMessage seen;
    seen.message = message;
    seen.wParam = wParam;
    seen.lParam = lParam;
    seen.relayed = relayed;
    seen.wrapped = wrapped;
    if (relayed && lParam != 0) {
        const auto* payload = reinterpret_cast<const char*>(lParam);
        seen.text = payload;
        seen.bytes.assign(payload, payload + 16);
    }
    m_seen.push_back(seen);
    const auto chosen = answers.find(message);
    return chosen != answers.end() ? chosen->second : (message == 2121 || message == 2189 ? 1 : 0);
}

LRESULT testDriverWindow::onCopyData(HWND sender, const COPYDATASTRUCT* copyData)
{
    const unsigned message = static_cast<unsigned>((copyData->dwData >> 16) & 0xffff);
    const unsigned wParam = static_cast<unsigned>(copyData->dwData & 0xffff);
    if (message == 2984) {
        replied = true;
        replyResult = wParam;
        return 1;
    }
    char payload[513] = {};
    std::memcpy(payload, copyData->lpData, std::min<std::size_t>(copyData->cbData, 512));
    LRESULT result;
    if (copyData->cbData == 16) {
        // A numeric request: the hub's values are not pointers here.
        result = handle(message, wParam, static_cast<LPARAM>(std::strtoul(payload, nullptr, 16)), false, false);
        if (!m_seen.empty())
            m_seen.back().relayed = true;
    } else {
        result = handle(message, wParam, reinterpret_cast<LPARAM>(payload), true, false);
    }
    COPYDATASTRUCT reply;
    reply.dwData = (static_cast<ULONG_PTR>(2984) << 16) | (static_cast<ULONG_PTR>(result) & 0xffff);
    reply.cbData = copyData->cbData;
    reply.lpData = payload;
    SendMessageA(sender, WM_COPYDATA, reinterpret_cast<WPARAM>(m_window), reinterpret_cast<LPARAM>(&reply));
    return 1;
}

std::vector<std::string> hubProcess::status()
{
    const std::size_t before = lines().size();
    const std::string done = command("status");
    std::vector<std::string> drivers;
    for (std::size_t i = before; i < lines().size(); ++i)
        if (lines()[i].rfind("driver ", 0) == 0)
            drivers.push_back(lines()[i]);
    EXPECT_EQ(done, "ok status " + std::to_string(drivers.size()));
    return drivers;
}
