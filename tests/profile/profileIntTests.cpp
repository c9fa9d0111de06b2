/*
 * GetPrivateProfileIntA against a table of stored texts and the numbers the
 * system's own profile functions read from them.
 */
#include "profileFiles.h"
#include "rkwin.h"

#include <vector>

namespace {

const INT defaultNumber = 77;

struct IntCase {
    const char* name;
    const char* line; // the key's line in section [Sec]; null: no file
    UINT expected;
};

void PrintTo(const IntCase& c, std::ostream* out) { *out << c.name; }

const std::vector<IntCase> intCases = {
    {"Decimal", "key=42", 42},
    {"BlanksAroundNumber", "key=  42  ", 42},
    {"LeadingDigitsOnly", "key=42abc", 42},
    {"LeadingZeros", "key=007", 7},
    {"NegativeNumber", "key=-5", static_cast<UINT>(-5)},
    {"PlusSign", "key=+5", 5},
    {"TextIsZero", "key=abc", 0},
    {"HexPrefixIsHex", "key=0x10", 16},
    {"UpperCaseHexPrefix", "key=0X1f", 0},
    {"NegativeHex", "key=-0x10", static_cast<UINT>(-16)},
    {"BinaryPrefix", "key=0b101", 5},
    {"OctalPrefix", "key=0o17", 15},
    {"HexDigitsStopAtTheFirstOther", "key=0x1fg", 31},
    {"OverflowWraps", "key=4294967297", 1},
    {"QuotedNumber", "key=\"12\"", 12},
    {"BlanksInsideQuotesBeforeTheNumber", "key=\"  12\"", 12},
    {"SignBeforeBlanks", "key=- 5", 0},
    {"EmptyValueGivesDefault", "key=", static_cast<UINT>(defaultNumber)},
    {"MissingKeyGivesDefault", "other=1", static_cast<UINT>(defaultNumber)},
    {"KeyInOtherCase", "KEY=9", 9},
    {"MissingFileGivesDefault", nullptr, static_cast<UINT>(defaultNumber)},
};

class ProfileIntRead : public ProfileFiles, public testing::WithParamInterface<IntCase> {};

TEST_P(ProfileIntRead, GivesTheSystemsNumber) {
    const IntCase& c = GetParam();
    std::string path = c.line ? fileWith(std::string("[Sec]\r\n") + c.line + "\r\n") : missingFile();

    EXPECT_EQ(c.expected, GetPrivateProfileIntA("Sec", "key", defaultNumber, path.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileIntRead, testing::ValuesIn(intCases),
                         [](const testing::TestParamInfo<IntCase>& info) { return info.param.name; });

using ProfileIntOfNames = ProfileFiles;

// Without a key, or without a section, the number comes from the first name
// that the string function lists.
TEST_F(ProfileIntOfNames, ComesFromTheFirstNameListed) {
    std::string path = fileWith("[7up]\r\n12monkeys=1\r\n");

    EXPECT_EQ(12u, GetPrivateProfileIntA("7up", nullptr, defaultNumber, path.c_str()));
    EXPECT_EQ(7u, GetPrivateProfileIntA(nullptr, nullptr, defaultNumber, path.c_str()));
    EXPECT_EQ(static_cast<UINT>(defaultNumber), GetPrivateProfileIntA("none", nullptr, defaultNumber, path.c_str()));
}

} // namespace
