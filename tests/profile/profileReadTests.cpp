/*
 * GetPrivateProfileStringA against a table of files and the answers the
 * system's own profile functions give for them. The configuration library
 * depends on these answers on both hosts.
 */
#include "profileFiles.h"
#include "rkwin.h"

#include <vector>

namespace {

struct ReadCase {
    const char* name;
    const char* file; // null: the file does not exist
    const char* section;
    const char* key;
    const char* defaultValue;
    DWORD size;
    std::string expected; // the buffer's first count characters
    DWORD expectedCount;
};

void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

std::string text(std::size_t length, char c) { return std::string(length, c); }

const std::string longValue = text(2000, 'v');
const std::string fullValue = text(1023, 'f');
const std::string longFile = "[Sec]\nkey=" + longValue + "\n";
const std::string fullFile = "[Sec]\nkey=" + fullValue + "\n";
const char* simple = "[Sec]\nkey=value\n";
const char* twoSections = "[Sec]\na=1\nB=2\n[Other]\nc=3\n";

const std::vector<ReadCase> readCases = {
    {"ExactNames", simple, "Sec", "key", "dflt", 64, "value", 5},
    {"SectionNameInOtherCase", simple, "sEC", "key", "dflt", 64, "value", 5},
    {"KeyNameInOtherCase", simple, "Sec", "KEY", "dflt", 64, "value", 5},
    {"BlanksAroundKeyAndValue", "[Sec]\n  key  =  value  \n", "Sec", "key", "dflt", 64, "value", 5},
    {"TabsAroundValue", "[Sec]\nkey=\tvalue\t\n", "Sec", "key", "dflt", 64, "value", 5},
    {"BlanksInsideValueKept", "[Sec]\nkey=a  b\n", "Sec", "key", "dflt", 64, "a  b", 4},
    {"BlanksInsideSectionBrackets", "[ Sec ]\nkey=value\n", "Sec", "key", "dflt", 64, "value", 5},
    {"BlanksBeforeSectionHeader", "  [Sec]\nkey=value\n", "Sec", "key", "dflt", 64, "value", 5},
    {"KeyWithInnerBlank", "[Sec]\nmy key=v\n", "Sec", "my key", "dflt", 64, "v", 1},
    {"ValueHoldingEquals", "[Sec]\nkey=a=b\n", "Sec", "key", "dflt", 64, "a=b", 3},
    {"DoubleQuotesStripped", "[Sec]\nkey=\"quoted value\"\n", "Sec", "key", "dflt", 64, "quoted value", 12},
    {"SingleQuotesStripped", "[Sec]\nkey='single'\n", "Sec", "key", "dflt", 64, "single", 6},
    {"QuotesKeepInnerBlanks", "[Sec]\nkey=\"  padded  \"\n", "Sec", "key", "dflt", 64, "  padded  ", 10},
    {"UnmatchedQuoteKept", "[Sec]\nkey=\"open\n", "Sec", "key", "dflt", 64, "\"open", 5},
    {"MixedQuotesKept", "[Sec]\nkey=\"mixed'\n", "Sec", "key", "dflt", 64, "\"mixed'", 7},
    {"InnerQuotesKept", "[Sec]\nkey=a \"b\" c\n", "Sec", "key", "dflt", 64, "a \"b\" c", 7},
    {"MissingFile", nullptr, "Sec", "key", "dflt", 64, "dflt", 4},
    {"MissingSection", "[Other]\nkey=value\n", "Sec", "key", "dflt", 64, "dflt", 4},
    {"MissingKey", simple, "Sec", "other", "dflt", 64, "dflt", 4},
    {"KeyOfAnotherSectionIsMissing", twoSections, "Other", "a", "dflt", 64, "dflt", 4},
    {"EmptyValueIsNotMissing", "[Sec]\nkey=\n", "Sec", "key", "dflt", 64, "", 0},
    {"NullDefaultGivesEmptyText", simple, "Sec", "other", nullptr, 64, "", 0},
    {"DefaultLosesTrailingBlanks", simple, "Sec", "other", "dflt  ", 64, "dflt", 4},
    {"DefaultCutToBuffer", simple, "Sec", "other", "default", 4, "def", 3},
    {"ValueCutToBuffer", simple, "Sec", "key", "dflt", 4, "val", 3},
    {"LongValueCutTo1023", longFile.c_str(), "Sec", "key", "dflt", 1024, text(1023, 'v'), 1023},
    {"ValueOf1023Whole", fullFile.c_str(), "Sec", "key", "dflt", 1024, fullValue, 1023},
    {"CrLfLineEnds", "[Sec]\r\nkey=value\r\nnext=2\r\n", "Sec", "key", "dflt", 64, "value", 5},
    {"CrLfLastKey", "[Sec]\r\nkey=value\r\nnext=2\r\n", "Sec", "next", "dflt", 64, "2", 1},
    {"NoFinalLineEnd", "[Sec]\nkey=value", "Sec", "key", "dflt", 64, "value", 5},
    {"FirstOfDuplicateKeys", "[Sec]\nkey=first\nkey=second\n", "Sec", "key", "dflt", 64, "first", 5},
    {"KeyListOfSection", twoSections, "Sec", nullptr, "dflt", 64, std::string("a\0B\0", 4), 4},
    {"KeyListCutToBuffer", twoSections, "Sec", nullptr, "dflt", 4, std::string("a\0", 2), 2},
    {"SectionList", twoSections, nullptr, nullptr, "dflt", 64, std::string("Sec\0Other\0", 10), 10},
    {"RemarkKeyLeftOutOfKeyList", "[Sec]\n;note=1\na=2\n", "Sec", nullptr, "dflt", 64, std::string("a\0", 2), 2},
    {"RemarkKeyReadByName", "[Sec]\n;note=1\n", "Sec", ";note", "dflt", 64, "1", 1},
    {"LineWithoutEqualsLeftOutOfKeyList", "[Sec]\nbare\na=1\n", "Sec", nullptr, "dflt", 64, std::string("a\0", 2), 2},
    {"LineWithoutEqualsIsNoKey", "[Sec]\nbare\n", "Sec", "bare", "dflt", 64, "dflt", 4},
    {"KeyListOfMissingSectionIsTheDefault", twoSections, "Nowhere", nullptr, "dflt", 64, "dflt", 4},
};

class ProfileStringRead : public ProfileFiles, public testing::WithParamInterface<ReadCase> {};

TEST_P(ProfileStringRead, GivesTheSystemsAnswer) {
    const ReadCase& c = GetParam();
    std::string path = c.file ? fileWith(c.file) : missingFile();
    std::vector<char> buffer(c.size + 8, '#');

    DWORD count = GetPrivateProfileStringA(c.section, c.key, c.defaultValue, buffer.data(), c.size,
                                           path.c_str());

    EXPECT_EQ(c.expectedCount, count);
    ASSERT_LT(count, c.size);
    EXPECT_EQ(c.expected, std::string(buffer.data(), count));
    EXPECT_EQ('\0', buffer[count]) << "the text is terminated";
    EXPECT_EQ('#', buffer[c.size]) << "nothing is written past the buffer";
}

INSTANTIATE_TEST_SUITE_P(Table, ProfileStringRead, testing::ValuesIn(readCases),
                         [](const testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

} // namespace
