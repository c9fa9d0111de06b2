// What the driver's message window does with each message from KIV, and the
// queue that delivers KIV's texts from the message loop.
#include "driverTestSupport.h"
#include "telmwm32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class messageWindow : public ::testing::Test, protected connectedDriver {
protected:
    using events = std::vector<std::string>;

    void SetUp() override { ASSERT_TRUE(connectDriver(5, 1)); }

    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        return SendMessageA(driver->getMessageWindow(), message, wParam, lParam);
    }

    LRESULT sendText(UINT message, const std::string& text, WPARAM wParam = 0)
    {
        return send(message, wParam, reinterpret_cast<LPARAM>(text.c_str()));
    }

    // What KIV does: a text through the relay, from KIV's window.
    DWORD relayText(UINT message, const std::string& text, WPARAM wParam = 0)
    {
        std::vector<char> buffer(std::max<size_t>(text.size() + 1, RELAY_TEXT_BYTES), '\0');
        std::memcpy(buffer.data(), text.data(), text.size());
        return relaySend(kiv->handle(), driver->getMessageWindow(), message, wParam,
                         reinterpret_cast<LPARAM>(buffer.data()), 0, 1, static_cast<DWORD>(buffer.size()));
    }

    void deliver(size_t expectedEvents)
    {
        pumpUntil([&] { return callback.events.size() >= expectedEvents; }, 2000);
        pumpPending();
    }
};

TEST_F(messageWindow, reportsADatabaseChangeWithIndexLowAndDatabaseHigh)
{
    send(2174, 9, (3 << 16) | 5);
    EXPECT_EQ(callback.events, (events{"db 9 3 5"}));
    EXPECT_TRUE(debug.contains("db change device:9 index:5 database:3"));
}

TEST_F(messageWindow, reportsAWideDatabaseChangeFromThreeNumbers)
{
    const int32_t numbers[3] = {70000, 4000, 7};
    send(49854, 0, reinterpret_cast<LPARAM>(numbers));
    EXPECT_EQ(callback.events, (events{"db 70000 7 4000"}));
    EXPECT_TRUE(debug.contains("db change_32 device:70000 index:4000 database:7"));
}

TEST_F(messageWindow, takesAWideDatabaseChangeThroughTheRelay)
{
    std::vector<char> buffer(RELAY_TEXT_BYTES, '\0');
    const int32_t numbers[3] = {5, 12, 3};
    std::memcpy(buffer.data(), numbers, sizeof numbers);
    relaySend(kiv->handle(), driver->getMessageWindow(), 49854, 0, reinterpret_cast<LPARAM>(buffer.data()), 0, 1);
    EXPECT_EQ(callback.events, (events{"db 5 3 12"}));
}

TEST_F(messageWindow, refusesAWideDatabaseChangeRelayedAsAValue)
{
    relaySend(kiv->handle(), driver->getMessageWindow(), 49854, 0, 0x1000, 0, 0);
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, tellsOfKivClosingButKeepsItsConnection)
{
    send(2175);
    EXPECT_TRUE(debug.contains("ZUL_KIVCLOSING"));
    EXPECT_EQ(callback.events, (events{"disconnected 5"}));
    EXPECT_TRUE(driver->isConnected());
    EXPECT_EQ(driver->getState(), 2);
}

TEST_F(messageWindow, answersTheStateQuestionsForADriverThatWantsStateTwo)
{
    driver->setState(1, false);
    callback.events.clear();
    EXPECT_EQ(send(2179), 0);
    EXPECT_EQ(send(2181), 1);
    EXPECT_EQ(send(2180), 1);
    EXPECT_EQ(driver->getState(), 2);
    EXPECT_EQ(callback.events, (events{"state 2"}));
}

TEST_F(messageWindow, declinesStateTwoWithPreferenceTwo)
{
    driver->setPreference(2, true);
    callback.events.clear();
    EXPECT_EQ(send(2180), 0);
    EXPECT_EQ(send(2179), 1);
    EXPECT_EQ(send(2181), 0);
    EXPECT_EQ(driver->getState(), 1);
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, takesStateOneWhateverThePreference)
{
    EXPECT_EQ(send(2190), 0);
    EXPECT_EQ(driver->getState(), 1);
    driver->setPreference(2, false);
    driver->setState(2, false);
    EXPECT_EQ(send(2190), 0);
    EXPECT_EQ(driver->getState(), 1);
    EXPECT_EQ(callback.events, (events{"state 1", "state 2", "state 1"}));
}

TEST_F(messageWindow, leavesMessages2176To2178ToTheDefaultProcedure)
{
    for (UINT message = 2176; message <= 2178; ++message)
        EXPECT_EQ(send(message, 1, 1), 0);
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, takesKivsWindowOnlyWhileSearchingForIt)
{
    send(2032, reinterpret_cast<WPARAM>(driver->getMessageWindow()));
    EXPECT_EQ(driver->getKivWindow(), kiv->handle());
}

TEST_F(messageWindow, queuesATextAndDeliversItFromTheMessageLoop)
{
    EXPECT_EQ(sendText(2189, "hello", 3), 1);
    EXPECT_TRUE(callback.events.empty());
    deliver(1);
    EXPECT_EQ(callback.events, (events{"text hello"}));
}

TEST_F(messageWindow, deliversAnNSMessageThatPassesItsChecks)
{
    EXPECT_EQ(sendText(2121, "NS 5 12 'hello world' 7 a b"), 1);
    deliver(1);
    EXPECT_EQ(callback.events, (events{"ns 7 5 [hello world] a b"}));
}

TEST_F(messageWindow, takesAnNSMessageForAnyWorkstationWhenItsWorkstationIsZero)
{
    sendText(2121, "NS 5 0 'x' 7 a b");
    deliver(1);
    EXPECT_EQ(callback.events, (events{"ns 7 5 [x] a b"}));
}

TEST_F(messageWindow, deliversQueuedPostsInOrder)
{
    sendText(2189, "one");
    sendText(2121, "NS 5 0 'two' 7 a b");
    sendText(2189, "three");
    deliver(3);
    EXPECT_EQ(callback.events, (events{"text one", "ns 7 5 [two] a b", "text three"}));
}

struct badNS {
    const char* text;
    const char* diagnostic; // empty when the drop writes nothing
};

class droppedNS : public messageWindow, public ::testing::WithParamInterface<badNS> {};

TEST_P(droppedNS, isDroppedAloneAndThePostsBehindItAreStillDelivered)
{
    sendText(2121, GetParam().text);
    sendText(2189, "after");
    deliver(1);
    EXPECT_EQ(callback.events, (events{"text after"}));
    if (*GetParam().diagnostic != '\0') {
        EXPECT_EQ(debug.count(std::string("rkDriver: ") + GetParam().diagnostic + "\n"), 1);
    }
    int sent = 0;
    int received = 0;
    driver->getCounters(sent, received);
    EXPECT_EQ(received, 1);
}

INSTANTIATE_TEST_SUITE_P(
    checks, droppedNS,
    ::testing::Values(badNS{"NS 5 12 'x' 7 a", ""}, badNS{"NS 6 12 'x' 7 a b", ""},
                      badNS{"NS 0 12 'x' 7 a b", "Device Number of out range (less than 1)"},
                      badNS{"NS 5 13 'x' 7 a b", ""},
                      badNS{"NS 5 1000 'x' 7 a b", "Workstation number invalid (> MAX_WORKSTATIONS): 1000"},
                      badNS{"NS 5 12 'x' 0 a b", "Workstation number invalid (< 1): 0"},
                      badNS{"NS 99999999999999 12 'x' 7 a b", "Device Number of out range (> MAX_DEVICES)"}));

TEST_F(messageWindow, dropsAnNSMessageWithALongText)
{
    sendText(2121, "NS 5 12 '" + std::string(256, 'x') + "' 7 a b");
    sendText(2121, "NS 5 12 'y' 7 " + std::string(256, 'w') + " b");
    sendText(2189, "after");
    deliver(1);
    EXPECT_EQ(callback.events, (events{"text after"}));
}

TEST_F(messageWindow, dropsPostsDeliveredWithoutACallbackUncounted)
{
    int sent = 0;
    int received = 0;
    driver->getCounters(sent, received);
    driver->setCallback(nullptr);
    sendText(2189, "lost");
    pumpPending();
    driver->setCallback(&callback);
    sendText(2189, "kept");
    deliver(1);
    EXPECT_EQ(callback.events, (events{"text kept"}));
    EXPECT_TRUE(driver->getCounters(sent, received));
    EXPECT_EQ(received, 1);
}

TEST_F(messageWindow, deliversTextsThatCameThroughTheRelay)
{
    EXPECT_EQ(relayText(2189, "relayed text"), 1u);
    EXPECT_EQ(relayText(2121, "NS 5 0 'r' 7 a b"), 1u);
    deliver(2);
    EXPECT_EQ(callback.events, (events{"text relayed text", "ns 7 5 [r] a b"}));
}

TEST_F(messageWindow, deliversALongRelayedTextWhole)
{
    const std::string text(2000, 'q');
    relayText(2189, text);
    deliver(1);
    EXPECT_EQ(callback.events, (events{"text " + text}));
}

TEST_F(messageWindow, refusesATextMessageRelayedAsAValue)
{
    EXPECT_EQ(relaySend(kiv->handle(), driver->getMessageWindow(), 2189, 0, 0x1234, 0, 0), 0u);
    EXPECT_EQ(relaySend(kiv->handle(), driver->getMessageWindow(), 2121, 0, 0x1234, 0, 0), 0u);
    pumpPending();
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, refusesWindowCreationRelayedFromAnotherProcess)
{
    std::vector<char> buffer(RELAY_TEXT_BYTES, '\x41');
    EXPECT_EQ(relaySend(kiv->handle(), driver->getMessageWindow(), WM_CREATE, 0,
                        reinterpret_cast<LPARAM>(buffer.data()), 0, 1),
              0u);
    EXPECT_EQ(relaySend(kiv->handle(), driver->getMessageWindow(), WM_COPYDATA, 0,
                        reinterpret_cast<LPARAM>(buffer.data()), 0, 1),
              0u);
    EXPECT_EQ(send(2190), 0); // the object is still found
    EXPECT_EQ(callback.events, (events{"state 1"}));
}

TEST_F(messageWindow, staysConnectedWhenAPeerForgesItsDestruction)
{
    EXPECT_EQ(relaySend(kiv->handle(), driver->getMessageWindow(), WM_DESTROY, 0, 0, 0, 0), 0u);
    EXPECT_EQ(send(2074, WM_DESTROY, 0), 0);
    EXPECT_TRUE(driver->isConnected());
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, answersARelayedRequestAtTheLow16BitsOfTheSendersHandle)
{
    // The same window slot under another reuse count: only its low 16 bits still name KIV's window.
    const auto raw = reinterpret_cast<ULONG_PTR>(kiv->handle());
    const ULONG_PTR otherReuse = ((raw >> 16) & 0xffff) == 0x1234 ? 0x4321 : 0x1234;
    const HWND stale = reinterpret_cast<HWND>((raw & 0xffff) | (otherReuse << 16));
    ASSERT_FALSE(IsWindow(stale));
    EXPECT_EQ(relaySend(stale, driver->getMessageWindow(), 2181, 0, 0, 0, 0), 1u);
}

TEST_F(messageWindow, unwrapsModeTwoTrafficArrivingAs2074)
{
    EXPECT_EQ(send(2074, 2180, 0), 1);
    EXPECT_EQ(send(2074, 2179, 0), 0);
    EXPECT_EQ(callback.events, (events{"state 2"}));
}

TEST_F(messageWindow, refusesATextMessageWrappedAsAValue)
{
    EXPECT_EQ(send(2074, 2189, 0x1234), 0);
    EXPECT_EQ(send(2074, 49854, 0x1234), 0);
    pumpPending();
    EXPECT_TRUE(callback.events.empty());
}

TEST_F(messageWindow, answersATextMessageWithoutTextWithZero)
{
    EXPECT_EQ(send(2189, 0, 0), 0);
    pumpPending();
    EXPECT_TRUE(callback.events.empty());
}

} // namespace
