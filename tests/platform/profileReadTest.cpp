#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <filesystem>

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

} // namespace

TEST_F(ProfileRead, MissingFileGivesTheDefault)
{
    EXPECT_EQ(profileString(directory.file("none.ini"), "Main", "Key", "fallback"), "fallback");
    EXPECT_EQ(GetPrivateProfileIntA("Main", "Key", 42, directory.file("none.ini").c_str()), 42u);
}

TEST_F(ProfileRead, MissingSectionOrKeyGivesTheDefault)
{
    const std::string path = profileWith("[Main]\nKey=value\n");
    EXPECT_EQ(profileString(path, "Other", "Key", "fallback"), "fallback");
    EXPECT_EQ(profileString(path, "Main", "Other", "fallback"), "fallback");
    EXPECT_EQ(profileString(path, "Main", "Other", nullptr), "");
}

TEST_F(ProfileRead, SectionAndKeyNamesMatchWithoutRegardToCase)
{
    const std::string path = profileWith("[Main]\nKeyName=value\n");
    EXPECT_EQ(profileString(path, "MAIN", "keyname"), "value");
    EXPECT_EQ(profileString(path, "main", "KEYNAME"), "value");
}

TEST_F(ProfileRead, BlanksAroundKeysAndValuesAreIgnored)
{
    const std::string path = profileWith("[Main]\n  Key \t=  some value \t\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "some value");
}

TEST_F(ProfileRead, BlanksAroundTheRequestedNamesAreIgnored)
{
    const std::string path = profileWith("[Main]\nKey=value\n");
    EXPECT_EQ(profileString(path, " Main ", "  Key "), "value");
}

TEST_F(ProfileRead, BlanksInsideTheBracketsAreIgnored)
{
    const std::string path = profileWith("[ Main\t]\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "Key", "fallback"), "value");
}

TEST_F(ProfileRead, OnePairOfMatchingQuotesIsRemoved)
{
    const std::string path =
        profileWith("[Main]\nDouble=\"a b \"\nSingle='x'\nMixed=\"x'\nLone=\"\nNested=\"\"y\"\"\n");
    EXPECT_EQ(profileString(path, "Main", "Double"), "a b ");
    EXPECT_EQ(profileString(path, "Main", "Single"), "x");
    EXPECT_EQ(profileString(path, "Main", "Mixed"), "\"x'");
    EXPECT_EQ(profileString(path, "Main", "Lone"), "\"");
    EXPECT_EQ(profileString(path, "Main", "Nested"), "\"y\"");
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

TEST_F(ProfileRead, FirstOfTwoEqualKeysWins)
{
    const std::string path = profileWith("[Main]\nKey=first\nkey=second\n");
    EXPECT_EQ(profileString(path, "Main", "KEY"), "first");
}

TEST_F(ProfileRead, EveryOccurrenceOfARepeatedSectionIsSearched)
{
    const std::string path = profileWith("[Main]\nA=1\n[Other]\nB=2\n[main]\nA=3\nC=4\n");
    EXPECT_EQ(profileString(path, "Main", "A"), "1");
    EXPECT_EQ(profileString(path, "Main", "C"), "4");
    EXPECT_EQ(profileString(path, "Main", "B", "none"), "none");
}

TEST_F(ProfileRead, FurtherEqualsSignsBelongToTheValue)
{
    const std::string path = profileWith("[Main]\nKey=a=b=c\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "a=b=c");
}

TEST_F(ProfileRead, LinesWithoutEqualsSignCarryNoData)
{
    const std::string path = profileWith("[Main]\njust words\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "just words", "none"), "none");
    EXPECT_EQ(profileString(path, "Main", "Key"), "value");
}

TEST_F(ProfileRead, SemicolonLinesAreOrdinaryKeys)
{
    const std::string path = profileWith("[Main]\n;note=1\n");
    EXPECT_EQ(profileString(path, "Main", ";note"), "1");
}

TEST_F(ProfileRead, TextAfterTheClosingBracketIsIgnored)
{
    const std::string path = profileWith("[Main] remark\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "value");
}

TEST_F(ProfileRead, IndentedHeaderIsAHeader)
{
    const std::string path = profileWith("  [Main]\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "value");
}

TEST_F(ProfileRead, HeaderWithoutClosingBracketEndsTheSection)
{
    const std::string path = profileWith("[Main]\nA=1\n[Broken\nB=2\n");
    EXPECT_EQ(profileString(path, "Main", "A"), "1");
    EXPECT_EQ(profileString(path, "Main", "B", "none"), "none");
    EXPECT_EQ(profileString(path, "Broken", "B", "none"), "none");
}

TEST_F(ProfileRead, KeysBeforeTheFirstSectionBelongToNone)
{
    const std::string path = profileWith("Key=loose\n[Main]\nOther=1\n");
    EXPECT_EQ(profileString(path, "Main", "Key", "none"), "none");
    EXPECT_EQ(profileString(path, "", "Key", "none"), "none");
}

TEST_F(ProfileRead, CrLfAndLfLinesAndALastLineWithoutEndAllRead)
{
    const std::string path = profileWith("[Main]\r\nA=1\r\nB=2\nC=3");
    EXPECT_EQ(profileString(path, "Main", "A"), "1");
    EXPECT_EQ(profileString(path, "Main", "B"), "2");
    EXPECT_EQ(profileString(path, "Main", "C"), "3");
}

TEST_F(ProfileRead, CarriageReturnsAloneEndLinesToo)
{
    const std::string path = profileWith("[Main]\rA=1\rB=2\r");
    EXPECT_EQ(profileString(path, "Main", "A"), "1");
    EXPECT_EQ(profileString(path, "Main", "B"), "2");
}

TEST_F(ProfileRead, Utf8MarkBeforeTheFirstHeaderIsSkipped)
{
    const std::string path = profileWith("\xEF\xBB\xBF[Main]\nKey=value\n");
    EXPECT_EQ(profileString(path, "Main", "Key"), "value");
}

TEST_F(ProfileRead, NulByteEndsAValue)
{
    const std::string path = profileWith(std::string("[Main]\nKey=ab\0cd\nNext=2\n", 23));
    EXPECT_EQ(profileString(path, "Main", "Key"), "ab");
    EXPECT_EQ(profileString(path, "Main", "Next"), "2");
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
    EXPECT_EQ(GetPrivateProfileIntA("Main", nullptr, 11, path.c_str()), 11u);
}

TEST_F(ProfileRead, HugeIntegerWrapsWithoutFault)
{
    const std::string path = profileWith("[Main]\nA=" + std::string(100000, '9') + "\nB=4294967297\n");
    profileInt(path, "A"); // any value; it must not overflow into undefined behaviour
    EXPECT_EQ(profileInt(path, "B"), 1u);
}
