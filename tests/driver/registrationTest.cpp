// Registration of an in-process driver at a stand-in KIV of this process.
#include "driverTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

class registration : public ::testing::Test {
protected:
    scopedDesktop desktop;
    debugCapture debug;
    recordingCallback callback;
    std::unique_ptr<fakeKiv> kiv = std::make_unique<fakeKiv>();
    std::unique_ptr<rkDriver> driver = std::make_unique<rkDriver>(&callback, "rkDriver");

    using events = std::vector<std::string>;
};

TEST_F(registration, takesKivFromDravikWhenTheHandlePassesTheIdentityCheck)
{
    EXPECT_FALSE(driver->connect(5, 1, 0));
    EXPECT_TRUE(debug.contains("rkClient: KIV handle from dravik.dll"));
    EXPECT_TRUE(debug.contains("Success - KIV has accepted request"));
    EXPECT_TRUE(kiv->received(2031).empty());
    const auto registrations = kiv->received(2184);
    ASSERT_EQ(registrations.size(), 1u);
    EXPECT_EQ(registrations[0].wParam, reinterpret_cast<WPARAM>(driver->getMessageWindow()));
    EXPECT_EQ(registrations[0].lParam, 5);
    EXPECT_EQ(callback.events, (events{"connected 5", "state 2"}));
    EXPECT_TRUE(driver->isConnected());
    EXPECT_EQ(driver->getKivWindow(), kiv->handle());
}

TEST_F(registration, searchesByBroadcastWhenDravikHandleFailsTheIdentityCheck)
{
    kiv->answerIdentity = false;
    EXPECT_FALSE(driver->connect(5, 1, 0));
    EXPECT_FALSE(debug.contains("rkClient: KIV handle from dravik.dll"));
    // 2031 lies in the private range, which a broadcast never carries: 49153 finds KIV.
    ASSERT_EQ(kiv->received(49153).size(), 1u);
    EXPECT_EQ(kiv->received(49153)[0].wParam, reinterpret_cast<WPARAM>(driver->getMessageWindow()));
    EXPECT_EQ(driver->getKivWindow(), kiv->handle());
}

TEST_F(registration, findsNoKivWhenNobodyAnswersTheBroadcast)
{
    kiv->answerIdentity = false;
    kiv->answerBroadcast = false;
    EXPECT_TRUE(driver->connect(5, 1, 0));
    EXPECT_EQ(kiv->received(49153).size(), 1u);
    EXPECT_TRUE(debug.contains("Cannot find KIV"));
}

TEST_F(registration, reportsCannotFindKivWithoutAHub)
{
    kiv.reset();
    EXPECT_TRUE(driver->connect(5, 2, 0));
    EXPECT_EQ(debug.count("Cannot find KIV"), 1);
    EXPECT_TRUE(callback.events.empty());
    EXPECT_FALSE(driver->isConnected());
}

TEST_F(registration, registersDevice32767WithTheShortModeTwoMessage)
{
    EXPECT_FALSE(driver->connect(32767, 2, 0));
    EXPECT_EQ(kiv->received(2193).size(), 1u);
    EXPECT_TRUE(kiv->received(49859).empty());
}

TEST_F(registration, registersDevice32768WithTheWideModeTwoMessage)
{
    EXPECT_FALSE(driver->connect(32768, 2, 0));
    ASSERT_EQ(kiv->received(49859).size(), 1u);
    EXPECT_EQ(kiv->received(49859)[0].lParam, 32768);
    EXPECT_TRUE(kiv->received(2193).empty());
}

TEST_F(registration, registersNothingInAModeOtherThanOneOrTwo)
{
    EXPECT_TRUE(driver->connect(5, 3, 0));
    EXPECT_TRUE(debug.contains("Cannot find KIV"));
    EXPECT_TRUE(kiv->received(2184).empty());
    EXPECT_TRUE(kiv->received(2193).empty());
}

struct refusal {
    LRESULT reply;
    const char* text;
};

class refusedRegistration : public registration, public ::testing::WithParamInterface<refusal> {};

TEST_P(refusedRegistration, writesTheRefusalAndCallsNothing)
{
    kiv->answers[2184] = GetParam().reply;
    EXPECT_TRUE(driver->connect(5, 1, 0));
    EXPECT_EQ(debug.count(GetParam().text), 1);
    EXPECT_TRUE(callback.events.empty());
    EXPECT_EQ(driver->getState(), 0);
    EXPECT_TRUE(kiv->received(2214).empty());
    // The window found stays: a refused driver still knows its KIV.
    EXPECT_TRUE(driver->isConnected());
}

TEST_P(refusedRegistration, leavesNothingToUnregister)
{
    kiv->answers[2184] = GetParam().reply;
    EXPECT_TRUE(driver->connect(5, 1, 0));
    EXPECT_TRUE(driver->disconnect());
    EXPECT_TRUE(driver->connect(5, 1, 0));
    driver.reset();
    EXPECT_TRUE(kiv->received(2185).empty());
    EXPECT_TRUE(kiv->received(2186).empty());
    EXPECT_TRUE(callback.events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    replies, refusedRegistration,
    ::testing::Values(refusal{1, "Request refused - ID supplied is invalid"},
                      refusal{2, "Request refused - Device ID is already running on this workstation"},
                      refusal{3, "Request refused - KIV has not been enabled in Driver Mode"}));

TEST_F(registration, takesAnUnknownReplyAsAcceptanceWithoutTheSuccessText)
{
    kiv->answers[2184] = 7;
    kiv->answers[2214] = 1;
    EXPECT_FALSE(driver->connect(5, 1, 0));
    EXPECT_FALSE(debug.contains("Success - KIV has accepted request"));
    EXPECT_EQ(callback.events, (events{"connected 5", "state 1"}));
    EXPECT_EQ(driver->getState(), 1);
}

TEST_F(registration, takesStateThreeFromKivAsStateTwo)
{
    kiv->answers[2214] = 3;
    driver->connect(5, 1, 0);
    EXPECT_EQ(driver->getState(), 2);
}

TEST_F(registration, takesAnyOtherStateAnswerAsStateZero)
{
    kiv->answers[2214] = 9;
    driver->connect(5, 1, 0);
    EXPECT_EQ(driver->getState(), 0);
    EXPECT_EQ(callback.events.back(), "state 0");
}

TEST_F(registration, asksKivForTheStateOfItsDevice)
{
    driver->connect(77, 1, 0);
    ASSERT_EQ(kiv->received(2214).size(), 1u);
    EXPECT_EQ(kiv->received(2214)[0].wParam, 0u);
    EXPECT_EQ(kiv->received(2214)[0].lParam, 77);
}

TEST_F(registration, unregistersTheDeviceAndForgetsTheWindowOnDisconnect)
{
    driver->connect(5, 2, 0);
    callback.events.clear();
    EXPECT_FALSE(driver->disconnect());
    ASSERT_EQ(kiv->received(2185).size(), 1u);
    EXPECT_EQ(kiv->received(2185)[0].lParam, 5);
    ASSERT_EQ(kiv->received(2186).size(), 1u);
    EXPECT_EQ(kiv->received(2186)[0].wParam, reinterpret_cast<WPARAM>(driver->getMessageWindow()));
    EXPECT_EQ(callback.events, (events{"disconnected 5"}));
    EXPECT_FALSE(driver->isConnected());
    EXPECT_EQ(driver->getConnectionMode(), 0);
    EXPECT_EQ(driver->getState(), 0);
}

TEST_F(registration, doesNothingOnDisconnectWhenNotConnected)
{
    EXPECT_TRUE(driver->disconnect());
    EXPECT_TRUE(callback.events.empty());
    EXPECT_TRUE(kiv->received(2185).empty());
}

TEST_F(registration, unregistersTheOldDeviceBeforeRegisteringAgain)
{
    driver->connect(5, 1, 0);
    callback.events.clear();
    EXPECT_FALSE(driver->connect(6, 2, 0));
    EXPECT_EQ(callback.events, (events{"disconnected 5", "connected 6", "state 2"}));
    EXPECT_EQ(kiv->received(2185)[0].lParam, 5);
    EXPECT_EQ(kiv->received(2193)[0].lParam, 6);
    EXPECT_EQ(driver->getDevice(), 6);
}

TEST_F(registration, unregistersWhenDeletedWhileTheCallbackStillListens)
{
    driver->connect(5, 1, 0);
    callback.events.clear();
    driver.reset();
    EXPECT_EQ(callback.events, (events{"disconnected 5"}));
    EXPECT_EQ(kiv->received(2185).size(), 1u);
    EXPECT_EQ(kiv->received(2186).size(), 1u);
    EXPECT_FALSE(debug.contains("Failed to unregister rkDriver window class"));
}

TEST_F(registration, findsNoKivWhenTheOneItKnewHasGone)
{
    kiv->answers[2184] = 1;
    driver->connect(5, 1, 0); // refused: the handle stays
    kiv.reset();
    debug.clear();
    EXPECT_TRUE(driver->connect(5, 1, 0));
    EXPECT_TRUE(debug.contains("Cannot find KIV"));
    EXPECT_FALSE(debug.contains("Success - KIV has accepted request"));
}

TEST_F(registration, givesTwoDriversOfOneProcessTheirOwnWindows)
{
    recordingCallback otherCallback;
    rkDriver other(&otherCallback, "rkDriver");
    ASSERT_NE(other.getMessageWindow(), nullptr);
    EXPECT_NE(other.getMessageWindow(), driver->getMessageWindow());
    EXPECT_FALSE(driver->connect(5, 1, 0));
    EXPECT_FALSE(other.connect(6, 1, 0));
    EXPECT_EQ(kiv->received(2184)[1].wParam, reinterpret_cast<WPARAM>(other.getMessageWindow()));
}

TEST_F(registration, namesItsMessageWindowOnTheDebugOutput)
{
    const std::string expected =
        "rkdriver message window " + std::to_string(reinterpret_cast<LONG_PTR>(driver->getMessageWindow()));
    EXPECT_TRUE(debug.contains(expected));
}

TEST_F(registration, tellsKivTheStateItSets)
{
    driver->connect(5, 1, 0);
    callback.events.clear();
    driver->setState(2, true);
    driver->setState(2, false);
    driver->setState(1, false);
    driver->setState(4, false);
    const auto sets = kiv->received(2215);
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].wParam, 3u);
    EXPECT_EQ(sets[1].wParam, 2u);
    EXPECT_EQ(sets[2].wParam, 1u);
    EXPECT_EQ(sets[2].lParam, 5);
    EXPECT_EQ(callback.events, (events{"state 2", "state 2", "state 1"}));
    EXPECT_EQ(driver->getState(), 1);
}

TEST_F(registration, appliesAPreferenceAsTheStateItWants)
{
    driver->connect(5, 1, 0);
    EXPECT_EQ(driver->getPreference(), 1);
    driver->setPreference(2, true);
    EXPECT_EQ(driver->getState(), 1);
    driver->setPreference(1, false);
    EXPECT_EQ(driver->getPreference(), 1);
    EXPECT_EQ(driver->getState(), 1);
    driver->setPreference(1, true);
    EXPECT_EQ(driver->getState(), 2);
    EXPECT_EQ(kiv->received(2215).size(), 2u);
}

TEST_F(registration, skipsEveryNotificationWithoutACallback)
{
    driver->setCallback(nullptr);
    driver->connect(5, 1, 0);
    driver->disconnect();
    EXPECT_TRUE(callback.events.empty());
}

} // namespace
