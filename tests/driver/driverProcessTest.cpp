// A driver in one process and the stand-in hub in another: registration,
// commands counted at the hub, KIV's messages delivered through the
// callbacks, and what happens when either side dies or misbehaves.
#include "driverTestSupport.h"
#include "processSupport.h"
#include "telmwm32.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>

namespace {

class driverProcess : public ::testing::Test {
protected:
    scopedDesktop desktop;
    scopedConfiguration configuration{desktop}; // the test driver inherits its workstation

    std::string capture() const { return desktop.file("capture.txt"); }

    // The lines of the capture file, once it holds count of them.
    std::vector<std::string> captured(size_t count)
    {
        std::vector<std::string> found;
        pumpUntil(
            [&] {
                found.clear();
                std::istringstream text(readWholeFile(capture()));
                for (std::string line; std::getline(text, line);)
                    found.push_back(line);
                return found.size() >= count;
            },
            10000);
        return found;
    }
};

TEST_F(driverProcess, reportsCannotFindKivWithoutAHub)
{
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command("connect 5 2"), "ok connect 1");
    EXPECT_EQ(driver.linesStartingWith("debug Cannot find KIV").size(), 1u);
    EXPECT_TRUE(driver.linesStartingWith("onConnected").empty());
}

class driverProcessInMode : public driverProcess, public ::testing::WithParamInterface<int> {
protected:
    std::string connect(int device) { return "connect " + std::to_string(device) + " " + std::to_string(GetParam()); }
};

TEST_P(driverProcessInMode, registersThroughDravikAndAsksForItsState)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_EQ(driver.linesStartingWith("debug rkClient: KIV handle from dravik.dll").size(), 1u);
    EXPECT_EQ(driver.linesStartingWith("debug Success - KIV has accepted request").size(), 1u);
    EXPECT_EQ(driver.linesStartingWith("on"), (std::vector<std::string>{"onConnected 5", "onStateChange 2"}));
    EXPECT_EQ(hub.command("status"), "ok status 1");
    const auto drivers = hub.lastDetails("driver ");
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0], "driver 5 " + std::to_string(reinterpret_cast<LONG_PTR>(driver.messageWindow())) + " " +
                              std::to_string(GetParam()) + " 2");
}

TEST_P(driverProcessInMode, fallsBackToTheBroadcastWhenDravikHandleFailsTheIdentityCheck)
{
    hubProgram hub(desktop, {"--fail-identity"});
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_TRUE(driver.linesStartingWith("debug rkClient").empty());
    EXPECT_EQ(hub.driverCount(), 1);
}

TEST_P(driverProcessInMode, isRefusedADeviceOutsideTheHubsLimit)
{
    hubProgram hub(desktop, {"--devices", "10"});
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command(connect(11)), "ok connect 1");
    EXPECT_EQ(driver.linesStartingWith("debug Request refused - ID supplied is invalid").size(), 1u);
    EXPECT_EQ(driver.command(connect(10)), "ok connect 0");
}

TEST_P(driverProcessInMode, isRefusedADeviceThatAnotherDriverHolds)
{
    hubProgram hub(desktop);
    driverProgram first(desktop);
    driverProgram second(desktop);
    EXPECT_EQ(first.command(connect(5)), "ok connect 0");
    EXPECT_EQ(second.command(connect(5)), "ok connect 1");
    EXPECT_EQ(
        second.linesStartingWith("debug Request refused - Device ID is already running on this workstation").size(),
        1u);
}

TEST_P(driverProcessInMode, isRefusedByAHubOutOfDriverMode)
{
    hubProgram hub(desktop, {"--driver-mode", "off"});
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command(connect(5)), "ok connect 1");
    EXPECT_EQ(driver.linesStartingWith("debug Request refused - KIV has not been enabled in Driver Mode").size(), 1u);
}

TEST_P(driverProcessInMode, takesAnUnknownReplyAsAcceptanceWithoutSuccessText)
{
    hubProgram hub(desktop, {"--register-reply", "7", "--state", "1"});
    driverProgram driver(desktop);
    EXPECT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_TRUE(driver.linesStartingWith("debug Success").empty());
    EXPECT_EQ(driver.linesStartingWith("on"), (std::vector<std::string>{"onConnected 5", "onStateChange 1"}));
}

TEST_P(driverProcessInMode, sendsCommandsThatTheHubCountsWithTheirExactTexts)
{
    hubProgram hub(desktop, {"--capture", capture()});
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(7)), "ok connect 0");
    const std::string window = std::to_string(reinterpret_cast<LONG_PTR>(driver.messageWindow()));
    EXPECT_EQ(driver.command("command IR 7 3 'abc' 0"), "ok command 1");
    EXPECT_EQ(driver.command("rm 7 1 2 abc 1"), "ok rm 0");
    EXPECT_EQ(driver.command("rd 7 1 2 abc"), "ok rd 0");
    EXPECT_EQ(driver.command("ns 0 5 hi a b"), "ok ns 0");
    EXPECT_EQ(driver.command("ir 1 1024"), "ok ir 1 0");
    EXPECT_EQ(driver.command("counters"), "ok counters 1 5 0");
    const auto lines = captured(6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "IR 7 3 'abc' 0");
    EXPECT_EQ(lines[1], "RM 7 2 1 'abc' 1 12 " + window);
    EXPECT_EQ(lines[2], "RM 7 2 1 'abc' 1 12 " + window);
    EXPECT_EQ(lines[3], "RD 7 2 1 'abc' 12");
    EXPECT_EQ(lines[4], "NS 5 12 'hi' 0 a b");
    EXPECT_EQ(lines[5], "IR 7 1 '" + std::string(1024, 'x') + "' 0");
}

TEST_P(driverProcessInMode, asksTheHubForValuesAndLimits)
{
    hubProgram hub(desktop, {"--devices", "100", "--answer", "49238=42", "--answer", "49233=0", "--answer", "49243=5"});
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(7)), "ok connect 0");
    EXPECT_EQ(driver.command("ping"), "ok ping 42");
    EXPECT_EQ(driver.command("limits"), "ok limits 100 4096 4096 5");
    EXPECT_EQ(driver.command("value 5"), "ok value 1");
    EXPECT_EQ(driver.command("value 70000"), "ok value 1");
}

TEST_P(driverProcessInMode, receivesKivsMessagesThroughTheCallbacksInOrder)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_EQ(hub.command("ns 5 NS 5 0 'hi there' 7 a b"), "ok ns 5 1");
    EXPECT_EQ(hub.command("text 5 3 hello world"), "ok text 5 1");
    // A text is delivered later, from the driver's own loop: a message the hub
    // sends before that loop has run would overtake it, on Win32 as here.
    EXPECT_EQ(driver.waitForLine("onTextMessage hello world"), "onTextMessage hello world");
    EXPECT_EQ(hub.command("db 5 4 2"), "ok db 5");
    EXPECT_EQ(hub.command("db32 5 70000 3"), "ok db32 5 0");
    EXPECT_EQ(driver.waitForLine("onDatabaseChange 5 3 70000"), "onDatabaseChange 5 3 70000");
    const std::vector<std::string> expected{"onConnected 5",
                                            "onStateChange 2",
                                            "onNSMessage 7 5 [hi there] a b",
                                            "onTextMessage hello world",
                                            "onDatabaseChange 5 2 4",
                                            "onDatabaseChange 5 3 70000"};
    EXPECT_EQ(driver.linesStartingWith("on"), expected);
    EXPECT_EQ(driver.linesStartingWith("debug db change device:5 index:4 database:2").size(), 1u);
}

TEST_P(driverProcessInMode, dropsABadNSMessageAloneAndDeliversThePostsBehindIt)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    hub.command("ns 5 NS 5 0 'six fields' 7 a");
    hub.command("ns 5 NS 5 0 'x' 0 a b");
    hub.command("text 5 0 after");
    EXPECT_EQ(driver.waitForLine("onTextMessage"), "onTextMessage after");
    EXPECT_TRUE(driver.linesStartingWith("onNSMessage").empty());
    EXPECT_EQ(driver.linesStartingWith("debug rkDriver: Workstation number invalid (< 1): 0").size(), 1u);
    EXPECT_EQ(driver.command("counters"), "ok counters 1 0 1");
}

TEST_P(driverProcessInMode, negotiatesTheStateWithTheHub)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_EQ(hub.command("ask 5 2190"), "ok ask 5 2190 0");
    EXPECT_EQ(driver.waitForLine("onStateChange 1"), "onStateChange 1");
    EXPECT_EQ(hub.command("ask 5 2179"), "ok ask 5 2179 0");
    EXPECT_EQ(hub.command("ask 5 2181"), "ok ask 5 2181 1");
    EXPECT_EQ(hub.command("ask 5 2180"), "ok ask 5 2180 1");
    EXPECT_EQ(driver.command("status"), "ok status 1 2 5 " + std::to_string(GetParam()));
    EXPECT_EQ(driver.command("preference 2 1"), "ok preference 1");
    EXPECT_EQ(hub.command("ask 5 2180"), "ok ask 5 2180 0");
    EXPECT_EQ(hub.command("ask 5 2179"), "ok ask 5 2179 1");
    EXPECT_EQ(driver.command("state 2 1"), "ok state 2");
    EXPECT_EQ(hub.command("status"), "ok status 1");
    EXPECT_EQ(hub.lastDetails("driver ")[0].substr(hub.lastDetails("driver ")[0].rfind(' ')), " 3");
}

TEST_P(driverProcessInMode, unregistersWhenDeleted)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_EQ(driver.command("delete"), "ok delete");
    EXPECT_EQ(driver.linesStartingWith("onDisconnected"), (std::vector<std::string>{"onDisconnected 5"}));
    EXPECT_EQ(hub.driverCount(), 0);
}

TEST_P(driverProcessInMode, unregistersTheOldDeviceWhenConnectingAgain)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    ASSERT_EQ(driver.command(connect(6)), "ok connect 0");
    EXPECT_EQ(driver.linesStartingWith("on"),
              (std::vector<std::string>{"onConnected 5", "onStateChange 2", "onDisconnected 5", "onConnected 6",
                                        "onStateChange 2"}));
    EXPECT_EQ(hub.command("status"), "ok status 1");
    ASSERT_EQ(hub.lastDetails("driver ").size(), 1u);
    EXPECT_EQ(hub.lastDetails("driver ")[0].rfind("driver 6 ", 0), 0u);
}

TEST_P(driverProcessInMode, hearsTheHubClosingAndKeepsItsConnection)
{
    hubProgram hub(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    EXPECT_EQ(hub.command("close"), "ok close 1");
    EXPECT_EQ(driver.waitForLine("onDisconnected"), "onDisconnected 5");
    EXPECT_EQ(driver.linesStartingWith("debug ZUL_KIVCLOSING").size(), 1u);
    EXPECT_EQ(driver.command("status"), "ok status 1 2 5 " + std::to_string(GetParam()));
}

TEST_P(driverProcessInMode, leavesTheHubItsDeviceFreeWhenKilled)
{
    hubProgram hub(desktop);
    auto driver = std::make_unique<driverProgram>(desktop);
    ASSERT_EQ(driver->command(connect(5)), "ok connect 0");
    driver->kill();
    driver->waitForExit();
    EXPECT_TRUE(hub.waitForDriverCount(0, 5000));
    driver = std::make_unique<driverProgram>(desktop);
    EXPECT_EQ(driver->command(connect(5)), "ok connect 0");
}

TEST_P(driverProcessInMode, sendsPromptlyReturnZeroOnceTheHubIsKilled)
{
    auto hub = std::make_unique<hubProgram>(desktop);
    driverProgram driver(desktop);
    ASSERT_EQ(driver.command(connect(5)), "ok connect 0");
    ASSERT_EQ(driver.command("command IR 5 1 'x' 0"), "ok command 1");
    hub->kill();
    hub->waitForExit();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(driver.command("ir 20 10"), "ok ir 20 20");
    EXPECT_EQ(driver.command("ping"), "ok ping 0");
    EXPECT_EQ(driver.command("status"), "ok status 0 2 5 " + std::to_string(GetParam()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(modes, driverProcessInMode, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("relay") : std::string("telmif32");
                         });

TEST_F(driverProcess, registersDevices32767And32768InModeTwo)
{
    hubProgram hub(desktop, {"--devices", "40000"});
    driverProgram low(desktop);
    driverProgram high(desktop);
    EXPECT_EQ(low.command("connect 32767 2"), "ok connect 0");
    EXPECT_EQ(high.command("connect 32768 2"), "ok connect 0");
    EXPECT_EQ(hub.command("status"), "ok status 2");
    const auto drivers = hub.lastDetails("driver ");
    ASSERT_EQ(drivers.size(), 2u);
    EXPECT_NE(drivers[0].find("driver 32767 "), std::string::npos);
    EXPECT_NE(drivers[1].find("driver 32768 "), std::string::npos);
}

// The test process plays a peer of the driver: relay round trips and
// hostile frames, sent from a window of its own. Its windows live on the
// desktop of the first test it runs, so each of these needs a process of
// its own, as CTest gives it.
class relayPeerProcess : public driverProcess {
protected:
    std::unique_ptr<fakeKiv> peer;
    std::unique_ptr<hubProgram> hub;
    std::unique_ptr<driverProgram> driver;
    HWND driverWindow = nullptr;

    void SetUp() override
    {
        driverProcess::SetUp();
        hub = std::make_unique<hubProgram>(desktop);
        driver = std::make_unique<driverProgram>(desktop);
        ASSERT_EQ(driver->command("connect 5 1"), "ok connect 0");
        driverWindow = driver->messageWindow();
        ASSERT_NE(driverWindow, nullptr);
        peer = std::make_unique<fakeKiv>();
    }

    DWORD relayText(UINT message, const std::string& text)
    {
        std::vector<char> buffer(std::max<size_t>(text.size() + 1, RELAY_TEXT_BYTES), '\0');
        std::memcpy(buffer.data(), text.data(), text.size());
        return relaySend(peer->handle(), driverWindow, message, 0, reinterpret_cast<LPARAM>(buffer.data()), 0, 1,
                         static_cast<DWORD>(buffer.size()));
    }

    LRESULT sendRaw(ULONG_PTR dwData, const void* bytes, DWORD size)
    {
        COPYDATASTRUCT copyData{dwData, size, const_cast<void*>(bytes)};
        return SendMessageA(driverWindow, WM_COPYDATA, reinterpret_cast<WPARAM>(peer->handle()),
                            reinterpret_cast<LPARAM>(&copyData));
    }
};

TEST_F(relayPeerProcess, carriesValuesBothWaysAcrossProcesses)
{
    ASSERT_NE(reinterpret_cast<ULONG_PTR>(peer->handle()) >> 16, 0u) << "the answer must find the low-16-bit handle";
    EXPECT_EQ(relaySend(peer->handle(), driverWindow, 2181, 0, 0, 0, 0), 1u);
    EXPECT_EQ(relaySend(peer->handle(), driverWindow, 2190, 0, 0, 0, 0), 0u);
    EXPECT_EQ(driver->waitForLine("onStateChange 1"), "onStateChange 1");
    EXPECT_EQ(relaySend(peer->handle(), driverWindow, 2174, 0x10009, (3 << 16) | 5, 0, 0), 0u);
    EXPECT_EQ(driver->waitForLine("onDatabaseChange"), "onDatabaseChange 9 3 5");
}

TEST_F(relayPeerProcess, carriesTextsAcrossProcesses)
{
    EXPECT_EQ(relayText(2189, "over the wire"), 1u);
    EXPECT_EQ(relayText(2189, std::string(3000, 'l')), 1u);
    EXPECT_EQ(driver->waitForLine("onTextMessage o"), "onTextMessage over the wire");
    EXPECT_EQ(driver->waitForLine("onTextMessage l"), "onTextMessage " + std::string(3000, 'l'));
}

TEST_F(relayPeerProcess, returnsZeroRatherThanAnEarlierResultWhenTheDriverHasDied)
{
    ASSERT_EQ(relaySend(peer->handle(), driverWindow, 2181, 0, 0, 0, 0), 1u);
    driver->kill();
    driver->waitForExit();
    std::vector<char> buffer(RELAY_TEXT_BYTES, '\0');
    std::strcpy(buffer.data(), "mine");
    EXPECT_EQ(relaySend(peer->handle(), driverWindow, 2181, 0, reinterpret_cast<LPARAM>(buffer.data()), 512, 1), 0u);
    EXPECT_STREQ(buffer.data(), "mine");
}

TEST_F(relayPeerProcess, survivesMalformedAndOversizedFrames)
{
    const std::string unterminated(512, 'z');
    const char shortText[5] = {'s', 'h', 'o', 'r', 't'};
    const char junkValue[16] = {'n', 'o', 't', ' ', 'h', 'e', 'x'};
    sendRaw(2189u << 16, shortText, sizeof shortText);
    sendRaw(2189u << 16, unterminated.data(), 512);
    sendRaw(2121u << 16, junkValue, 16);            // a text message carried as a value
    sendRaw(49854u << 16, junkValue, 16);           // three numbers carried as a value
    sendRaw(1u << 16, unterminated.data(), 512);    // WM_CREATE from outside
    sendRaw(74u << 16, unterminated.data(), 512);   // a relayed WM_COPYDATA
    sendRaw((2121u << 16) | 0xffff, nullptr, 0);    // an empty NS text
    SendMessageA(driverWindow, 2074, 2121, 0x1234); // a text message wrapped as a value
    sendRaw(2189u << 16, "end", 4);
    EXPECT_EQ(driver->waitForLine("onTextMessage e"), "onTextMessage end");
    const auto texts = driver->linesStartingWith("onTextMessage");
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "onTextMessage short");
    EXPECT_EQ(texts[1], "onTextMessage " + unterminated);
    EXPECT_TRUE(driver->linesStartingWith("onNSMessage").empty());
    EXPECT_TRUE(driver->linesStartingWith("onDatabaseChange").empty());
    EXPECT_EQ(driver->command("status"), "ok status 1 2 5 1");
}

TEST_F(relayPeerProcess, ignoresPointerMessagesSentStraightFromAnotherProcess)
{
    // Addresses in this process, or no addresses at all: the driver must not read them.
    const char local[] = "NS 5 0 'mine' 7 a b";
    for (const LPARAM bogus : {LPARAM{16}, reinterpret_cast<LPARAM>(local)}) {
        EXPECT_EQ(SendMessageA(driverWindow, 2121, 0, bogus), 0);
        EXPECT_EQ(SendMessageA(driverWindow, 2189, 3, bogus), 0);
        EXPECT_EQ(SendMessageA(driverWindow, 49854, 0, bogus), 0);
    }
    EXPECT_EQ(relayText(2189, "relayed after"), 1u);
    EXPECT_EQ(driver->waitForLine("onTextMessage"), "onTextMessage relayed after");
    EXPECT_TRUE(driver->linesStartingWith("onNSMessage").empty());
    EXPECT_TRUE(driver->linesStartingWith("onDatabaseChange").empty());
    EXPECT_EQ(driver->command("status"), "ok status 1 2 5 1");
}

TEST_F(relayPeerProcess, takesAnOversizedTextWhole)
{
    const std::string huge(1 << 20, 'h');
    // The driver prints the text while this process waits for it: the pipe must be read meanwhile.
    EXPECT_EQ(sendRaw(2189u << 16, huge.data(), static_cast<DWORD>(huge.size())), 1);
    EXPECT_EQ(driver->waitForLine("onTextMessage h"), "onTextMessage " + huge);
}

} // namespace
