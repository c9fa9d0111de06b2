#include "rkCheck.h"
#include "rkhost.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

class Checks : public ::testing::Test {
protected:
    Checks() { rkSetDebugSink(&Checks::collect, this); }
    ~Checks() override { rkSetDebugSink(nullptr, nullptr); }

    // The lines the check wrote, after asserting what it returned.
    template <typename Check> std::vector<std::string> linesOf(bool expectedBad, Check check)
    {
        lines.clear();
        EXPECT_EQ(check(), expectedBad);
        return lines;
    }

    template <typename Check> void expectGood(Check check) { EXPECT_TRUE(linesOf(false, check).empty()); }

    template <typename Check> void expectBad(const std::string& message, Check check)
    {
        EXPECT_EQ(linesOf(true, check), std::vector<std::string>{"rkDriver: " + message + "\n"});
    }

    static void collect(const char* text, void* context) { static_cast<Checks*>(context)->lines.emplace_back(text); }

    rkCheck check{"rkDriver"};
    std::vector<std::string> lines;
};

uint32_t asUnsigned(int32_t value) { return static_cast<uint32_t>(value); }

} // namespace

TEST_F(Checks, DeviceNumbersFromOneToMaxDevicesPass)
{
    expectGood([&] { return check.checkDevice(1); });
    expectGood([&] { return check.checkDevice(4094); });
}

TEST_F(Checks, DeviceZeroIsBelowTheRange)
{
    expectBad("Device Number of out range (less than 1)", [&] { return check.checkDevice(0); });
}

TEST_F(Checks, DeviceAboveMaxDevicesIsOutOfRange)
{
    expectBad("Device Number of out range (> MAX_DEVICES)", [&] { return check.checkDevice(4095); });
    expectBad("Device Number of out range (> MAX_DEVICES)", [&] { return check.checkDevice(4096); });
}

TEST_F(Checks, NegativeDeviceReadsAsTooLarge)
{
    expectBad("Device Number of out range (> MAX_DEVICES)", [&] { return check.checkDevice(asUnsigned(-1)); });
}

TEST_F(Checks, DeviceBoundFollowsSetMaxDevices)
{
    check.setMaxDevices(100);
    expectGood([&] { return check.checkDevice(100); });
    expectBad("Device Number of out range (> MAX_DEVICES)", [&] { return check.checkDevice(101); });
}

TEST_F(Checks, SlotsFromOneToMaxSlotsPass)
{
    expectGood([&] { return check.checkIndex(1); });
    expectGood([&] { return check.checkIndex(4096); });
}

TEST_F(Checks, SlotOutsideTheRangeIsReported)
{
    expectBad("Index Number of out range (less than 1)", [&] { return check.checkIndex(0); });
    expectBad("Index Number of out range (> MAX_SLOTS)", [&] { return check.checkIndex(4097); });
}

TEST_F(Checks, SlotBoundFollowsSetMaxSlots)
{
    check.setMaxSlots(8);
    expectGood([&] { return check.checkIndex(8); });
    expectBad("Index Number of out range (> MAX_SLOTS)", [&] { return check.checkIndex(9); });
}

TEST_F(Checks, SourcesWithinPlusMinusMaxSourcePass)
{
    expectGood([&] { return check.checkSource(-4096); });
    expectGood([&] { return check.checkSource(0); });
    expectGood([&] { return check.checkSource(4096); });
}

TEST_F(Checks, SourceOutsideTheRangeIsReported)
{
    expectBad("Source Number of out range (less than -MAX_SLOTS)", [&] { return check.checkSource(-4097); });
    expectBad("Source Number of out range (> MAX_SLOTS)", [&] { return check.checkSource(4097); });
    expectBad("Source Number of out range (less than -MAX_SLOTS)", [&] { return check.checkSource(INT_MIN); });
}

TEST_F(Checks, SourceBoundFollowsSetMaxSource)
{
    check.setMaxSource(10);
    expectGood([&] { return check.checkSource(-10); });
    expectBad("Source Number of out range (less than -MAX_SLOTS)", [&] { return check.checkSource(-11); });
    expectBad("Source Number of out range (> MAX_SLOTS)", [&] { return check.checkSource(11); });
}

TEST_F(Checks, MostNegativeSourceBoundDoesNotOverflow)
{
    check.setMaxSource(INT_MIN); // its negation does not fit in 32 bits
    expectBad("Source Number of out range (less than -MAX_SLOTS)", [&] { return check.checkSource(0); });
}

TEST_F(Checks, RangeWithStartAfterEndIsInvalid)
{
    expectGood([&] { return check.checkRange(5, 5); });
    expectGood([&] { return check.checkRange(0, 999999); });
    expectBad("Invalid range (start>end)", [&] { return check.checkRange(6, 5); });
}

TEST_F(Checks, IndexRangeReportsBothBadEnds)
{
    EXPECT_EQ(linesOf(true, [&] { return check.checkIndexRange(0, 4097); }),
              (std::vector<std::string>{"rkDriver: Index Number of out range (less than 1)\n",
                                        "rkDriver: Index Number of out range (> MAX_SLOTS)\n"}));
}

TEST_F(Checks, IndexRangeWithABadEndSkipsTheOrderTest)
{
    expectBad("Index Number of out range (> MAX_SLOTS)", [&] { return check.checkIndexRange(5000, 1); });
}

TEST_F(Checks, IndexRangeWithGoodEndsComparesThem)
{
    expectGood([&] { return check.checkIndexRange(1, 4096); });
    expectGood([&] { return check.checkIndexRange(7, 7); });
    expectBad("Invalid range (start>end)", [&] { return check.checkIndexRange(10, 5); });
}

TEST_F(Checks, DatabaseRangeWithStartAfterEndIsInvalid)
{
    expectGood([&] { return check.checkDatabaseRange(2, 2); });
    expectBad("Invalid DB range (start>end)", [&] { return check.checkDatabaseRange(3, 2); });
}

TEST_F(Checks, DatabasesBelowTheDefaultCountPass)
{
    expectGood([&] { return check.checkDatabase(0); });
    expectGood([&] { return check.checkDatabase(9); });
}

TEST_F(Checks, DatabaseOutsideTheDefaultCountIsReported)
{
    expectBad("Invalid database (10>=10)", [&] { return check.checkDatabase(10); });
    expectBad("Invalid database (less than 0)", [&] { return check.checkDatabase(-1); });
}

TEST_F(Checks, DatabaseAgainstAGivenCount)
{
    expectGood([&] { return check.checkDatabase(2, 3); });
    expectBad("Invalid database (3>=3)", [&] { return check.checkDatabase(3, 3); });
    expectBad("Invalid database (less than 0)", [&] { return check.checkDatabase(-5, 3); });
    expectBad("Invalid database (2147483647>=-2147483648)",
              [&] { return check.checkDatabase(INT_MAX, INT_MIN); });
}

TEST_F(Checks, DatabaseBoundFollowsSetDatabaseCount)
{
    check.setDatabaseCount(20);
    expectGood([&] { return check.checkDatabase(19); });
    expectBad("Invalid database (20>=20)", [&] { return check.checkDatabase(20); });
}

TEST_F(Checks, DatabaseCountAboveIntMaxDoesNotTurnNegative)
{
    check.setDatabaseCount(0x80000000u);
    expectGood([&] { return check.checkDatabase(INT_MAX); });
}

TEST_F(Checks, V1DatabaseIsZeroOrOne)
{
    expectGood([&] { return check.checkV1Database(0); });
    expectGood([&] { return check.checkV1Database(1); });
    expectBad("Invalid V1 database (>1)", [&] { return check.checkV1Database(2); });
    expectBad("Invalid V1 database (less than 0)", [&] { return check.checkV1Database(-1); });
}

TEST_F(Checks, WorkstationsFromOneTo999Pass)
{
    expectGood([&] { return check.checkWorkstation(1); });
    expectGood([&] { return check.checkWorkstation(999); });
}

TEST_F(Checks, WorkstationOutsideTheRangeIsReportedWithItsNumber)
{
    expectBad("Workstation number invalid (< 1): 0", [&] { return check.checkWorkstation(0); });
    expectBad("Workstation number invalid (> MAX_WORKSTATIONS): 1000", [&] { return check.checkWorkstation(1000); });
}

TEST_F(Checks, NegativeWorkstationIsPrintedBackAsNegative)
{
    expectBad("Workstation number invalid (> MAX_WORKSTATIONS): -5",
              [&] { return check.checkWorkstation(asUnsigned(-5)); });
    expectBad("Workstation number invalid (> MAX_WORKSTATIONS): -2147483648",
              [&] { return check.checkWorkstation(asUnsigned(INT_MIN)); });
}

TEST_F(Checks, StringLengthNoteFiresAtTheMaximumItself)
{
    const std::string fits(255, 'a');
    const std::string reaches(256, 'b');
    expectGood([&] { return check.checkStringLength(fits.c_str()); });
    expectBad("Note: string exceeds maximum: " + reaches, [&] { return check.checkStringLength(reaches.c_str()); });
}

TEST_F(Checks, StringMaximumZeroRestoresTheDefault)
{
    check.setMaxStringLength(0);
    const std::string fits(255, 'a');
    const std::string reaches(256, 'b');
    expectGood([&] { return check.checkStringLength(fits.c_str()); });
    expectBad("Note: string exceeds maximum: " + reaches, [&] { return check.checkStringLength(reaches.c_str()); });
}

TEST_F(Checks, StringMaximumFollowsSetMaxStringLength)
{
    check.setMaxStringLength(10);
    expectGood([&] { return check.checkStringLength("123456789"); });
    expectBad("Note: string exceeds maximum: 1234567890", [&] { return check.checkStringLength("1234567890"); });
}

TEST_F(Checks, LongTextIsQuotedWhole)
{
    const std::string text(100000, 'z');
    expectBad("Note: string exceeds maximum: " + text, [&] { return check.checkStringLength(text.c_str()); });
}

TEST_F(Checks, NullTextCountsAsEmpty)
{
    expectGood([&] { return check.checkStringLength(nullptr); });
    expectGood([&] { return check.checkStringTooLong(nullptr, 0); });
}

TEST_F(Checks, StringTooLongFiresAboveTheGivenMaximum)
{
    expectGood([&] { return check.checkStringTooLong("0123456789", 10); });
    expectBad("String too long: 0123456789A", [&] { return check.checkStringTooLong("0123456789A", 10); });
}

TEST_F(Checks, ReportWritesNameColonMessageAndLineFeed)
{
    linesOf(false, [&] {
        check.report("free text");
        return false;
    });
    EXPECT_EQ(lines, std::vector<std::string>{"rkDriver: free text\n"});
}

TEST_F(Checks, SetNameChangesThePrefix)
{
    check.setName("other");
    EXPECT_EQ(linesOf(true, [&] { return check.checkDevice(0); }),
              std::vector<std::string>{"other: Device Number of out range (less than 1)\n"});
}

TEST_F(Checks, NullNameGivesAnEmptyPrefix)
{
    rkCheck unnamed(nullptr);
    EXPECT_EQ(linesOf(true, [&] { return unnamed.checkDevice(0); }),
              std::vector<std::string>{": Device Number of out range (less than 1)\n"});
}
