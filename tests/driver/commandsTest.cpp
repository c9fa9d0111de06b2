// The command texts, values and queries a driver sends, through either
// carrier, as an in-process stand-in for KIV receives them.
#include "driverTestSupport.h"
#include "testHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

class commands : public ::testing::TestWithParam<int>, protected connectedDriver {
protected:
    void SetUp() override { ASSERT_TRUE(connectDriver(7, mode())); }

    int mode() const { return GetParam(); }
    kivMessage::carrier carrier() const { return mode() == 1 ? kivMessage::relay : kivMessage::telmif; }
    std::string windowNumber() const
    {
        return std::to_string(reinterpret_cast<LONG_PTR>(driver->getMessageWindow()));
    }

    // The only command text KIV received with that message number.
    kivMessage only(UINT message)
    {
        const auto found = kiv->received(message);
        EXPECT_EQ(found.size(), 1u) << "message " << message;
        if (found.empty())
            return {};
        EXPECT_EQ(found[0].via, carrier());
        return found[0];
    }
};

TEST_P(commands, sendsACommandAs2187WithItsValueAndText)
{
    kiv->answers[2187] = 33;
    EXPECT_EQ(driver->sendCommand(0, "IR 7 3 'abc' 0"), 33);
    const kivMessage sent = only(2187);
    EXPECT_EQ(sent.text, "IR 7 3 'abc' 0");
    EXPECT_EQ(sent.wParam, 0u);
}

TEST_P(commands, sendsAnEmptyCommandAndALongOneWhole)
{
    const std::string longText = "IR 7 3 '" + std::string(1024, 'x') + "' 0";
    driver->sendCommand(0, "");
    driver->sendCommand(0, longText.c_str());
    const auto sent = kiv->received(2187);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].text, "");
    EXPECT_EQ(sent[1].text, longText);
}

TEST_P(commands, formatsRMWithValueBFirstAndSendsItTwice)
{
    EXPECT_FALSE(driver->sendRM(7, 1, 2, "abc", true));
    const std::string expected = "RM 7 2 1 'abc' 1 12 " + windowNumber();
    const kivMessage first = only(2124);
    const kivMessage second = only(2159);
    EXPECT_EQ(first.text, expected);
    EXPECT_EQ(first.wParam, 7u);
    EXPECT_EQ(second.text, expected);
    EXPECT_EQ(second.wParam, 0u);
    EXPECT_TRUE(debug.contains(expected));
    ASSERT_EQ(kiv->all().back().message, 2159u);
}

TEST_P(commands, sendsRMWithTheLow16BitsOfTheDeviceAsWParam)
{
    driver->sendRM(0x12345, 1, 2, "abc", false);
    EXPECT_EQ(only(2124).wParam, 0x2345u);
}

TEST_P(commands, formatsRDAndSendsItAs2187)
{
    EXPECT_FALSE(driver->sendRD(7, 1, 2, "abc"));
    const kivMessage sent = only(2187);
    EXPECT_EQ(sent.text, "RD 7 2 1 'abc' 12");
    EXPECT_EQ(sent.wParam, 0u);
    EXPECT_TRUE(debug.contains("RD 7 2 1 'abc' 12"));
}

TEST_P(commands, formatsNSWithTheWorkstationOfTheMomentAndSkipsTheCheckOfWorkstationZero)
{
    setEnvironment("RK_WORKSTATION", "14");
    EXPECT_FALSE(driver->sendNS(0, 5, "hi there", "a", "b"));
    EXPECT_EQ(only(2123).text, "NS 5 14 'hi there' 0 a b");
    EXPECT_TRUE(debug.texts().empty());
}

TEST_P(commands, refusesNSForAnInvalidDeviceOrWorkstationWithoutSending)
{
    EXPECT_TRUE(driver->sendNS(0, 0, "x", "a", "b"));
    EXPECT_TRUE(driver->sendNS(1000, 5, "x", "a", "b"));
    EXPECT_TRUE(driver->sendNS(3, 5, std::string(256, 'x'), "a", "b"));
    EXPECT_TRUE(kiv->received(2123).empty());
    EXPECT_EQ(debug.count("rkDriver: Device Number of out range (less than 1)\n"), 1);
    int sent = 0;
    int received = 0;
    driver->getCounters(sent, received);
    EXPECT_EQ(sent, 0);
}

TEST_P(commands, refusesAnNSCommandThatDoesNotFitWithOneLine)
{
    EXPECT_TRUE(driver->sendNS(3, 5, "x", std::string(600, 'w'), "b"));
    EXPECT_TRUE(kiv->received(2123).empty());
    ASSERT_EQ(debug.texts().size(), 1u);
    EXPECT_EQ(debug.texts()[0].rfind("rkDriver: ", 0), 0u);
    int sent = 0;
    int received = 0;
    driver->getCounters(sent, received);
    EXPECT_EQ(sent, 0);
}

TEST_P(commands, sendsTheLongestNSCommandThatFits)
{
    // "NS 5 12 'x' 3 " is 14 characters and " b" 2: a word of 495 makes 511.
    EXPECT_FALSE(driver->sendNS(3, 5, "x", std::string(495, 'w'), "b"));
    EXPECT_EQ(only(2123).text.size(), 511u);
    EXPECT_TRUE(driver->sendNS(3, 5, "x", std::string(496, 'w'), "b"));
}

TEST_P(commands, sendsASmallDeviceValueDirectly)
{
    kiv->answers[49244] = 4;
    EXPECT_EQ(driver->sendDeviceValue(0x1234), 4);
    const auto sent = kiv->received(49244);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].via, kivMessage::direct);
    EXPECT_EQ(sent[0].wParam, reinterpret_cast<WPARAM>(driver->getMessageWindow()));
    EXPECT_EQ(sent[0].lParam, (0x1234 << 16) | 7);
}

TEST_P(commands, sendsALargeDeviceValueAsAnEightByteRecord)
{
    driver->sendDeviceValue(0x10000);
    const kivMessage sent = only(49860);
    EXPECT_EQ(sent.wParam & 0xffff, reinterpret_cast<WPARAM>(driver->getMessageWindow()) & 0xffff);
    ASSERT_GE(sent.bytes.size(), 8u);
    int32_t record[2];
    std::memcpy(record, sent.bytes.data(), sizeof record);
    EXPECT_EQ(record[0], 0x10000);
    EXPECT_EQ(record[1], 7);
    EXPECT_TRUE(kiv->received(49244).empty());
}

TEST_P(commands, countsCommandsRMAndRDButNotValues)
{
    int sent = 0;
    int received = 0;
    driver->getCounters(sent, received);
    driver->sendCommand(0, "a");
    driver->sendRM(7, 1, 2, "x", false);
    driver->sendRD(7, 1, 2, "x");
    driver->sendNS(0, 7, "x", "a", "b");
    driver->sendDeviceValue(1);
    EXPECT_TRUE(driver->getCounters(sent, received));
    EXPECT_EQ(sent, 4);
    EXPECT_FALSE(driver->getCounters(sent, received));
}

INSTANTIATE_TEST_SUITE_P(modes, commands, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? std::string("relay") : std::string("telmif32");
                         });

class queries : public ::testing::Test {
protected:
    scopedDesktop desktop;
    recordingCallback callback;
    fakeKiv kiv;
    rkDriver driver{&callback, "rkDriver"};
};

TEST_F(queries, carryACommandWithItsTerminatorInModeTwo)
{
    driver.connect(7, 2, 0);
    driver.sendCommand(0, "abc");
    const auto sent = kiv.received(2187);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, (std::vector<char>{'a', 'b', 'c', '\0'}));
}

TEST_F(queries, replaceALimitOfZeroByTheDefault)
{
    for (UINT message : {49245u, 49233u, 49234u, 49243u})
        kiv.answers[message] = 0;
    driver.connect(7, 2, 0);
    EXPECT_EQ(driver.getMaxDevices(), 4094);
    EXPECT_EQ(driver.getSlotLimitA(), 4096);
    EXPECT_EQ(driver.getSlotLimitB(), 4096);
    EXPECT_EQ(driver.getMaxDatabases(), 10);
}

TEST_F(queries, returnKivsOwnLimits)
{
    kiv.answers[49245] = 5;
    kiv.answers[49233] = 6;
    kiv.answers[49234] = 7;
    kiv.answers[49243] = 8;
    driver.connect(7, 2, 0);
    EXPECT_EQ(driver.getMaxDevices(), 5);
    EXPECT_EQ(driver.getSlotLimitA(), 6);
    EXPECT_EQ(driver.getSlotLimitB(), 7);
    EXPECT_EQ(driver.getMaxDatabases(), 8);
}

TEST_F(queries, pingReturnsKivsAnswer)
{
    kiv.answers[49238] = 42;
    driver.connect(7, 2, 0);
    EXPECT_EQ(driver.pingKiv(), 42);
}

class counters : public ::testing::Test {
protected:
    scopedDesktop desktop;
    recordingCallback callback;
    rkDriver driver{&callback, "rkDriver"};
};

TEST_F(counters, reportAChangeOnceAfterConstruction)
{
    int sent = -5;
    int received = -5;
    EXPECT_TRUE(driver.getCounters(sent, received));
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(received, 0);
    EXPECT_FALSE(driver.getCounters(sent, received));
}

TEST_F(counters, countACommandSentWhileNotConnectedThatReturnsZero)
{
    int sent = 0;
    int received = 0;
    driver.getCounters(sent, received);
    EXPECT_EQ(driver.sendCommand(0, "IR 1 1 'x' 0"), 0);
    EXPECT_TRUE(driver.getCounters(sent, received));
    EXPECT_EQ(sent, 1);
}

TEST_F(counters, reportAChangeAgainAfterAReset)
{
    int sent = 0;
    int received = 0;
    driver.sendCommand(0, "x");
    driver.getCounters(sent, received);
    driver.resetCounters();
    EXPECT_TRUE(driver.getCounters(sent, received));
    EXPECT_EQ(sent, 0);
}

} // namespace
