// The hub's parts that need no other process: IR checking, counting,
// options and the reading of hostile frames.
#include "hubFrames.h"
#include "hubOptions.h"
#include "hubTraffic.h"
#include "telmifFrame.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

bool isIr(const std::string& text)
{
    irFields fields;
    return parseIrText(text, fields);
}

TEST(IrTextCheck, AcceptsTheGeneratorsLayout)
{
    irFields fields;
    ASSERT_TRUE(parseIrText("IR 12 4096 'hello world' 0", fields));
    EXPECT_EQ(fields.device, 12);
    EXPECT_EQ(fields.slot, 4096);
    EXPECT_EQ(fields.text, "hello world");
}

TEST(IrTextCheck, AcceptsAnEmptyText)
{
    irFields fields;
    ASSERT_TRUE(parseIrText("IR 1 1 '' 0", fields));
    EXPECT_EQ(fields.text, "");
}

TEST(IrTextCheck, RefusesApostropheOrPercentInsideTheText)
{
    EXPECT_FALSE(isIr("IR 1 1 'it's' 0"));
    EXPECT_FALSE(isIr("IR 1 1 '100%' 0"));
}

TEST(IrTextCheck, RefusesMissingOrWrongFields)
{
    EXPECT_FALSE(isIr("IR 1 'x' 0"));
    EXPECT_FALSE(isIr("IR 1 2 'x'"));
    EXPECT_FALSE(isIr("IR 1 2 'x' 1"));
    EXPECT_FALSE(isIr("IR 1 2 'x' 0 extra"));
    EXPECT_FALSE(isIr("IR a 2 'x' 0"));
    EXPECT_FALSE(isIr("IR 1 2 x 0"));
    EXPECT_FALSE(isIr("IR 99999999999 2 'x' 0"));
    EXPECT_FALSE(isIr("NS 1 2 'x' 0"));
    EXPECT_FALSE(isIr(""));
}

TEST(TrafficCount, CountsMessagesAndBytesPerWordAndDevice)
{
    hubTraffic traffic;
    const auto anyDevice = [](long) { return true; };
    EXPECT_TRUE(traffic.record("IR 3 7 'abc' 0", anyDevice));
    EXPECT_TRUE(traffic.record("RD 3 2 1 'abc' 12", anyDevice));
    EXPECT_TRUE(traffic.record("XX", anyDevice));
    EXPECT_EQ(traffic.total().messages, 3u);
    EXPECT_EQ(traffic.total().bytes, 14u + 17u + 2u);
    EXPECT_EQ(traffic.words().at("IR").messages, 1u);
    EXPECT_EQ(traffic.words().at("RD").bytes, 17u);
    EXPECT_EQ(traffic.words().at("other").messages, 1u);
    const std::string json = traffic.summaryJson(2.0, 1, 0.0);
    EXPECT_NE(json.find("\"devices\":{\"3\":{\"messages\":2,\"bytes\":31},\"unknown\""), std::string::npos) << json;
}

TEST(TrafficCount, CountsTheTextsOfInterleavedDevicesApart)
{
    hubTraffic traffic;
    const auto anyDevice = [](long) { return true; };
    for (const char* text : {"IR 1 1 'a' 0", "IR 2 1 'a' 0", "IR 1 1 'a' 0", "NS 2 1 'a' 0 x y", "NS 2 1 'a' 0 x y"})
        traffic.record(text, anyDevice, 0);
    EXPECT_EQ(traffic.words().at("IR").messages, 3u);
    EXPECT_EQ(traffic.words().at("NS").messages, 2u);
    const std::string json = traffic.summaryJson(1.0, 0, 0.0);
    EXPECT_NE(json.find("\"devices\":{\"1\":{\"messages\":2,\"bytes\":24},\"2\":{\"messages\":3,\"bytes\":44}}"),
              std::string::npos)
        << json;
    EXPECT_EQ(traffic.series().takeCsvRows(1), "1,1,2,24\n1,2,3,44\n");
}

TEST(TrafficCount, CountsNumbersBeyondTheServedDevicesAsUnknown)
{
    hubTraffic traffic(100);
    const auto anyDevice = [](long) { return true; };
    for (const char* text : {"IR 0 1 'a' 0", "IR 101 1 'a' 0", "XX -5", "XX 123456789", "IR 100 1 'a' 0"})
        traffic.record(text, anyDevice);
    const std::string json = traffic.summaryJson(1.0, 0, 0.0);
    EXPECT_NE(json.find("\"devices\":{\"100\":{\"messages\":1,\"bytes\":14},\"unknown\":{\"messages\":4"),
              std::string::npos)
        << json;
}

TEST(TrafficCount, MalformedAndUnregisteredIrTextsCountAsMalformed)
{
    hubTraffic traffic;
    const auto onlyDevice3 = [](long device) { return device == 3; };
    EXPECT_FALSE(traffic.record("IR 4 7 'abc' 0", onlyDevice3));
    EXPECT_FALSE(traffic.record("IR 3 7 'a'b' 0", onlyDevice3));
    EXPECT_TRUE(traffic.record("IR 3 7 'abc' 0", onlyDevice3));
    EXPECT_TRUE(traffic.record("NS 5 1 'x' 0 a b", onlyDevice3));
    EXPECT_EQ(traffic.malformed(), 2u);
    EXPECT_EQ(traffic.total().messages, 4u);
    const std::string json = traffic.summaryJson(1.0, 0, 0.0);
    EXPECT_NE(json.find("\"malformed_devices\":{\"3\":1,\"4\":1,\"5\":0}"), std::string::npos) << json;
}

TEST(TrafficCount, KeepsTheFirstRegistrationsInOrderAndCountsTheRest)
{
    hubTraffic traffic;
    for (unsigned long device = 1; device <= hubTraffic::registrationsKept + 2; ++device)
        traffic.recordRegistration({device, 65536 + device, 2, device == 1 ? 0 : 2, 0.25});
    const std::string json = traffic.summaryJson(1.0, 0, 1765290001.234, 7);
    EXPECT_NE(json.find("\"started_utc\":1765290001.234,\"workstation\":7,"), std::string::npos) << json.substr(0, 200);
    EXPECT_NE(json.find("\"registrations\":[{\"device\":1,\"window\":65537,\"mode\":2,\"reply\":0,\"time\":0.250},"
                        "{\"device\":2,"),
              std::string::npos);
    EXPECT_NE(json.find("{\"device\":10000,\"window\":75536,\"mode\":2,\"reply\":2,\"time\":0.250}],"
                        "\"registrations_dropped\":2,"),
              std::string::npos);
}

TEST(TrafficCount, SummaryGivesSlotAndSizeRangesOfWellFormedTexts)
{
    hubTraffic traffic;
    const auto anyDevice = [](long) { return true; };
    traffic.record("IR 1 9 'abcd' 0", anyDevice);
    traffic.record("IR 1 2 'a' 0", anyDevice);
    traffic.record("IR 1 4000 'this one is malformed 0", anyDevice);
    const std::string json = traffic.summaryJson(1.0, 0, 0.0);
    EXPECT_NE(json.find("\"slot_min\":2,\"slot_max\":9,\"size_min\":1,\"size_max\":4"), std::string::npos) << json;
    EXPECT_NE(json.find("\"rate\":3.000"), std::string::npos) << json;
}

TEST(TrafficCount, SummaryWithoutIrTextsHasNullRanges)
{
    hubTraffic traffic;
    const std::string json = traffic.summaryJson(0.0, 0, 0.0);
    EXPECT_NE(json.find("\"slot_min\":null"), std::string::npos) << json;
    EXPECT_NE(json.find("\"rate\":0.000"), std::string::npos) << json;
}

std::string parse(std::vector<const char*> arguments, hubOptions& options)
{
    return parseHubOptions(static_cast<int>(arguments.size()), arguments.data(), options);
}

TEST(HubOptions, ReadsEveryFixedOption)
{
    hubOptions options;
    ASSERT_EQ(parse({"--devices", "40000", "--driver-mode", "off", "--register-reply", "7", "--fail-identity",
                     "--no-broadcast", "--state", "1", "--answer", "49238=42", "--answer=49233=100", "--seconds",
                     "2.5", "--summary", "s.json", "--capture", "c.txt", "--quiet", "--ready", "r"},
                    options),
              "");
    EXPECT_EQ(options.deviceLimit, 40000u);
    EXPECT_TRUE(options.driverModeOff);
    EXPECT_EQ(options.registerReply.value_or(0), 7);
    EXPECT_TRUE(options.failIdentity && options.noBroadcast && options.quiet);
    EXPECT_EQ(options.state.value_or(0), 1);
    EXPECT_EQ(options.answers.at(49238), 42);
    EXPECT_EQ(options.answers.at(49233), 100);
    EXPECT_DOUBLE_EQ(options.seconds.value_or(0), 2.5);
    EXPECT_EQ(options.summaryFile, "s.json");
    EXPECT_EQ(options.captureFile, "c.txt");
    EXPECT_EQ(options.readyFile, "r");
}

TEST(HubOptions, RefusesUnknownOptionsAndBadValues)
{
    hubOptions options;
    EXPECT_NE(parse({"--bogus"}, options), "");
    EXPECT_NE(parse({"--devices"}, options), "");
    EXPECT_NE(parse({"--devices", "many"}, options), "");
    EXPECT_NE(parse({"--answer", "49238"}, options), "");
    EXPECT_NE(parse({"--answer", "70000=1"}, options), "");
    EXPECT_NE(parse({"--seconds", "-1"}, options), "");
    EXPECT_NE(parse({"--driver-mode", "maybe"}, options), "");
}

// The payload lives in a heap block of exactly cbData bytes, so that any
// read past it is caught by the address sanitizer.
struct exactFrame {
    exactFrame(ULONG_PTR dwData, const std::vector<char>& bytes)
        : storage(new char[bytes.empty() ? 1 : bytes.size()])
    {
        std::copy(bytes.begin(), bytes.end(), storage.get());
        copyData.dwData = dwData;
        copyData.cbData = static_cast<DWORD>(bytes.size());
        copyData.lpData = storage.get();
    }
    std::unique_ptr<char[]> storage;
    COPYDATASTRUCT copyData{};
};

std::vector<char> telmifBytes(std::uint32_t message, const std::string& text, std::uint32_t claimedCount)
{
    std::vector<char> bytes(telmifHeaderSize + text.size());
    telmifPutHeader(reinterpret_cast<unsigned char*>(bytes.data()),
                    {telmifFrameMagic, message, 0, 1, claimedCount});
    std::copy(text.begin(), text.end(), bytes.begin() + telmifHeaderSize);
    return bytes;
}

TEST(FrameReading, ReadsARelayTextRequestShorterThan512BytesWithoutReadingPastIt)
{
    exactFrame frame(2187u << 16, {'I', 'R', ' ', '1'});
    const hubFrame read = readFrame(&frame.copyData);
    EXPECT_EQ(read.kind, frameKind::relayRequest);
    EXPECT_EQ(read.message, 2187u);
    EXPECT_EQ(read.text(), "IR 1");
}

TEST(FrameReading, CutsAnUnterminated512ByteRelayTextAtItsEnd)
{
    exactFrame frame(2187u << 16, std::vector<char>(512, 'x'));
    const hubFrame read = readFrame(&frame.copyData);
    EXPECT_EQ(read.kind, frameKind::relayRequest);
    EXPECT_EQ(read.text().size(), 512u);
}

TEST(FrameReading, ReadsARelayTextLongerThan512BytesWhole)
{
    std::vector<char> text(1030, 'y');
    text.back() = '\0';
    exactFrame frame(2187u << 16, text);
    const hubFrame read = readFrame(&frame.copyData);
    EXPECT_EQ(read.kind, frameKind::relayRequest);
    EXPECT_EQ(read.text().size(), 1029u);
}

TEST(FrameReading, RefusesOversizedAndEmptyPointerFrames)
{
    exactFrame oversized(2187u << 16, std::vector<char>(relayMaxTextSize + 1, 'x'));
    EXPECT_EQ(readFrame(&oversized.copyData).kind, frameKind::bad);
    COPYDATASTRUCT noData{2187u << 16, 16, nullptr};
    EXPECT_EQ(readFrame(&noData).kind, frameKind::bad);
    EXPECT_EQ(readFrame(nullptr).kind, frameKind::bad);
}

TEST(FrameReading, ReadsANumericRequestAndRefusesGarbage)
{
    char good[relayNumericSize];
    writeRelayNumber(255, good);
    EXPECT_STREQ(good, "000000ff");
    exactFrame number(49238u << 16, std::vector<char>(good, good + sizeof good));
    const hubFrame read = readFrame(&number.copyData);
    EXPECT_TRUE(read.numeric);
    EXPECT_EQ(read.value, 255u);
    exactFrame garbage(49238u << 16, std::vector<char>(16, 'z'));
    EXPECT_EQ(readFrame(&garbage.copyData).kind, frameKind::bad);
    exactFrame unterminated(49238u << 16, std::vector<char>(16, 'f'));
    EXPECT_EQ(readFrame(&unterminated.copyData).kind, frameKind::bad);
}

TEST(FrameReading, TellsRepliesFromRequests)
{
    exactFrame reply((2984u << 16) | 7, std::vector<char>(512, '\0'));
    const hubFrame read = readFrame(&reply.copyData);
    EXPECT_EQ(read.kind, frameKind::relayReply);
    EXPECT_EQ(read.wParam, 7u);
}

TEST(FrameReading, ReadsATelmifFrameWhoseCountMatches)
{
    exactFrame frame(telmifFrameTag, telmifBytes(2187, "IR 1 1 'a' 0", 12));
    const hubFrame read = readFrame(&frame.copyData);
    EXPECT_EQ(read.kind, frameKind::telmif);
    EXPECT_EQ(read.message, 2187u);
    EXPECT_EQ(read.text(), "IR 1 1 'a' 0");
}

TEST(FrameReading, RefusesTelmifFramesThatLieAboutTheirSize)
{
    exactFrame tooLong(telmifFrameTag, telmifBytes(2187, "abc", 4000));
    EXPECT_EQ(readFrame(&tooLong.copyData).kind, frameKind::bad);
    exactFrame tooShort(telmifFrameTag, std::vector<char>(telmifHeaderSize - 1, '\0'));
    EXPECT_EQ(readFrame(&tooShort.copyData).kind, frameKind::bad);
    std::vector<char> badMagic = telmifBytes(2187, "abc", 3);
    badMagic[0] = 'X';
    exactFrame wrongMagic(telmifFrameTag, badMagic);
    EXPECT_EQ(readFrame(&wrongMagic.copyData).kind, frameKind::bad);
}

TEST(TelmifFrame, HeaderSurvivesTheRoundTrip)
{
    unsigned char bytes[telmifHeaderSize + 5];
    const telmifFrameHeader written{telmifFrameMagic, 49860, 0x123456789abcULL, 1, 5};
    telmifPutHeader(bytes, written);
    telmifFrameHeader read{};
    ASSERT_TRUE(telmifGetHeader(bytes, sizeof bytes, read));
    EXPECT_EQ(read.message, 49860u);
    EXPECT_EQ(read.wParam, 0x123456789abcULL);
    EXPECT_EQ(read.textMode, 1);
}

} // namespace
