#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

class ProfileWrite : public ::testing::Test {
protected:
    std::string profileWith(const std::string& bytes)
    {
        writeBytes(path, bytes);
        return path;
    }

    BOOL write(const char* section, const char* key, const char* value)
    {
        return WritePrivateProfileStringA(section, key, value, path.c_str());
    }

    std::string contents() const { return readBytes(path); }

    TemporaryDirectory directory;
    const std::string path = directory.file("test.ini");
};

} // namespace

TEST_F(ProfileWrite, CreatesTheFileTheSectionAndTheKey)
{
    EXPECT_TRUE(write("Main", "Key", "value"));
    EXPECT_EQ(contents(), "[Main]\r\nKey=value\r\n");
}

TEST_F(ProfileWrite, NewSectionAfterABlankLineKeepsIt)
{
    profileWith("[Main]\nA=1\n\n");
    EXPECT_TRUE(write("Other", "B", "2"));
    EXPECT_EQ(contents(), "[Main]\nA=1\n\n[Other]\nB=2\n");
}

TEST_F(ProfileWrite, NewKeyGoesAfterTheLastLineOfItsSection)
{
    profileWith("[Main]\nA=1\n\n[Other]\nB=2\n");
    EXPECT_TRUE(write("main", "C", "3"));
    EXPECT_EQ(contents(), "[Main]\nA=1\nC=3\n\n[Other]\nB=2\n");
}

TEST_F(ProfileWrite, NewKeyGoesIntoTheFirstOccurrenceOfARepeatedSection)
{
    profileWith("[Main]\nA=1\n[Main]\nB=2\n");
    EXPECT_TRUE(write("Main", "C", "3"));
    EXPECT_EQ(contents(), "[Main]\nA=1\nC=3\n[Main]\nB=2\n");
}

TEST_F(ProfileWrite, ChangedValueKeepsEveryOtherByte)
{
    const std::string before = "; top remark\r\n[Main]  trailing\r\n  A = 1 \r\nnoise line\n\tKey = old \r\n"
                               "\n[Other]\r\nKey=other\r\n";
    profileWith(before);
    EXPECT_TRUE(write("MAIN", "key", "new"));
    EXPECT_EQ(contents(), "; top remark\r\n[Main]  trailing\r\n  A = 1 \r\nnoise line\nKey=new\r\n"
                          "\n[Other]\r\nKey=other\r\n");
}

TEST_F(ProfileWrite, KeyKeepsItsStoredSpelling)
{
    profileWith("[Main]\nKeyName=1\n");
    EXPECT_TRUE(write("Main", "KEYNAME", "2"));
    EXPECT_EQ(contents(), "[Main]\nKeyName=2\n");
}

TEST_F(ProfileWrite, ReadBackGivesTheWrittenValue)
{
    EXPECT_TRUE(write("Main", "Key", "a value with = and 'quotes'"));
    EXPECT_EQ(profileString(path, "Main", "Key"), "a value with = and 'quotes'");
}

TEST_F(ProfileWrite, LeadingBlanksOfTheValueAreNotWritten)
{
    EXPECT_TRUE(write("Main", "Key", "   value"));
    EXPECT_EQ(contents(), "[Main]\r\nKey=value\r\n");
}

TEST_F(ProfileWrite, BlanksAroundNamesAreNotWritten)
{
    EXPECT_TRUE(write(" Main ", " Key ", "v"));
    EXPECT_EQ(contents(), "[Main]\r\nKey=v\r\n");
}

TEST_F(ProfileWrite, LastLineWithoutLineEndIsContinuedCleanly)
{
    profileWith("[Main]\nA=1");
    EXPECT_TRUE(write("Main", "B", "2"));
    EXPECT_EQ(contents(), "[Main]\nA=1\nB=2");
    EXPECT_TRUE(write("Other", "C", "3"));
    EXPECT_EQ(contents(), "[Main]\nA=1\nB=2\n[Other]\nC=3\n");
}

TEST_F(ProfileWrite, NullKeyRemovesTheWholeSectionEverywhere)
{
    profileWith("[Main]\nA=1\nB=2\n\n[Other]\nC=3\n\n[MAIN]\nD=4\n");
    EXPECT_TRUE(write("main", nullptr, nullptr));
    EXPECT_EQ(contents(), "[Other]\nC=3\n");
    EXPECT_EQ(profileString(path, "Main", "A", "gone"), "gone");
}

TEST_F(ProfileWrite, NullValueRemovesTheKeyOnly)
{
    profileWith("[Main]\nA=1\nKey=2\nkey=3\nB=4\n");
    EXPECT_TRUE(write("Main", "KEY", nullptr));
    EXPECT_EQ(contents(), "[Main]\nA=1\nB=4\n");
}

TEST_F(ProfileWrite, RemovingFromAMissingFileCreatesNothing)
{
    EXPECT_TRUE(write("Main", nullptr, nullptr));
    EXPECT_TRUE(write("Main", "Key", nullptr));
    EXPECT_TRUE(directory.entries().empty());
}

TEST_F(ProfileWrite, UnchangedValueLeavesTheFileAlone)
{
    profileWith("[Main]\nKey = same\n");
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    EXPECT_TRUE(write("Main", "Key", "same"));
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(contents(), "[Main]\nKey = same\n");
}

TEST_F(ProfileWrite, TextsThatWouldBreakTheFileStructureAreRefused)
{
    profileWith("[Main]\nA=1\n");
    const char* refused[][3] = {
        {"Main", "Key", "two\nlines"}, {"Main", "Key", "carriage\rreturn"}, {"Main", "a=b", "v"},
        {"Main", "[Key", "v"},          {"Ma]in", "Key", "v"},               {"Ma\nin", nullptr, nullptr},
        {"Main", "Ke\ny", nullptr},
    };
    for (const auto& request : refused) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(write(request[0], request[1], request[2])) << request[0] << " " << request[1];
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(contents(), "[Main]\nA=1\n");
}

TEST_F(ProfileWrite, NullSectionIsRefused)
{
    EXPECT_FALSE(write(nullptr, "Key", "v"));
    EXPECT_FALSE(write(nullptr, nullptr, nullptr));
    EXPECT_TRUE(directory.entries().empty());
}

TEST_F(ProfileWrite, MissingDirectoryFailsWithPathNotFound)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WritePrivateProfileStringA("Main", "Key", "v", directory.file("none/test.ini").c_str()));
    EXPECT_EQ(GetLastError(), 3u);
}

TEST_F(ProfileWrite, ReadOnlyFileIsNotReplaced)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser may write any file";
    profileWith("[Main]\nA=1\n");
    chmod(path.c_str(), 0444);
    EXPECT_FALSE(write("Main", "A", "2"));
    EXPECT_EQ(GetLastError(), 5u);
    EXPECT_EQ(contents(), "[Main]\nA=1\n");
}

TEST_F(ProfileWrite, FailedWriteLeavesTheOldFileWholeAndNoTemporaryFile)
{
    const std::string before = "[Main]\nA=" + std::string(3000, 'a') + "\n";
    profileWith(before);
    const std::string bigger(8000, 'b');
    // A file size limit makes the write of the replacement fail part way.
    const int status = inChildProcess([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        return !write("Main", "A", bigger.c_str());
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"test.ini"});
}

TEST_F(ProfileWrite, ReplacingKeepsTheFileModeAndLeavesNoTemporaryFile)
{
    profileWith("[Main]\nA=1\n");
    chmod(path.c_str(), 0640);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(write("Main", ("K" + std::to_string(i)).c_str(), "v"));
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"test.ini"});
}

TEST_F(ProfileWrite, LinkToAProfileStaysALink)
{
    const std::string target = directory.file("target.ini");
    writeBytes(target, "[Main]\nA=1\n");
    std::filesystem::create_symlink(target, path);
    EXPECT_TRUE(write("Main", "A", "2"));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(readBytes(target), "[Main]\nA=2\n");
}

TEST_F(ProfileWrite, WindowsPathWritesUnderTheDriveDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_C", directory.path());
    EXPECT_TRUE(WritePrivateProfileStringA("Main", "Key", "v", "C:\\test.ini"));
    EXPECT_EQ(contents(), "[Main]\r\nKey=v\r\n");
}

TEST_F(ProfileWrite, MegabyteValueRoundTrips)
{
    const std::string huge(1 << 20, 'h');
    EXPECT_TRUE(write("Main", "Big", huge.c_str()));
    EXPECT_TRUE(write("Main", "After", "1"));
    EXPECT_EQ(profileString(path, "Main", "Big", "", (1 << 20) + 1), huge);
    EXPECT_EQ(profileString(path, "Main", "After"), "1");
}

TEST_F(ProfileWrite, GarbageAroundTheSectionIsKept)
{
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += static_cast<char>((i * 31 + 7) % 256);
    const std::string before = garbage + "\n[Main]\nA=1\n";
    profileWith(before);
    EXPECT_TRUE(write("Main", "A", "2"));
    EXPECT_EQ(contents(), garbage + "\n[Main]\nA=2\n");
}

TEST_F(ProfileWrite, KeyGoesIntoTheRightOneOfThousandsOfSections)
{
    std::string bytes;
    for (int i = 0; i < 3000; ++i)
        bytes += "[S" + std::to_string(i) + "]\nKey=" + std::to_string(i) + "\n\n";
    profileWith(bytes);
    EXPECT_TRUE(write("S1500", "Extra", "x"));
    EXPECT_EQ(profileString(path, "S1500", "Extra"), "x");
    EXPECT_EQ(profileString(path, "S1501", "Extra", "none"), "none");
    EXPECT_EQ(profileString(path, "S2999", "Key"), "2999");
    EXPECT_EQ(contents().size(), bytes.size() + std::string("Extra=x\n").size());
}

TEST_F(ProfileWrite, SectionEngineFormatStaysReadableAfterWrites)
{
    // "[Section]", "key=value" and a blank line before each further section.
    profileWith("[Alpha]\nA=1\nB=2\n\n[Beta]\nC=3\n");
    EXPECT_TRUE(write("Beta", "D", "4"));
    EXPECT_TRUE(write("Gamma", "E", "5"));
    EXPECT_EQ(contents(), "[Alpha]\nA=1\nB=2\n\n[Beta]\nC=3\nD=4\n[Gamma]\nE=5\n");
}
