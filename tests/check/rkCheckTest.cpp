#include "rkCheck.h"
#include "rkhost.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

// One check on a fresh checker named "rkDriver", and the messages it must
// write; no messages means the value is good.
struct CheckCase {
    const char* name;
    std::function<bool(rkCheck&)> run;
    std::vector<std::string> messages;
};

void PrintTo(const CheckCase& c, std::ostream* out) { *out << c.name; }

uint32_t asUnsigned(int32_t value) { return static_cast<uint32_t>(value); }

const std::string text255(255, 'a');
const std::string text256(256, 'b');
const std::string text100k(100000, 'z');

const std::vector<CheckCase> checkCases = {
    {"DeviceOneIsGood", [](rkCheck& c) { return c.checkDevice(1); }, {}},
    {"Device4094IsGood", [](rkCheck& c) { return c.checkDevice(4094); }, {}},
    {"DeviceZeroIsTooSmall", [](rkCheck& c) { return c.checkDevice(0); },
     {"Device Number of out range (less than 1)"}},
    {"Device4095IsTooLarge", [](rkCheck& c) { return c.checkDevice(4095); },
     {"Device Number of out range (> MAX_DEVICES)"}},
    {"NegativeDeviceReadsAsTooLarge", [](rkCheck& c) { return c.checkDevice(asUnsigned(-1)); },
     {"Device Number of out range (> MAX_DEVICES)"}},
    {"DeviceBoundFollowsSetMaxDevices",
     [](rkCheck& c) {
         c.setMaxDevices(100);
         const bool atBound = c.checkDevice(100);
         const bool beyond = c.checkDevice(101);
         return atBound || beyond;
     },
     {"Device Number of out range (> MAX_DEVICES)"}},
    {"Slot4096IsGood", [](rkCheck& c) { return c.checkIndex(4096); }, {}},
    {"SlotZeroIsTooSmall", [](rkCheck& c) { return c.checkIndex(0); }, {"Index Number of out range (less than 1)"}},
    {"Slot4097IsTooLarge", [](rkCheck& c) { return c.checkIndex(4097); }, {"Index Number of out range (> MAX_SLOTS)"}},
    {"SlotBoundFollowsSetMaxSlots",
     [](rkCheck& c) {
         c.setMaxSlots(8);
         const bool atBound = c.checkIndex(8);
         const bool beyond = c.checkIndex(9);
         return atBound || beyond;
     },
     {"Index Number of out range (> MAX_SLOTS)"}},
    {"SourcesFromMinus4096To4096AreGood",
     [](rkCheck& c) { return c.checkSource(-4096) || c.checkSource(0) || c.checkSource(4096); }, {}},
    {"SourceMinus4097IsTooSmall", [](rkCheck& c) { return c.checkSource(-4097); },
     {"Source Number of out range (less than -MAX_SLOTS)"}},
    {"Source4097IsTooLarge", [](rkCheck& c) { return c.checkSource(4097); },
     {"Source Number of out range (> MAX_SLOTS)"}},
    {"SourceBoundFollowsSetMaxSource",
     [](rkCheck& c) {
         c.setMaxSource(10);
         return c.checkSource(-10) || c.checkSource(11);
     },
     {"Source Number of out range (> MAX_SLOTS)"}},
    {"MostNegativeSourceBoundDoesNotOverflow",
     [](rkCheck& c) {
         c.setMaxSource(INT_MIN); // its negation does not fit in 32 bits
         return c.checkSource(0);
     },
     {"Source Number of out range (less than -MAX_SLOTS)"}},
    {"EqualRangeEndsAreGood", [](rkCheck& c) { return c.checkRange(5, 5) || c.checkRange(0, 999999); }, {}},
    {"RangeStartAfterEndIsInvalid", [](rkCheck& c) { return c.checkRange(6, 5); }, {"Invalid range (start>end)"}},
    {"IndexRangeReportsBothBadEnds", [](rkCheck& c) { return c.checkIndexRange(0, 4097); },
     {"Index Number of out range (less than 1)", "Index Number of out range (> MAX_SLOTS)"}},
    {"IndexRangeWithABadEndIsNotCompared", [](rkCheck& c) { return c.checkIndexRange(5000, 1); },
     {"Index Number of out range (> MAX_SLOTS)"}},
    {"IndexRangeOfGoodEndsIsGood",
     [](rkCheck& c) { return c.checkIndexRange(1, 4096) || c.checkIndexRange(7, 7); }, {}},
    {"IndexRangeStartAfterEndIsInvalid", [](rkCheck& c) { return c.checkIndexRange(10, 5); },
     {"Invalid range (start>end)"}},
    {"EqualDatabaseRangeEndsAreGood", [](rkCheck& c) { return c.checkDatabaseRange(2, 2); }, {}},
    {"DatabaseRangeStartAfterEndIsInvalid", [](rkCheck& c) { return c.checkDatabaseRange(3, 2); },
     {"Invalid DB range (start>end)"}},
    {"DatabasesZeroToNineAreGood", [](rkCheck& c) { return c.checkDatabase(0) || c.checkDatabase(9); }, {}},
    {"DatabaseTenIsBeyondTheCount", [](rkCheck& c) { return c.checkDatabase(10); }, {"Invalid database (10>=10)"}},
    {"NegativeDatabaseIsInvalid", [](rkCheck& c) { return c.checkDatabase(-1); }, {"Invalid database (less than 0)"}},
    {"DatabaseBelowAGivenCountIsGood", [](rkCheck& c) { return c.checkDatabase(2, 3); }, {}},
    {"DatabaseAtAGivenCountIsInvalid", [](rkCheck& c) { return c.checkDatabase(3, 3); }, {"Invalid database (3>=3)"}},
    {"NegativeDatabaseWithACountIsInvalid", [](rkCheck& c) { return c.checkDatabase(-5, 3); },
     {"Invalid database (less than 0)"}},
    {"ExtremeDatabaseAndCountArePrintedWhole", [](rkCheck& c) { return c.checkDatabase(INT_MAX, INT_MIN); },
     {"Invalid database (2147483647>=-2147483648)"}},
    {"DatabaseBoundFollowsSetDatabaseCount",
     [](rkCheck& c) {
         c.setDatabaseCount(20);
         return c.checkDatabase(19) || c.checkDatabase(20);
     },
     {"Invalid database (20>=20)"}},
    {"DatabaseCountAboveIntMaxDoesNotTurnNegative",
     [](rkCheck& c) {
         c.setDatabaseCount(0x80000000u);
         return c.checkDatabase(INT_MAX);
     },
     {}},
    {"V1DatabasesZeroAndOneAreGood", [](rkCheck& c) { return c.checkV1Database(0) || c.checkV1Database(1); }, {}},
    {"V1DatabaseTwoIsInvalid", [](rkCheck& c) { return c.checkV1Database(2); }, {"Invalid V1 database (>1)"}},
    {"NegativeV1DatabaseIsInvalid", [](rkCheck& c) { return c.checkV1Database(-1); },
     {"Invalid V1 database (less than 0)"}},
    {"WorkstationsOneTo999AreGood",
     [](rkCheck& c) { return c.checkWorkstation(1) || c.checkWorkstation(999); }, {}},
    {"WorkstationZeroIsReportedWithItsNumber", [](rkCheck& c) { return c.checkWorkstation(0); },
     {"Workstation number invalid (< 1): 0"}},
    {"Workstation1000IsReportedWithItsNumber", [](rkCheck& c) { return c.checkWorkstation(1000); },
     {"Workstation number invalid (> MAX_WORKSTATIONS): 1000"}},
    {"NegativeWorkstationIsPrintedAsNegative", [](rkCheck& c) { return c.checkWorkstation(asUnsigned(INT_MIN)); },
     {"Workstation number invalid (> MAX_WORKSTATIONS): -2147483648"}},
    {"Text255IsBelowTheStringMaximum", [](rkCheck& c) { return c.checkStringLength(text255.c_str()); }, {}},
    {"Text256ReachesTheStringMaximum", [](rkCheck& c) { return c.checkStringLength(text256.c_str()); },
     {"Note: string exceeds maximum: " + text256}},
    {"StringMaximumZeroRestoresTheDefault",
     [](rkCheck& c) {
         c.setMaxStringLength(0);
         return c.checkStringLength(text255.c_str()) || c.checkStringLength(text256.c_str());
     },
     {"Note: string exceeds maximum: " + text256}},
    {"StringMaximumFollowsSetMaxStringLength",
     [](rkCheck& c) {
         c.setMaxStringLength(10);
         return c.checkStringLength("123456789") || c.checkStringLength("1234567890");
     },
     {"Note: string exceeds maximum: 1234567890"}},
    {"LongTextIsQuotedWhole", [](rkCheck& c) { return c.checkStringLength(text100k.c_str()); },
     {"Note: string exceeds maximum: " + text100k}},
    {"NullTextCountsAsEmpty",
     [](rkCheck& c) { return c.checkStringLength(nullptr) || c.checkStringTooLong(nullptr, 0); }, {}},
    {"TextAtTheGivenMaximumIsNotTooLong", [](rkCheck& c) { return c.checkStringTooLong("0123456789", 10); }, {}},
    {"TextAboveTheGivenMaximumIsTooLong", [](rkCheck& c) { return c.checkStringTooLong("0123456789A", 10); },
     {"String too long: 0123456789A"}},
};

// Collects the lines written to the debugger output during a test.
class DebugLines : public testing::Test {
protected:
    DebugLines() { rkSetDebugSink(&DebugLines::collect, this); }
    ~DebugLines() override { rkSetDebugSink(nullptr, nullptr); }

    static void collect(const char* text, void* context)
    {
        static_cast<DebugLines*>(context)->lines.emplace_back(text);
    }

    std::vector<std::string> lines;
};

class Checks : public DebugLines, public testing::WithParamInterface<CheckCase> {};

using CheckReport = DebugLines;

} // namespace

TEST_P(Checks, ReturnTheVerdictAndWriteOneLinePerFailure)
{
    const CheckCase& c = GetParam();
    rkCheck check("rkDriver");
    const bool bad = c.run(check);
    std::vector<std::string> expected;
    for (const std::string& message : c.messages)
        expected.push_back("rkDriver: " + message + "\n");
    EXPECT_EQ(bad, !expected.empty());
    EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Checks, testing::ValuesIn(checkCases),
                         [](const testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

TEST_F(CheckReport, WritesNameColonMessageAndLineFeed)
{
    rkCheck("rkDriver").report("free text");
    EXPECT_EQ(lines, std::vector<std::string>{"rkDriver: free text\n"});
}

TEST_F(CheckReport, SetNameChangesThePrefix)
{
    rkCheck check("rkDriver");
    check.setName("other");
    EXPECT_TRUE(check.checkDevice(0));
    EXPECT_EQ(lines, std::vector<std::string>{"other: Device Number of out range (less than 1)\n"});
}

TEST_F(CheckReport, NullNameGivesAnEmptyPrefix)
{
    EXPECT_TRUE(rkCheck(nullptr).checkDevice(0));
    EXPECT_EQ(lines, std::vector<std::string>{": Device Number of out range (less than 1)\n"});
}
