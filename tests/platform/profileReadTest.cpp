#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace {

class ProfileRead : public ::testing::Test {
protected:
    // The path of a profile file holding exactly these bytes.
    std::string profileWith(const std::string& bytes)
    {
        const std::string path = directory.file("test.ini");
        writeBytes(path, bytes);
        return path;
    }

    UINT profileInt(const std::string& path, const char* key, INT fallback = -7)
    {
        return GetPrivateProfileIntA("Main", key, fallback, path.c_str());
    }

    TemporaryDirectory directory;
};

// A list of names as Win32 returns it: each name ends in a terminator.
std::string nameList(std::initializer_list<const char*> names)
{
    std::string list;
    for (const char* name : names)
        list += std::string(name) + '\0';
    return list;
}

// One value read: the file's bytes, what is asked and what comes back
// (the default "fallback" when nothing is found).
struct ValueCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
};

void PrintTo(const ValueCase& c, std::ostream* out) { *out << c.name; }

const std::vector<ValueCase> valueCases = {
    {"MissingSectionGivesTheDefault", "[Main]\nKey=value\n", "Other", "Key", "fallback"},
    {"MissingKeyGivesTheDefault", "[Main]\nKey=value\n", "Main", "Other", "fallback"},
    {"SectionNameMatchesInAnyCase", "[Main]\nKeyName=value\n", "MAIN", "keyname", "value"},
    {"KeyNameMatchesInAnyCase", "[main]\nkeyname=value\n", "Main", "KEYNAME", "value"},
    {"BlanksAroundKeyAndValueAreIgnored", "[Main]\n  Key \t=  some value \t\n", "Main", "Key", "some value"},
    {"BlanksAroundRequestedNamesAreIgnored", "[Main]\nKey=value\n", " Main ", "  Key ", "value"},
    {"BlanksInsideTheBracketsAreIgnored", "[ Main\t]\nKey=value\n", "Main", "Key", "value"},
    {"DoubleQuotesAreRemoved", "[Main]\nKey=\"a b \"\n", "Main", "Key", "a b "},
    {"SingleQuotesAreRemoved", "[Main]\nKey='x'\n", "Main", "Key", "x"},
    {"MixedQuotesStay", "[Main]\nKey=\"x'\n", "Main", "Key", "\"x'"},
    {"LoneQuoteStays", "[Main]\nKey=\"\n", "Main", "Key", "\""},
    {"OnlyOnePairOfQuotesIsRemoved", "[Main]\nKey=\"\"y\"\"\n", "Main", "Key", "\"y\""},
    {"FirstOfTwoEqualKeysWins", "[Main]\nKey=first\nkey=second\n", "Main", "KEY", "first"},
    {"RepeatedSectionKeepsItsFirstValue", "[Main]\nA=1\n[Other]\nB=2\n[main]\nA=3\n", "Main", "A", "1"},
    {"RepeatedSectionAddsItsKeys", "[Main]\nA=1\n[Other]\nB=2\n[main]\nC=4\n", "Main", "C", "4"},
    {"KeyOfAnotherSectionIsMissing", "[Main]\nA=1\n[Other]\nB=2\n[main]\nC=4\n", "Main", "B", "fallback"},
    {"FurtherEqualsSignsBelongToTheValue", "[Main]\nKey=a=b=c\n", "Main", "Key", "a=b=c"},
    {"LineWithoutEqualsSignIsNoKey", "[Main]\njust words\nKey=value\n", "Main", "just words", "fallback"},
    {"SemicolonLineIsAnOrdinaryKey", "[Main]\n;note=1\n", "Main", ";note", "1"},
    {"TextAfterTheClosingBracketIsIgnored", "[Main] remark\nKey=value\n", "Main", "Key", "value"},
    {"IndentedHeaderIsAHeader", "  [Main]\nKey=value\n", "Main", "Key", "value"},
    {"HeaderWithoutBracketEndsTheSection", "[Main]\nA=1\n[Broken\nB=2\n", "Main", "B", "fallback"},
    {"HeaderWithoutBracketNamesNoSection", "[Main]\nA=1\n[Broken\nB=2\n", "Broken", "B", "fallback"},
    {"KeysBeforeTheFirstHeaderBelongToNone", "Key=loose\n[Main]\nOther=1\n", "Main", "Key", "fallback"},
    {"CrLfLinesRead", "[Main]\r\nA=1\r\nB=2\nC=3", "Main", "A", "1"},
    {"LfLineAfterCrLfLinesReads", "[Main]\r\nA=1\r\nB=2\nC=3", "Main", "B", "2"},
    {"LastLineWithoutLineEndReads", "[Main]\r\nA=1\r\nB=2\nC=3", "Main", "C", "3"},
    {"CarriageReturnAloneEndsALine", "[Main]\rA=1\rB=2\r", "Main", "B", "2"},
    {"Utf8MarkBeforeTheFirstHeaderIsSkipped", "\xEF\xBB\xBF[Main]\nKey=value\n", "Main", "Key", "value"},
    {"NulByteEndsAValue", std::string("[Main]\nKey=ab\0cd\nNext=2\n", 23), "Main", "Key", "ab"},
    {"LineAfterANulByteReads", std::string("[Main]\nKey=ab\0cd\nNext=2\n", 23), "Main", "Next", "2"},
};

class ProfileValue : public ProfileRead, public testing::WithParamInterface<ValueCase> {};

} // namespace

TEST_P(ProfileValue, IsReadAsWin32ReadsIt)
{
    const ValueCase& c = GetParam();
    EXPECT_EQ(profileString(profileWith(c.file), c.section, c.key, "fallback"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileValue, testing::ValuesIn(valueCases),
                         [](const testing::TestParamInfo<ValueCase>& info) { return info.param.name; });

TEST_F(ProfileRead, MissingFileGivesTheDefault)
{
    EXPECT_EQ(profileString(directory.file("none.ini"), "Main", "Key", "fallback"), "fallback");
    EXPECT_EQ(GetPrivateProfileIntA("Main", "Key", 42, directory.file("none.ini").c_str()), 42u);
}

TEST_F(ProfileRead, NullDefaultGivesAnEmptyText)
{
    EXPECT_EQ(profileString(directory.file("none.ini"), "Main", "Key", nullptr), "");
}

TEST_F(ProfileRead, TrailingSpacesOfTheDefaultAreDropped)
{
    EXPECT_EQ(profileString(directory.file("none.ini"), "Main", "Key", "  value   "), "  value");
}

TEST_F(ProfileRead, ValueLongerThanTheBufferIsCutToSizeMinusOne)
{
    const std::string path = profileWith("[Main]\nKey=0123456789\n");
    std::string buffer(8, '\x7f');
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "", buffer.data(), 5, path.c_str()), 4u);
    EXPECT_EQ(buffer.substr(0, 5), std::string("0123\0", 5));
    EXPECT_EQ(buffer[5], '\x7f');
}

TEST_F(ProfileRead, ValueThatFillsTheBufferExactlyIsWhole)
{
    const std::string path = profileWith("[Main]\nKey=0123\n");
    EXPECT_EQ(profileString(path, "Main", "Key", "", 5), "0123");
}

TEST_F(ProfileRead, NullOrEmptyBufferReadsNothing)
{
    const std::string path = profileWith("[Main]\nKey=value\n");
    char untouched = 'u';
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "", &untouched, 0, path.c_str()), 0u);
    EXPECT_EQ(untouched, 'u');
    EXPECT_EQ(GetPrivateProfileStringA("Main", "Key", "", nullptr, 10, path.c_str()), 0u);
}

TEST_F(ProfileRead, BinaryGarbageGivesDefaults)
{
    std::string garbage;
    for (int i = 0; i < 200000; ++i)
        garbage += static_cast<char>((i * 7919 + 13) % 256);
    const std::string path = profileWith(garbage + "\n[Main]\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "value");
    EXPECT_EQ(profileString(path, "Nowhere", "Key", "fallback"), "fallback");
    profileString(path, nullptr, nullptr); // must not crash or overrun
}

TEST_F(ProfileRead, MegabyteLineIsReadWhole)
{
    const std::string huge(1 << 20, 'v');
    const std::string path = profileWith("[Main]\nBig=" + huge + "\nAfter=1\n");
    EXPECT_EQ(profileString(path, "Main", "Big", "", (1 << 20) + 1), huge);
    EXPECT_EQ(profileString(path, "Main", "Big", "", 100), huge.substr(0, 99));
    EXPECT_EQ(profileString(path, "Main", "After"), "1");
}

TEST_F(ProfileRead, EveryOneOfThousandsOfSectionsIsFound)
{
    std::string bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += "[S" + std::to_string(i) + "]\nKey=" + std::to_string(i) + "\n\n";
    const std::string path = profileWith(bytes);
    EXPECT_EQ(profileString(path, "S0", "Key"), "0");
    EXPECT_EQ(profileString(path, "S2500", "Key"), "2500");
    EXPECT_EQ(profileString(path, "s4999", "key"), "4999");
}

TEST_F(ProfileRead, NullSectionListsTheSectionNames)
{
    const std::string path = profileWith("[One]\nA=1\n[Two]\n[one]\n");
    EXPECT_EQ(profileString(path, nullptr, nullptr), nameList({"One", "Two", "one"}));
}

TEST_F(ProfileRead, NullKeyListsTheKeyNamesOfTheSectionWithoutRemarks)
{
    const std::string path =
        profileWith("[Main]\nA=1\n b = 2\nno data\n;remark=1\n=empty\na=3\n[Other]\nC=4\n[main]\nD=5\n");
    EXPECT_EQ(profileString(path, "Main", nullptr), nameList({"A", "b", "D"}));
}

TEST_F(ProfileRead, NullKeyOnAMissingSectionGivesTheDefault)
{
    const std::string path = profileWith("[Main]\nA=1\n");
    EXPECT_EQ(profileString(path, "Other", nullptr, "fallback"), "fallback");
}

TEST_F(ProfileRead, ListThatDoesNotFitEndsInTwoTerminators)
{
    const std::string path = profileWith("[Alpha]\n[Beta]\n");
    std::string buffer(10, '\x7f');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer.data(), 9, path.c_str()), 7u);
    EXPECT_EQ(buffer.substr(0, 9), std::string("Alpha\0B\0\0", 9));
    EXPECT_EQ(buffer[9], '\x7f');
}

TEST_F(ProfileRead, ListThatFitsExactlyIsWhole)
{
    const std::string path = profileWith("[Alpha]\n[Beta]\n");
    std::string buffer(12, '\x7f');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "", buffer.data(), 12, path.c_str()), 11u);
    EXPECT_EQ(buffer, std::string("Alpha\0Beta\0\0", 12));
}

TEST_F(ProfileRead, ListOfAMissingFileIsEmpty)
{
    EXPECT_EQ(profileString(directory.file("none.ini"), nullptr, nullptr), "");
}

TEST_F(ProfileRead, WindowsPathReadsUnderTheDriveDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_C", directory.path());
    profileWith("[Main]\nKey=mapped\n");
    EXPECT_EQ(profileString("C:\\test.ini", "Main", "Key"), "mapped");
}

TEST_F(ProfileRead, BareFileNameLiesInTheWindowsDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_C", directory.path());
    ScopedEnvironment windows("WINDIR", std::nullopt);
    std::filesystem::create_directory(directory.file("Windows"));
    writeBytes(directory.file("Windows/kiv.ini"), "[Main]\nKey=windir\n");
    EXPECT_EQ(profileString("kiv.ini", "Main", "Key"), "windir");
}

TEST_F(ProfileRead, IntegerIsTakenFromTheLeadingDigits)
{
    const std::string path = profileWith("[Main]\nA=12abc\nB= 007 \nC=+5\nD=-3\nE=\"8\"\n");
    EXPECT_EQ(profileInt(path, "A"), 12u);
    EXPECT_EQ(profileInt(path, "B"), 7u);
    EXPECT_EQ(profileInt(path, "C"), 5u);
    EXPECT_EQ(static_cast<INT>(profileInt(path, "D")), -3);
    EXPECT_EQ(profileInt(path, "E"), 8u);
}

TEST_F(ProfileRead, IntegerWithoutDigitsIsZero)
{
    const std::string path = profileWith("[Main]\nA=abc\nB=-\n");
    EXPECT_EQ(profileInt(path, "A"), 0u);
    EXPECT_EQ(profileInt(path, "B"), 0u);
}

TEST_F(ProfileRead, EmptyOrMissingIntegerGivesTheDefault)
{
    const std::string path = profileWith("[Main]\nEmpty=\n");
    EXPECT_EQ(static_cast<INT>(profileInt(path, "Empty", -9)), -9);
    EXPECT_EQ(profileInt(path, "Missing", 10), 10u);
    EXPECT_EQ(GetPrivateProfileIntA("Other", nullptr, 11, path.c_str()), 11u);
}

TEST_F(ProfileRead, HugeIntegerWrapsWithoutFault)
{
    const std::string path = profileWith("[Main]\nA=" + std::string(100000, '9') + "\nB=4294967297\n");
    profileInt(path, "A"); // any value; it must not overflow into undefined behaviour
    EXPECT_EQ(profileInt(path, "B"), 1u);
}
