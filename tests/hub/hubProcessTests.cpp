// kivstandin as a real process, spoken to with raw window messages from a
// window of the test process and through its standard input.
#include "hubFrames.h"
#include "hubHarness.h"
#include "telmif32.h"
#include "telmifFrame.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <memory>

namespace {

using textList = std::vector<std::string>;

class KivStandIn : public ::testing::Test {
protected:
    void startHub(const textList& options = {}) { hub = std::make_unique<hubProcess>(desktop, options); }

    // Asks the hub to quit and returns its JSON summary.
    std::string quitWithSummary()
    {
        EXPECT_EQ(hub->command("quit"), "ok quit");
        EXPECT_EQ(hub->waitForExit(), 0);
        return readWholeFile(summaryPath());
    }

    std::string summaryPath() const { return desktop.file("summary.json"); }
    std::string window(const testDriverWindow& driver) const
    {
        return std::to_string(reinterpret_cast<std::uintptr_t>(driver.handle()));
    }

    privateDesktop desktop;
    std::unique_ptr<hubProcess> hub;
};

long long jsonNumber(const std::string& json, const std::string& key)
{
    const std::string label = "\"" + key + "\":";
    const auto at = json.find(label);
    if (at == std::string::npos) {
        ADD_FAILURE() << "no " << key << " in " << json;
        return -1;
    }
    return std::strtoll(json.c_str() + at + label.size(), nullptr, 10);
}

LRESULT sendFrame(const testDriverWindow& driver, HWND hub, ULONG_PTR dwData, std::vector<char> bytes)
{
    COPYDATASTRUCT copyData;
    copyData.dwData = dwData;
    copyData.cbData = static_cast<DWORD>(bytes.size());
    copyData.lpData = bytes.data();
    return driver.send(hub, WM_COPYDATA, reinterpret_cast<WPARAM>(driver.handle()),
                       reinterpret_cast<LPARAM>(&copyData));
}

LRESULT sendByTelmif(HWND hub, const std::string& text)
{
    return telmifSend(hub, 2187, 0, text.c_str(), 1, static_cast<int>(text.size() + 1));
}

TEST_F(KivStandIn, AnswersTheBroadcastWithItsWindow)
{
    startHub();
    testDriverWindow driver;
    SendMessageA(HWND_BROADCAST, 49153, reinterpret_cast<WPARAM>(driver.handle()), 0);
    EXPECT_TRUE(pumpUntil([&] { return driver.hubFromBroadcast != nullptr; }));
    EXPECT_EQ(driver.hubFromBroadcast, hub->window());
}

// Win32 does not broadcast messages between WM_USER and 0xC000, so 2031
// only reaches the hub when sent to its window.
TEST_F(KivStandIn, AnswersTheFirstFormOfTheQuestionToo)
{
    startHub();
    testDriverWindow driver;
    driver.send(hub->window(), 2031, reinterpret_cast<WPARAM>(driver.handle()), 0);
    EXPECT_TRUE(pumpUntil([&] { return driver.hubFromBroadcast != nullptr; }));
    EXPECT_EQ(driver.hubFromBroadcast, hub->window());
}

TEST_F(KivStandIn, WithoutBroadcastsIsStillFoundThroughDravik)
{
    startHub({"--no-broadcast"});
    testDriverWindow driver;
    SendMessageA(HWND_BROADCAST, 49153, reinterpret_cast<WPARAM>(driver.handle()), 0);
    driver.send(hub->window(), 2031, reinterpret_cast<WPARAM>(driver.handle()), 0);
    // The hub answers inside the question; a later round trip proves it is past it.
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x5555, 0), 0xaaaa);
    EXPECT_EQ(driver.hubFromBroadcast, nullptr);

    HMODULE dravik = LoadLibraryA("dravik.dll");
    ASSERT_NE(dravik, nullptr);
    auto kivHwnd = reinterpret_cast<HWND (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(dravik, "kivHwnd")));
    ASSERT_NE(kivHwnd, nullptr);
    EXPECT_EQ(kivHwnd(), hub->window());
    FreeLibrary(dravik);
}

TEST_F(KivStandIn, PassesTheIdentityCheckOnlyForItsQuestion)
{
    startHub();
    testDriverWindow driver;
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x5555, 0) & 0xffff, 0xaaaa);
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x1234, 0), 0);
}

TEST_F(KivStandIn, FailsTheIdentityCheckWhenToldButStillAnswersBroadcasts)
{
    startHub({"--fail-identity"});
    testDriverWindow driver;
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x5555, 0), 0);
    SendMessageA(HWND_BROADCAST, 49153, reinterpret_cast<WPARAM>(driver.handle()), 0);
    EXPECT_TRUE(pumpUntil([&] { return driver.hubFromBroadcast == hub->window(); }));
}

TEST_F(KivStandIn, RegistrationAnswersByTheRules)
{
    startHub({"--devices", "100"});
    testDriverWindow first;
    testDriverWindow second;
    EXPECT_EQ(first.registerAt(hub->window(), 5, 1), 0);
    EXPECT_EQ(second.registerAt(hub->window(), 5, 2), 2) << "a live window holds device 5";
    EXPECT_EQ(first.registerAt(hub->window(), 5, 1), 0) << "the holder itself may register again";
    EXPECT_EQ(second.registerAt(hub->window(), 0, 2), 1);
    EXPECT_EQ(second.registerAt(hub->window(), 101, 2), 1);
    EXPECT_EQ(second.registerAt(hub->window(), 100, 2), 0);
    EXPECT_EQ(hub->status(),
              textList({"driver 5 " + window(first) + " 1 2", "driver 100 " + window(second) + " 2 2"}));
}

TEST_F(KivStandIn, SummaryListsEveryRegistrationInOrderWithItsReply)
{
    startHub({"--devices", "100", "--summary", summaryPath()});
    testDriverWindow first;
    testDriverWindow second;
    ASSERT_EQ(first.registerAt(hub->window(), 5, 1), 0);
    ASSERT_EQ(second.registerAt(hub->window(), 5, 2), 2);
    ASSERT_EQ(second.registerAt(hub->window(), 101, 2), 1);
    const std::string json = quitWithSummary();
    auto at = json.find("\"registrations\":[");
    for (const std::string& entry : {"{\"device\":5,\"window\":" + window(first) + ",\"mode\":1,\"reply\":0,\"time\":",
                                     "{\"device\":5,\"window\":" + window(second) + ",\"mode\":2,\"reply\":2,\"time\":",
                                     "{\"device\":101,\"window\":" + window(second) + ",\"mode\":2,\"reply\":1,"}) {
        at = json.find(entry, at);
        ASSERT_NE(at, std::string::npos) << entry << " in order in " << json;
    }
    EXPECT_EQ(jsonNumber(json, "registrations_dropped"), 0);
}

TEST_F(KivStandIn, RegistersDevicesEitherSideOf32767InModeTwo)
{
    startHub({"--devices", "40000"});
    testDriverWindow driver;
    EXPECT_EQ(driver.send(hub->window(), 2193, reinterpret_cast<WPARAM>(driver.handle()), 32767), 0);
    EXPECT_EQ(driver.send(hub->window(), 49859, reinterpret_cast<WPARAM>(driver.handle()), 32768), 0);
    EXPECT_EQ(hub->status(), textList({"driver 32767 " + window(driver) + " 2 2",
                                       "driver 32768 " + window(driver) + " 2 2"}));
}

TEST_F(KivStandIn, AnswersThreeWithDriverModeOff)
{
    startHub({"--driver-mode", "off"});
    testDriverWindow driver;
    EXPECT_EQ(driver.registerAt(hub->window(), 5, 1), 3);
    EXPECT_EQ(hub->status(), textList());
}

TEST_F(KivStandIn, RegisterReplyOverridesTheRulesAndKeepsTheDriver)
{
    startHub({"--register-reply", "7"});
    testDriverWindow driver;
    EXPECT_EQ(driver.registerAt(hub->window(), 0, 2), 7);
    EXPECT_EQ(hub->status(), textList({"driver 0 " + window(driver) + " 2 2"}));
}

TEST_F(KivStandIn, FreesTheDeviceOfADriverWhoseProcessDied)
{
    startHub();
    childProcess other(binaryPath("hub_test_driver"), {"9", "1"}, desktop.file("driver.err"));
    ASSERT_EQ(other.waitForLine("registered"), "registered 0");
    testDriverWindow driver;
    EXPECT_EQ(driver.registerAt(hub->window(), 9, 1), 2);
    other.kill();
    other.waitForExit();
    EXPECT_TRUE(pumpUntil([&] { return driver.registerAt(hub->window(), 9, 1) == 0; }));
}

TEST_F(KivStandIn, FreesTheDeviceOfADriverWhoseWindowWasDestroyed)
{
    startHub();
    auto gone = std::make_unique<testDriverWindow>();
    ASSERT_EQ(gone->registerAt(hub->window(), 9, 1), 0);
    gone.reset();
    EXPECT_TRUE(pumpUntil([&] { return hub->status().empty(); }));
}

TEST_F(KivStandIn, TakesARelayRequestWhoseSenderIsNoWindowWithoutReplying)
{
    startHub({"--summary", summaryPath()});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 1), 0);
    HWND destroyed;
    {
        const testDriverWindow gone;
        destroyed = gone.handle();
    }
    std::vector<char> text(512, '\0');
    std::strcpy(text.data(), "IR 3 1 'x' 0");
    COPYDATASTRUCT request{2187u << 16, static_cast<DWORD>(text.size()), text.data()};
    for (HWND sender : {destroyed, reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x00070042))})
        EXPECT_EQ(driver.send(hub->window(), WM_COPYDATA, reinterpret_cast<WPARAM>(sender),
                              reinterpret_cast<LPARAM>(&request)),
                  1);
    EXPECT_FALSE(driver.replied);
    EXPECT_EQ(driver.relayText(hub->window(), 2187, "IR 3 2 'y' 0"), 1);
    EXPECT_TRUE(driver.replied) << "a sender that is a window still gets the reply";
    EXPECT_EQ(jsonNumber(quitWithSummary(), "messages"), 3);
}

TEST_F(KivStandIn, HoldsTheDriverStateAsSet)
{
    startHub();
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 4, 1), 0);
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 4), 2);
    driver.send(hub->window(), 2215, 1, 4);
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 4), 1);
    driver.send(hub->window(), 2215, 3, 4);
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 4), 3);
    driver.send(hub->window(), 2215, 9, 4);
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 4), 3) << "9 is no state";
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 99), 0) << "device 99 is not registered";
}

TEST_F(KivStandIn, StateOptionFixesTheAnswerTo2214)
{
    startHub({"--state", "1"});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 4, 1), 0);
    EXPECT_EQ(driver.send(hub->window(), 2214, 0, 4), 1);
}

TEST_F(KivStandIn, UnregistersByDeviceAndByWindow)
{
    startHub();
    testDriverWindow first;
    testDriverWindow second;
    ASSERT_EQ(first.registerAt(hub->window(), 4, 1), 0);
    ASSERT_EQ(first.registerAt(hub->window(), 5, 1), 0);
    first.send(hub->window(), 2185, 0, 4);
    EXPECT_EQ(second.registerAt(hub->window(), 4, 1), 0);
    first.send(hub->window(), 2186, reinterpret_cast<WPARAM>(first.handle()), 0);
    EXPECT_EQ(hub->status(), textList({"driver 4 " + window(second) + " 1 2"}));
}

TEST_F(KivStandIn, RefusesToFreeADeviceForAnotherWindowAndSaysSo)
{
    startHub();
    testDriverWindow holder;
    testDriverWindow other;
    ASSERT_EQ(holder.registerAt(hub->window(), 4, 1), 0);
    EXPECT_EQ(other.send(hub->window(), 2185, reinterpret_cast<WPARAM>(other.handle()), 4), 1);
    EXPECT_EQ(other.send(hub->window(), 2186, reinterpret_cast<WPARAM>(other.handle()), 4), 1);
    EXPECT_EQ(hub->status(), textList({"driver 4 " + window(holder) + " 1 2"}));
    const std::string refusal = " for device 4 from window " + window(other) + ": window " + window(holder) + " holds it";
    for (const char* message : {"2185", "2186"})
        EXPECT_TRUE(pumpUntil([&] {
            return readWholeFile(hub->eventFile()).find("kivstandin: refused " + (message + refusal)) != std::string::npos;
        })) << message;
    EXPECT_EQ(holder.send(hub->window(), 2185, reinterpret_cast<WPARAM>(holder.handle()), 4), 0);
    EXPECT_EQ(hub->status(), textList());
}

TEST_F(KivStandIn, CloseOnRegisterSaysGoodbyeBeforeAnsweringTheRegistration)
{
    startHub({"--close-on-register", "--grace", "60"});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 2), 0);
    EXPECT_NE(driver.waitFor(2175, 0), nullptr);
    driver.send(hub->window(), 2185, 0, 3);
    EXPECT_EQ(hub->waitForExit(), 0);
}

TEST_F(KivStandIn, AnswersValueAndLimitMessages)
{
    startHub({"--devices", "77", "--answer", "49238=42", "--answer", "49234=100"});
    testDriverWindow driver;
    EXPECT_EQ(driver.send(hub->window(), 49238, 0, 0), 42);
    EXPECT_EQ(driver.send(hub->window(), 49245, 0, 0), 77);
    EXPECT_EQ(driver.send(hub->window(), 49233, 0, 0), 4096);
    EXPECT_EQ(driver.send(hub->window(), 49234, 0, 0), 100);
    EXPECT_EQ(driver.send(hub->window(), 49243, 0, 0), 10);
    EXPECT_EQ(driver.send(hub->window(), 49244, reinterpret_cast<WPARAM>(driver.handle()), (9 << 16) | 3), 1);
}

TEST_F(KivStandIn, CountsAndChecksCommandTextsOfBothCarriers)
{
    startHub({"--summary", summaryPath(), "--capture", desktop.file("capture.txt")});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 1), 0);
    const textList texts = {"IR 3 10 'hello' 0", "IR 3 20 'x' 0", "IR 8 1 'x' 0", "IR 3 1 'a'b' 0",
                            "NS 3 0 'hi' 3 a b", "RM 3 2 1 'abc' 1 12 77"};
    EXPECT_EQ(driver.relayText(hub->window(), 2187, texts[0]), 1);
    EXPECT_EQ(driver.relayText(hub->window(), 2187, texts[1]), 1);
    EXPECT_EQ(driver.relayText(hub->window(), 2187, texts[2]), 0) << "device 8 is not registered";
    EXPECT_EQ(driver.relayText(hub->window(), 2187, texts[3]), 0) << "apostrophe inside the text";
    EXPECT_EQ(driver.relayText(hub->window(), 2123, texts[4]), 1);
    EXPECT_EQ(driver.relayText(hub->window(), 2124, texts[5]), 1);
    EXPECT_EQ(sendByTelmif(hub->window(), "IR 3 5 'abcdefgh' 0"), 1);
    EXPECT_EQ(sendByTelmif(hub->window(), "IR 3 6 '100%' 0"), 0);
    const std::string json = quitWithSummary();
    EXPECT_EQ(jsonNumber(json, "messages"), 8);
    EXPECT_EQ(jsonNumber(json, "malformed"), 3);
    EXPECT_EQ(jsonNumber(json, "slot_min"), 5);
    EXPECT_EQ(jsonNumber(json, "slot_max"), 20);
    EXPECT_EQ(jsonNumber(json, "size_min"), 1);
    EXPECT_EQ(jsonNumber(json, "size_max"), 8);
    EXPECT_NE(json.find("\"IR\":{\"messages\":6,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"NS\":{\"messages\":1,\"bytes\":17}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"malformed_devices\":{\"3\":2,\"8\":1}"), std::string::npos) << json;
    const std::string capture = readWholeFile(desktop.file("capture.txt"));
    EXPECT_EQ(capture.substr(0, texts[0].size() + texts[1].size() + 2), texts[0] + "\n" + texts[1] + "\n");
    EXPECT_NE(capture.find("IR 3 6 '100%' 0\n"), std::string::npos);
    EXPECT_NE(hub->waitForLine("kivstandin summary"), "");
}

TEST_F(KivStandIn, StatusGivesTheCountsSoFarAfterItsDrivers)
{
    startHub();
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 1), 0);
    EXPECT_EQ(driver.relayText(hub->window(), 2187, "IR 3 1 'a' 0"), 1);
    EXPECT_EQ(sendByTelmif(hub->window(), "IR 3 1 'a'b' 0"), 0);
    EXPECT_EQ(sendFrame(driver, hub->window(), 2184u << 16, std::vector<char>(16, '\0')), 0);
    const auto before = static_cast<std::ptrdiff_t>(hub->lines().size());
    EXPECT_EQ(hub->command("status"), "ok status 1");
    std::vector<std::string> lines(hub->lines().begin() + before, hub->lines().end());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1].rfind("run started_utc=", 0), 0u) << lines[1];
    lines.erase(lines.begin() + 1);
    EXPECT_EQ(textList(lines.begin(), lines.end()),
              textList({"driver 3 " + window(driver) + " 1 2", "counts messages=2 malformed=1 bad_frames=1",
                        "ok status 1"}));
}

TEST_F(KivStandIn, CountsAndIgnoresHostileFrames)
{
    startHub({"--summary", summaryPath()});
    testDriverWindow driver;
    std::vector<char> lying(telmifHeaderSize + 4);
    telmifPutHeader(reinterpret_cast<unsigned char*>(lying.data()), {telmifFrameMagic, 2187, 0, 1, 4000});
    EXPECT_EQ(sendFrame(driver, hub->window(), 2187u << 16, std::vector<char>(relayMaxTextSize + 1, 'x')), 0);
    EXPECT_EQ(sendFrame(driver, hub->window(), telmifFrameTag, lying), 0);
    EXPECT_EQ(sendFrame(driver, hub->window(), 49238u << 16, std::vector<char>(16, 'z')), 0);
    EXPECT_EQ(sendFrame(driver, hub->window(), (2984u << 16) | 5, std::vector<char>(512, '\0')), 0);
    EXPECT_EQ(sendFrame(driver, hub->window(), 2184u << 16, std::vector<char>(16, '\0')), 0);
    EXPECT_FALSE(driver.replied) << "a refused frame is never answered";
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x5555, 0), 0xaaaa) << "the hub lives on";
    const std::string json = quitWithSummary();
    EXPECT_EQ(jsonNumber(json, "bad_frames"), 5);
    EXPECT_EQ(jsonNumber(json, "messages"), 0);
}

TEST_F(KivStandIn, AnnouncesClosingAfterItsSecondsAndExitsOnceDriversHaveGone)
{
    startHub({"--seconds", "0.5", "--grace", "60", "--summary", summaryPath()});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 2), 0);
    const seenMessage* closing = driver.waitFor(2175);
    ASSERT_NE(closing, nullptr);
    EXPECT_TRUE(closing->wrapped) << "mode 2 gets 2175 through telmifDeliver";
    driver.send(hub->window(), 2185, 0, 3);
    driver.send(hub->window(), 2186, reinterpret_cast<WPARAM>(driver.handle()), 0);
    EXPECT_EQ(hub->waitForExit(), 0);
    EXPECT_NE(readWholeFile(summaryPath()).find("\"messages\":0"), std::string::npos);
    EXPECT_NE(hub->waitForLine("kivstandin summary"), "");
}

TEST_F(KivStandIn, KeepsWaitingForItsDriverAfterAnnouncingClosing)
{
    startHub({"--seconds", "0.2", "--grace", "60", "--summary", summaryPath()});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 2), 0);
    ASSERT_NE(driver.waitFor(2175), nullptr);
    EXPECT_EQ(driver.send(hub->window(), 49552, 0x5555, 0), 0xaaaa) << "the hub still waits for its driver";
    driver.send(hub->window(), 2185, 0, 3);
    EXPECT_EQ(hub->waitForExit(), 0);
    EXPECT_EQ(jsonNumber(readWholeFile(summaryPath()), "drivers"), 0);
}

TEST_F(KivStandIn, StopsWaitingForDriversAfterTheGrace)
{
    startHub({"--seconds", "0.2", "--grace", "0.5"});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 1), 0);
    EXPECT_NE(driver.waitFor(2175), nullptr);
    EXPECT_EQ(hub->waitForExit(), 0);
}

TEST_F(KivStandIn, TerminationSignalAnnouncesClosingAtOnce)
{
    startHub();
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 3, 1), 0);
    if (!hub->signal(SIGTERM))
        GTEST_SKIP() << "this host has no signals to send";
    const seenMessage* closing = driver.waitFor(2175);
    ASSERT_NE(closing, nullptr);
    EXPECT_FALSE(closing->wrapped) << "mode 1 gets 2175 directly";
    driver.send(hub->window(), 2185, 0, 3);
    EXPECT_EQ(hub->waitForExit(), 0);
}

TEST_F(KivStandIn, CommandsReachAModeOneDriver)
{
    startHub();
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 12, 1), 0);
    driver.answers[2181] = 1;

    EXPECT_EQ(hub->command("ns 12 NS 12 0 'hi' 3 a b"), "ok ns 12 1");
    const seenMessage* ns = driver.waitFor(2121);
    ASSERT_NE(ns, nullptr);
    EXPECT_TRUE(ns->relayed);
    EXPECT_EQ(ns->text, "NS 12 0 'hi' 3 a b");

    EXPECT_EQ(hub->command("text 12 7 hello  there"), "ok text 12 1");
    const seenMessage* text = driver.waitFor(2189);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->wParam, 7u);
    EXPECT_EQ(text->text, "hello  there");

    EXPECT_EQ(hub->command("db 12 5 3"), "ok db 12");
    const seenMessage* db = driver.waitFor(2174);
    ASSERT_NE(db, nullptr);
    EXPECT_FALSE(db->wrapped);
    EXPECT_EQ(db->wParam, 12u);
    EXPECT_EQ(db->lParam, (3 << 16) | 5);

    EXPECT_EQ(hub->command("db32 12 70000 9"), "ok db32 12 0");
    const seenMessage* wide = driver.waitFor(49854);
    ASSERT_NE(wide, nullptr);
    std::int32_t record[3];
    std::memcpy(record, wide->bytes.data(), sizeof record);
    EXPECT_EQ(record[0], 12);
    EXPECT_EQ(record[1], 70000);
    EXPECT_EQ(record[2], 9);

    EXPECT_EQ(hub->command("ask 12 2181"), "ok ask 12 2181 1");
    EXPECT_NE(hub->lines().end(), std::find(hub->lines().begin(), hub->lines().end(), "answer 12 2181 1"));

    EXPECT_EQ(hub->command("close"), "ok close 1");
    EXPECT_NE(driver.waitFor(2175), nullptr);
}

TEST_F(KivStandIn, ValueCommandsReachAModeTwoDriverWrappedIn2074)
{
    startHub({"--devices", "40000"});
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 32768, 2), 0);
    driver.answers[2179] = 1;
    driver.answers[2180] = 1;

    EXPECT_EQ(hub->command("db 32768 5 3"), "ok db 32768");
    const seenMessage* db = driver.waitFor(2174);
    ASSERT_NE(db, nullptr);
    EXPECT_TRUE(db->wrapped);
    EXPECT_EQ(db->wParam, 32768u) << "the device survives the wrap";
    EXPECT_EQ(db->lParam, (3 << 16) | 5);

    EXPECT_EQ(hub->command("ask 32768 2179"), "ok ask 32768 2179 1");
    EXPECT_EQ(hub->command("ask 32768 2190"), "ok ask 32768 2190 0");
    EXPECT_EQ(hub->status(), textList({"driver 32768 " + window(driver) + " 2 1"}));
    EXPECT_EQ(hub->command("ask 32768 2180"), "ok ask 32768 2180 1");
    EXPECT_EQ(hub->status(), textList({"driver 32768 " + window(driver) + " 2 2"}));
    for (UINT message : {2179u, 2190u, 2180u}) {
        const seenMessage* seen = driver.waitFor(message);
        ASSERT_NE(seen, nullptr) << message;
        EXPECT_TRUE(seen->wrapped) << message;
    }

    EXPECT_EQ(hub->command("ns 32768 NS 32768 0 'x' 1 a b"), "ok ns 32768 1") << "texts take the relay";
    EXPECT_EQ(hub->command("close"), "ok close 1");
    const seenMessage* closing = driver.waitFor(2175);
    ASSERT_NE(closing, nullptr);
    EXPECT_TRUE(closing->wrapped);
}

TEST_F(KivStandIn, SaysGoodbyeToOneDriverAndKeepsTheOthers)
{
    startHub();
    testDriverWindow leaving;
    testDriverWindow staying;
    ASSERT_EQ(leaving.registerAt(hub->window(), 3, 2), 0);
    ASSERT_EQ(staying.registerAt(hub->window(), 4, 1), 0);
    EXPECT_EQ(hub->command("goodbye 3"), "ok goodbye 3");
    const seenMessage* goodbye = leaving.waitFor(2175);
    ASSERT_NE(goodbye, nullptr);
    EXPECT_TRUE(goodbye->wrapped);
    EXPECT_EQ(staying.waitFor(2175, 0), nullptr);
    EXPECT_EQ(hub->command("goodbye 5"), "error goodbye no driver for device 5");
    EXPECT_EQ(hub->command("goodbye"), "error goodbye usage: goodbye DEVICE");
}

TEST_F(KivStandIn, RefusesBadCommandsWithAnError)
{
    startHub();
    testDriverWindow driver;
    ASSERT_EQ(driver.registerAt(hub->window(), 12, 1), 0);
    EXPECT_EQ(hub->command("ns 99 hello"), "error ns no driver for device 99");
    EXPECT_EQ(hub->command("bogus 1"), "error unknown command bogus (see --help)");
    EXPECT_EQ(hub->command("db 12 x 1").rfind("error db usage", 0), 0u);
    EXPECT_EQ(hub->command("ask 12 2175").rfind("error ask usage", 0), 0u);
    EXPECT_EQ(hub->command("ns 12 " + std::string(600, 'a')), "error ns text longer than 511 characters");
    EXPECT_EQ(driver.waitFor(2121, 0), nullptr);
}

TEST_F(KivStandIn, HelpListsTheOptionsAndCommands)
{
    childProcess help(binaryPath("kivstandin"), {"--help"}, desktop.file("help.err"));
    EXPECT_EQ(help.waitForExit(), 0);
    std::string text;
    for (const std::string& line : help.lines())
        text += line + "\n";
    for (const char* expected :
         {"--devices N", "--register-reply", "--close-on-register", "--summary FILE", "db32 DEVICE", "\"slot_min\"",
          "\"registrations\"", "\"malformed_devices\"", "counts messages=M", "goodbye DEVICE"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
}

TEST(Telmif32, DeliverRefusesMessagesWhoseParameterIsAPointer)
{
    privateDesktop desktop;
    testDriverWindow driver;
    EXPECT_EQ(telmifDeliver(driver.handle(), 2121, 0x1234), 0);
    EXPECT_EQ(telmifDeliver(driver.handle(), WM_COPYDATA, 0x1234), 0);
    EXPECT_TRUE(driver.seen().empty());
    driver.answers[2181] = 5;
    EXPECT_EQ(telmifDeliver(driver.handle(), 2181, 0), 5);
    ASSERT_EQ(driver.seen().size(), 1u);
    EXPECT_EQ(driver.seen()[0].message, 2181u);
}

TEST(Telmif32, SendRefusesANegativeCountOrMissingData)
{
    privateDesktop desktop;
    hubProcess hub(desktop, {"--summary", desktop.file("s.json")});
    EXPECT_EQ(telmifSend(hub.window(), 2187, 0, nullptr, 1, 5), 0);
    EXPECT_EQ(telmifSend(hub.window(), 2187, 0, "IR", 1, -1), 0);
    EXPECT_EQ(hub.command("quit"), "ok quit");
    EXPECT_EQ(hub.waitForExit(), 0);
    EXPECT_NE(readWholeFile(desktop.file("s.json")).find("\"messages\":0,"), std::string::npos);
}

} // namespace
