/*
 * WritePrivateProfileStringA against a table of writes: what the call
 * answers and what the profile functions read back afterwards, on the host's
 * own profile functions.
 */
#include "profileFiles.h"
#include "rkwin.h"

#include <algorithm>
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

// The INI engine reads what the profile functions write: plain lines.
TEST_F(ProfileWriteFile, CreatedFileHoldsPlainSectionAndKeyLines) {
    std::string path = missingFile();

    WritePrivateProfileStringA("Sec", "key", "value", path.c_str());

    std::string lines = bytesOf(path);
    lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
    EXPECT_EQ("[Sec]\nkey=value\n", lines);
}

using ProfileWriteFailure = ProfileFiles;

TEST_F(ProfileWriteFailure, IntoMissingDirectoryAnswersFalseAndCreatesNothing) {
    std::string path = missingFile() + "/inner/file.ini";

    EXPECT_FALSE(WritePrivateProfileStringA("Sec", "key", "value", path.c_str()));
    EXPECT_EQ(missing, bytesOf(path));
}

TEST_F(ProfileWriteFailure, OfNullKeyToMissingFileCreatesNothing) {
    std::string path = missingFile();

    WritePrivateProfileStringA("Sec", nullptr, nullptr, path.c_str());

    EXPECT_EQ(missing, bytesOf(path));
}

} // namespace
