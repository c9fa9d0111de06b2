/*
 * testdriver: one rkDriver driven by commands on standard input, for the
 * multi-process tests and by hand. Every notification and every debug
 * output text is written as one line on standard output, flushed; every
 * command answers "ok ..." or "error ...".
 *
 * Commands:
 *   connect DEVICE MODE        ok connect RESULT (0: registered, 1: failed)
 *   disconnect                 ok disconnect RESULT
 *   command TEXT...            sendCommand (0, TEXT): ok command RESULT
 *   ir COUNT SIZE              COUNT commands "IR device 1 'x...' 0" with SIZE characters
 *   ns WORKSTATION DEVICE TEXT WORD1 WORD2   ok ns RESULT (TEXT without spaces)
 *   rm DEVICE A B TEXT FLAG    ok rm RESULT
 *   rd DEVICE A B TEXT         ok rd RESULT
 *   value VALUE                ok value ANSWER
 *   ping                       ok ping ANSWER
 *   limits                     ok limits DEVICES SLOTSA SLOTSB DATABASES
 *   state STATE FLAG           setState
 *   preference VALUE APPLY     setPreference
 *   counters                   ok counters CHANGED SENT RECEIVED
 *   status                     ok status CONNECTED STATE DEVICE MODE
 *   callback on|off            attach or detach the callback
 *   delete                     deletes the driver (it unregisters)
 *   quit                       ends the program
 * Notifications: "onTextMessage TEXT", "onNSMessage WS DEVICE [TEXT] W1 W2",
 * "onStateChange STATE", "onConnected DEVICE", "onDisconnected DEVICE",
 * "onDatabaseChange DEVICE DATABASE INDEX"; debug output: "debug TEXT".
 */
#include "rkDriver.h"
#include "rkhost.h"
#include "testDriverLoop.h"

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>

namespace {

void writeLine(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void writeDebug(const char* text, void*)
{
    std::string line(text);
    while (!line.empty() && line.back() == '\n')
        line.pop_back();
    writeLine("debug " + line);
}

class printingCallback : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver*, const char* text) override { writeLine(std::string("onTextMessage ") + text); }
    void onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                     const std::string& word2) override
    {
        writeLine("onNSMessage " + std::to_string(workstation) + " " + std::to_string(device) + " [" + text + "] " +
                  word1 + " " + word2);
    }
    void onStateChange(rkDriver*, int state) override { writeLine("onStateChange " + std::to_string(state)); }
    void onConnected(int device) override { writeLine("onConnected " + std::to_string(device)); }
    void onDisconnected(int device) override { writeLine("onDisconnected " + std::to_string(device)); }
    void onDatabaseChange(int device, int database, int index) override
    {
        writeLine("onDatabaseChange " + std::to_string(device) + " " + std::to_string(database) + " " +
                  std::to_string(index));
    }
};

class commandReader {
public:
    commandReader() : driver(std::make_unique<rkDriver>(&callback, "rkDriver")) {}

    // False once the program should end.
    bool run(const std::string& line);

private:
    std::string execute(const std::string& word, std::istringstream& arguments);
    std::string sendIR(int count, int size);

    printingCallback callback;
    std::unique_ptr<rkDriver> driver;
};

std::string rest(std::istringstream& arguments)
{
    std::string text;
    std::getline(arguments >> std::ws, text);
    return text;
}

bool commandReader::run(const std::string& line)
{
    std::istringstream arguments(line);
    std::string word;
    arguments >> word;
    if (word.empty())
        return true;
    if (word == "quit")
        return false;
    if (!driver) {
        writeLine("error " + word + " no driver");
        return true;
    }
    writeLine(execute(word, arguments));
    return true;
}

std::string commandReader::sendIR(int count, int size)
{
    const std::string text = "IR " + std::to_string(driver->getDevice()) + " 1 '" +
                             std::string(static_cast<size_t>(size > 0 ? size : 0), 'x') + "' 0";
    int zeros = 0;
    for (int i = 0; i < count; ++i)
        zeros += driver->sendCommand(0, text.c_str()) == 0 ? 1 : 0;
    return "ok ir " + std::to_string(count) + " " + std::to_string(zeros);
}

std::string commandReader::execute(const std::string& word, std::istringstream& arguments)
{
    long a = 0, b = 0, c = 0, d = 0;
    std::string text, word1, word2;
    if (word == "connect" && arguments >> a >> b)
        return "ok connect " + std::to_string(driver->connect(static_cast<unsigned>(a), static_cast<int>(b), 0));
    if (word == "disconnect")
        return "ok disconnect " + std::to_string(driver->disconnect());
    if (word == "command")
        return "ok command " + std::to_string(driver->sendCommand(0, rest(arguments).c_str()));
    if (word == "ir" && arguments >> a >> b)
        return sendIR(static_cast<int>(a), static_cast<int>(b));
    if (word == "ns" && arguments >> a >> b >> text >> word1 >> word2)
        return "ok ns " + std::to_string(driver->sendNS(static_cast<int>(a), static_cast<int>(b), text, word1, word2));
    if (word == "rm" && arguments >> a >> b >> c >> text >> d)
        return "ok rm " + std::to_string(driver->sendRM(static_cast<int>(a), static_cast<int>(b),
                                                        static_cast<int>(c), text, d != 0));
    if (word == "rd" && arguments >> a >> b >> c >> text)
        return "ok rd " + std::to_string(driver->sendRD(static_cast<int>(a), static_cast<int>(b),
                                                        static_cast<int>(c), text));
    if (word == "value" && arguments >> a)
        return "ok value " + std::to_string(driver->sendDeviceValue(static_cast<unsigned>(a)));
    if (word == "ping")
        return "ok ping " + std::to_string(driver->pingKiv());
    if (word == "limits")
        return "ok limits " + std::to_string(driver->getMaxDevices()) + " " + std::to_string(driver->getSlotLimitA()) +
               " " + std::to_string(driver->getSlotLimitB()) + " " + std::to_string(driver->getMaxDatabases());
    if (word == "state" && arguments >> a >> b) {
        driver->setState(static_cast<int>(a), b != 0);
        return "ok state " + std::to_string(driver->getState());
    }
    if (word == "preference" && arguments >> a >> b) {
        driver->setPreference(static_cast<int>(a), b != 0);
        return "ok preference " + std::to_string(driver->getState());
    }
    if (word == "counters") {
        int sent = 0, received = 0;
        const bool changed = driver->getCounters(sent, received);
        return "ok counters " + std::to_string(changed) + " " + std::to_string(sent) + " " + std::to_string(received);
    }
    if (word == "status")
        return "ok status " + std::to_string(driver->isConnected()) + " " + std::to_string(driver->getState()) + " " +
               std::to_string(driver->getDevice()) + " " + std::to_string(driver->getConnectionMode());
    if (word == "callback" && arguments >> text) {
        driver->setCallback(text == "on" ? &callback : nullptr);
        return "ok callback " + text;
    }
    if (word == "delete") {
        driver.reset();
        return "ok delete";
    }
    return "error " + word + " unknown command or bad arguments";
}

} // namespace

int main()
{
    rkSetDebugSink(writeDebug, nullptr);
    commandReader reader;
    writeLine("ready");
    runCommandLoop([&](const std::string& line) { return reader.run(line); });
    return 0;
}
