/* Everything a driver sends to KIV after registration, and its counters. */
#include "rkDriver.h"

#include "rkConfig.h"
#include "rkDriverMessages.h"
#include "telmif32.h"
#include "telmwm32.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

/* The NS command is built in a buffer of this size, terminator included. */
const size_t nsCommandSize = 512;

/* The device limit's fallback is rkCheck's own, which the driver inherits. */
const int defaultSlotLimit = 4096;
const int defaultMaxDatabases = 10;

std::string formatCommand(const char* format, ...) __attribute__((format(printf, 1, 2)));

std::string formatCommand(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0)
        std::vsnprintf(&text[0], text.size() + 1, format, arguments);
    va_end(arguments);
    return text;
}

long long windowNumber(HWND window)
{
    return static_cast<long long>(reinterpret_cast<LONG_PTR>(window));
}

} // namespace

/*
 * In mode 1 the relay carries at least 512 bytes: the data travels in a
 * zeroed buffer of that size, or of its own size when longer, so a long
 * command arrives whole.
 */
int rkDriver::sendToKiv(int message, WPARAM wParam, const void* data, int length, int replyLength, int textMode)
{
    const size_t byteCount = static_cast<size_t>(std::max(length, 0));
    if (connectionMode == 1) {
        std::vector<char> buffer(std::max(byteCount, static_cast<size_t>(RELAY_TEXT_BYTES)), '\0');
        if (byteCount > 0)
            std::memcpy(buffer.data(), data, byteCount);
        return static_cast<int>(relaySend(messageWindow, kivWindow, static_cast<UINT>(message), wParam,
                                          reinterpret_cast<LPARAM>(buffer.data()), replyLength, textMode,
                                          static_cast<DWORD>(buffer.size())));
    }
    if (connectionMode == 2)
        return static_cast<int>(telmifSend(kivWindow, LOWORD(message), wParam, data, textMode,
                                           std::max(length, replyLength)));
    return 0;
}

int rkDriver::sendText(int message, WPARAM wParam, const char* text, size_t length)
{
    return sendToKiv(message, wParam, text, static_cast<int>(length + 1), 0, 1);
}

int rkDriver::sendCommand(int value, const char* command)
{
    ++sentCount;
    if (command == nullptr)
        command = "";
    return sendText(msgCommand, static_cast<WPARAM>(value), command, std::strlen(command));
}

bool rkDriver::sendNS(int workstation, int device, const std::string& text, const std::string& word1,
                      const std::string& word2)
{
    if (workstation != 0 && checkWorkstation(static_cast<unsigned int>(workstation)))
        return true;
    if (checkDevice(static_cast<unsigned int>(device)))
        return true;
    if (checkStringLength(text.c_str()))
        return true;
    const std::string command = formatCommand("NS %d %d '%s' %d %s %s", device, ::getWorkstation(), text.c_str(),
                                              workstation, word1.c_str(), word2.c_str());
    // Cut short it would carry other words than asked for: refuse it like a failed check.
    if (command.size() >= nsCommandSize) {
        report("NS command too long (more than 511 characters)");
        return true;
    }
    sendText(msgNSCommand, 0, command.c_str(), command.size());
    ++sentCount;
    return false;
}

bool rkDriver::sendRM(int device, int valueA, int valueB, const std::string& text, bool flag)
{
    const std::string command = formatCommand("RM %d %d %d '%s' %d %d %lld", device, valueB, valueA, text.c_str(),
                                              flag ? 1 : 0, workstation, windowNumber(messageWindow));
    OutputDebugStringA(command.c_str());
    sendText(msgRMCommand, LOWORD(device), command.c_str(), command.size());
    sendText(msgRMCommandCopy, 0, command.c_str(), command.size());
    ++sentCount;
    return false;
}

bool rkDriver::sendRD(int device, int valueA, int valueB, const std::string& text)
{
    const std::string command =
        formatCommand("RD %d %d %d '%s' %d", device, valueB, valueA, text.c_str(), workstation);
    OutputDebugStringA(command.c_str());
    sendText(msgCommand, 0, command.c_str(), command.size());
    ++sentCount;
    return false;
}

int rkDriver::sendDeviceValue(unsigned int value)
{
    if (value <= 0xffff && device <= 0xffff)
        return static_cast<int>(SendMessageA(kivWindow, msgDeviceValue, reinterpret_cast<WPARAM>(messageWindow),
                                             static_cast<LPARAM>((value << 16) | device)));
    int32_t record[2] = {static_cast<int32_t>(value), static_cast<int32_t>(device)};
    return sendToKiv(msgDeviceValueWide, reinterpret_cast<WPARAM>(messageWindow), record, sizeof record, 0, 1);
}

int rkDriver::pingKiv()
{
    return static_cast<int>(SendMessageA(kivWindow, msgPing, 0, 0));
}

/* KIV's limit, or the built-in one when KIV answers 0. */
int rkDriver::askLimit(UINT message, int fallback)
{
    const int limit = static_cast<int>(SendMessageA(kivWindow, message, 0, 0));
    return limit != 0 ? limit : fallback;
}

int rkDriver::getMaxDevices()
{
    return askLimit(msgMaxDevices, defaultMaxDevices);
}

int rkDriver::getSlotLimitA()
{
    return askLimit(msgSlotLimitA, defaultSlotLimit);
}

int rkDriver::getSlotLimitB()
{
    return askLimit(msgSlotLimitB, defaultSlotLimit);
}

int rkDriver::getMaxDatabases()
{
    return askLimit(msgMaxDatabases, defaultMaxDatabases);
}

bool rkDriver::getCounters(int& sent, int& received)
{
    sent = sentCount;
    received = receivedCount;
    const bool changed = sentCount != lastSentCount || receivedCount != lastReceivedCount;
    lastSentCount = sentCount;
    lastReceivedCount = receivedCount;
    return changed;
}

void rkDriver::resetCounters()
{
    sentCount = 0;
    receivedCount = 0;
    lastSentCount = -1;
    lastReceivedCount = -1;
}
