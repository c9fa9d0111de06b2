/*
 * WritePrivateProfileStringA against a table of writes: what the call
 * answers and what the profile functions read back afterwards, on the host's
 * own profile functions.
 */
#include "profileFiles.h"
#include "rkwin.h"
#include "testHost.h"

#include <vector>

namespace {

const char* const missing = "<missing>";

struct ReadBack {
    const char* section;
    const char* key;
    std::string expected; // missing: the key is not there
};

struct WriteCase {
    const char* name;
    const char* file; // null: the file does not exist
    const char* section;
    const char* key;
    const char* value;
    std::vector<ReadBack> readBacks;
};

void PrintTo(const WriteCase& c, std::ostream* out) { *out << c.name; }

const std::string longValue(2000, 'w');
const char* twoSections = "[Sec]\na=1\nb=2\n[Other]\nc=3\n";

const std::vector<WriteCase> writeCases = {
    {"CreatesFileSectionAndKey", nullptr, "Sec", "key", "value", {{"Sec", "key", "value"}}},
    {"AddsKeyToItsSection", twoSections, "Sec", "new", "4",
     {{"Sec", "new", "4"}, {"Sec", "a", "1"}, {"Other", "c", "3"}, {"Other", "new", missing}}},
    {"AddsSection", twoSections, "Third", "d", "5", {{"Third", "d", "5"}, {"Sec", "b", "2"}, {"Other", "c", "3"}}},
    {"ReplacesKeyInOtherCase", twoSections, "SEC", "A", "changed",
     {{"Sec", "a", "changed"}, {"Sec", "b", "2"}}},
    {"NullValueRemovesKey", twoSections, "Sec", "a", nullptr,
     {{"Sec", "a", missing}, {"Sec", "b", "2"}, {"Other", "c", "3"}}},
    {"NullKeyRemovesSection", twoSections, "sec", nullptr, nullptr,
     {{"Sec", "a", missing}, {"Sec", "b", missing}, {"Other", "c", "3"}}},
    {"NullKeyOnMissingSection", twoSections, "Nowhere", nullptr, nullptr, {{"Sec", "a", "1"}, {"Other", "c", "3"}}},
    {"EmptyValueIsStored", nullptr, "Sec", "key", "", {{"Sec", "key", ""}}},
    {"BlanksOfValueNotReadBack", nullptr, "Sec", "key", "  v  ", {{"Sec", "key", "v"}}},
    {"QuotesOfValueNotReadBack", nullptr, "Sec", "key", "\"q\"", {{"Sec", "key", "q"}}},
    {"LongValueReadsCut", nullptr, "Sec", "key", longValue.c_str(), {{"Sec", "key", std::string(1023, 'w')}}},
    {"CrLfFileStaysReadable", "[Sec]\r\na=1\r\n[Other]\r\nc=3\r\n", "Sec", "b", "2",
     {{"Sec", "a", "1"}, {"Sec", "b", "2"}, {"Other", "c", "3"}}},
    {"FileWithoutFinalLineEnd", "[Sec]\na=1", "Sec", "b", "2", {{"Sec", "a", "1"}, {"Sec", "b", "2"}}},
    {"FindsASectionWithBlanksInsideItsBrackets", "[ Sec ]\na=1\n", "Sec", "b", "2",
     {{"Sec", "a", "1"}, {"Sec", "b", "2"}}},
    {"ReplacesAKeyWithBlanksAroundIt", "[Sec]\n  a  =  1  \nb=2\n", "Sec", "a", "3",
     {{"Sec", "a", "3"}, {"Sec", "b", "2"}}},
};

std::string readBack(const ReadBack& r, const std::string& path) {
    char buffer[1024];
    GetPrivateProfileStringA(r.section, r.key, missing, buffer, sizeof buffer, path.c_str());
    return buffer;
}

class ProfileWrite : public ProfileFiles, public testing::WithParamInterface<WriteCase> {};

TEST_P(ProfileWrite, ReadsBackTheSystemsAnswers) {
    const WriteCase& c = GetParam();
    std::string path = c.file ? fileWith(c.file) : missingFile();

    EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, path.c_str()));

    for (const ReadBack& r : c.readBacks)
        EXPECT_EQ(r.expected, readBack(r, path)) << "[" << r.section << "] " << r.key << "\n" << bytesOf(path);
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileWrite, testing::ValuesIn(writeCases),
                         [](const testing::TestParamInfo<WriteCase>& info) { return info.param.name; });

using ProfileWriteFile = ProfileFiles;

TEST_F(ProfileWriteFile, ReplacingAKeyLeavesOneKeyOfThatName)
{
    std::string path = fileWith("[Sec]\r\n  Key  =  1  \r\nother=2\r\n");
    char keys[64] = {};

    WritePrivateProfileStringA("SEC", "key", "3", path.c_str());

    DWORD count = GetPrivateProfileStringA("Sec", nullptr, "", keys, sizeof keys, path.c_str());
    EXPECT_EQ(std::string("Key\0other\0", 10), std::string(keys, count));
}

// Files are shared between hosts, so a sequence of writes must leave the
// bytes Windows leaves: CR LF in a new file, the file's own line ends in an
// old one, no blank line before a new section and none left by a deletion.
struct Write {
    const char* section;
    const char* key;
    const char* value;
};

struct BytesCase {
    const char* name;
    const char* file; // null: the file does not exist
    std::vector<Write> writes;
    std::string expected;
    bool wineWritesCrLf; // Wine rewrites every line end; Windows keeps the file's own
};

void PrintTo(const BytesCase& c, std::ostream* out) { *out << c.name; }

const char* const threeApps = "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n"
                              "[App2]\r\nkey4=string4\r\n[App3]\r\nkey5=string5\r\n";
const char* const blankBetween = "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n";

const std::vector<BytesCase> bytesCases = {
    {"NewFileGetsCrLf", nullptr, {{"App", "key", ""}}, "[App]\r\nkey=\r\n", false},
    {"SectionsFollowWithoutBlankLines", nullptr,
     {{"App1", "key1", "string1"}, {"App1", "key2", "string2"}, {"App1", "key3", "string3"},
      {"App2", "key4", "string4"}, {"App3", "key5", "string5"}},
     threeApps, false},
    {"DeletedKeyLeavesNoBlankLine", threeApps, {{"App2", "key4", nullptr}},
     "[App1]\r\nkey1=string1\r\nkey2=string2\r\nkey3=string3\r\n[App2]\r\n[App3]\r\nkey5=string5\r\n", false},
    {"DeletedLastSectionLeavesNoBlankLine", blankBetween, {{"B", nullptr, nullptr}}, "[A]\r\na=1\r\n", false},
    {"DeletedSectionTakesItsBlankLine", blankBetween, {{"A", nullptr, nullptr}}, "[B]\r\nb=2\r\n", false},
    {"NewKeyGoesToTheEndOfItsSection", "[A]\r\na=1\r\n[B]\r\nb=2\r\n", {{"A", "x", "9"}},
     "[A]\r\na=1\r\nx=9\r\n[B]\r\nb=2\r\n", false},
    {"TextBeforeTheFirstSectionIsKept", "junk\r\n", {{"App", "k", "v"}}, "junk\r\n[App]\r\nk=v\r\n", false},
    {"LastLineGetsItsLineEnd", "[Sec]\r\na=1", {{"New", "k", "v"}}, "[Sec]\r\na=1\r\n[New]\r\nk=v\r\n", false},
    {"LfFileGetsLfLines", "[Sec]\na=1\n", {{"Sec", "b", "2"}, {"New", "k", "v"}}, "[Sec]\na=1\nb=2\n[New]\nk=v\n",
     true},
};

class ProfileWriteBytes : public ProfileFiles, public testing::WithParamInterface<BytesCase> {};

TEST_P(ProfileWriteBytes, LeaveTheBytesWindowsLeaves) {
    const BytesCase& c = GetParam();
    std::string path = c.file ? fileWith(c.file) : missingFile();

    for (const Write& w : c.writes)
        EXPECT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value, path.c_str()));

    if (c.wineWritesCrLf && runningOnWine())
        GTEST_SKIP() << "Wine writes every line with CR LF";
    EXPECT_EQ(c.expected, bytesOf(path));
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileWriteBytes, testing::ValuesIn(bytesCases),
                         [](const testing::TestParamInfo<BytesCase>& info) { return info.param.name; });

// Without a file name the profile functions use win.ini in the Windows
// directory, whose first section name is no number.
TEST_F(ProfileWriteFile, WithoutAFileNameUsesWinIni) {
    if (!borrowWindowsDirectory())
        GTEST_SKIP() << "the Windows directory belongs to the machine on this host";

    EXPECT_TRUE(WritePrivateProfileStringA("rkProfileTest", "key", "7", nullptr));

    EXPECT_EQ(7u, GetPrivateProfileIntA("rkProfileTest", "key", 0, "win.ini"));
    EXPECT_EQ(0u, GetPrivateProfileIntA(nullptr, nullptr, 70, nullptr));
    EXPECT_TRUE(WritePrivateProfileStringA("rkProfileTest", nullptr, nullptr, nullptr));
    EXPECT_EQ(3u, GetPrivateProfileIntA("rkProfileTest", "key", 3, nullptr));
}

using ProfileWriteFailure = ProfileFiles;

TEST_F(ProfileWriteFailure, IntoMissingDirectoryAnswersFalseAndCreatesNothing) {
    std::string path = missingFile() + "/inner/file.ini";

    EXPECT_FALSE(WritePrivateProfileStringA("Sec", "key", "value", path.c_str()));
    EXPECT_EQ(missing, bytesOf(path));
}

TEST_F(ProfileWriteFailure, WithoutASectionIsFileNotFound) {
    std::string path = missingFile();

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "string", path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(missing, bytesOf(path));
}

TEST_F(ProfileWriteFailure, OfNullKeyToMissingFileCreatesNothing) {
    std::string path = missingFile();

    WritePrivateProfileStringA("Sec", nullptr, nullptr, path.c_str());

    EXPECT_EQ(missing, bytesOf(path));
}

} // namespace
