/*
 * Damaged and hostile INI files: each gives a sensible result or a default,
 * and a rewrite loses nothing outside the section it replaces.
 */
#include "configTestSupport.h"

#include <rkConfig.h>

#include <random>

namespace {

std::string randomBytes(size_t count)
{
    std::mt19937 generator(12345);
    std::string bytes(count, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

} // namespace

class BadInput : public IniFileTest
{
protected:
    BadInput() : IniFileTest("bad.ini") {}
};

TEST_F(BadInput, NulBytesEndNamesAndValuesButStayInTheFile)
{
    const std::string file("[Main]\nA=x\0y\n[Ot\0her]\nB=1\n", 26);
    writeFile(iniFile, file);
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "x"}}));
    EXPECT_EQ(listAll(), (SectionList{"Main", "Ot"}));
    writeSection(iniFile, "Main", SettingsMap{{"A", "z"}});
    EXPECT_EQ(readFile(iniFile), std::string("[Main]\nA=z\n\n[Ot\0her]\nB=1\n", 25));
}

TEST_F(BadInput, BinaryGarbageIsReadWithoutHarmAndKeptByARewrite)
{
    const std::string garbage = randomBytes(200000);
    writeFile(iniFile, garbage);
    readMap("Main");
    listAll();
    rkConfig config("bad.ini", "Main");
    config.getString("k", "", false);
    writeSection(iniFile, "NotThere\x01", SettingsMap{{"k", "v"}});
    const std::string rewritten = readFile(iniFile);
    EXPECT_EQ(rewritten.substr(0, garbage.size()), garbage);
}

TEST_F(BadInput, MegabyteLinesAreWholeLines)
{
    const std::string longValue(1 << 20, 'v');
    const std::string trap = "k=" + std::string(1022, 'a') + "[Fake]" + std::string(40000, 'b') + "=x";
    writeFile(iniFile, "[Main]\nbig=" + longValue + "\n" + trap + "\n[Other]\no=" + longValue + "\n");
    const SettingsMap main = readMap("Main");
    ASSERT_EQ(main.size(), 2u);
    EXPECT_EQ(main.at("big"), longValue);
    EXPECT_EQ(main.at("k"), trap.substr(2));
    EXPECT_EQ(listAll(), (SectionList{"Main", "Other"}));
    writeSection(iniFile, "Main", SettingsMap{{"small", "1"}});
    EXPECT_EQ(readFile(iniFile), "[Main]\nsmall=1\n\n[Other]\no=" + longValue + "\n");
}

TEST_F(BadInput, LastLineWithoutLineEndIsRead)
{
    writeFile(iniFile, "[Main]\nA=1");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "1"}}));
    writeSection(iniFile, "Next", SettingsMap{{"B", "2"}});
    EXPECT_EQ(readFile(iniFile), "[Main]\nA=1\n[Next]\nB=2\n");
}

TEST_F(BadInput, CarriageReturnsAloneEndLines)
{
    writeFile(iniFile, "[A]\rk=1\r[B]\rm=2\r");
    EXPECT_EQ(readMap("A"), (SettingsMap{{"k", "1"}}));
    EXPECT_EQ(listAll(), (SectionList{"A", "B"}));
    writeSection(iniFile, "A", SettingsMap{{"k", "9"}});
    EXPECT_EQ(readFile(iniFile), "[A]\rk=9\r\r[B]\rm=2\r");
}

TEST_F(BadInput, HeaderWithoutClosingBracketEndsTheSectionButNamesNone)
{
    writeFile(iniFile, "[Main]\nA=1\n[Main\nB=2\n[Main]\nC=3\n");
    EXPECT_EQ(readMap("Main"), (SettingsMap{{"A", "1"}, {"C", "3"}}));
    EXPECT_EQ(listAll(), (SectionList{"Main", "Main"}));
    writeSection(iniFile, "Main", SettingsMap{});
    EXPECT_EQ(readFile(iniFile), "[Main]\n\n[Main\nB=2\n[Main]\n\n");
}

TEST_F(BadInput, ThousandsOfSections)
{
    std::string file;
    for (int i = 0; i < 5000; ++i)
        file += "[S" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
    writeFile(iniFile, file);
    EXPECT_EQ(listAll().size(), 5000u);
    EXPECT_EQ(readMap("s4999"), (SettingsMap{{"k", "4999"}}));
    writeSection(iniFile, "S2500", SettingsMap{{"k", "new"}});
    EXPECT_EQ(readMap("S2500"), (SettingsMap{{"k", "new"}}));
    EXPECT_EQ(readMap("S2501"), (SettingsMap{{"k", "2501"}}));
    EXPECT_EQ(listAll().size(), 5000u);
}

TEST_F(BadInput, EmptyFileGetsTheSectionAppended)
{
    writeFile(iniFile, "");
    EXPECT_TRUE(readMap("Main").empty());
    EXPECT_TRUE(listAll().empty());
    writeSection(iniFile, "Main", SettingsMap{{"a", "1"}});
    EXPECT_EQ(readFile(iniFile), "\r\n[Main]\r\na=1\r\n") << "CR LF, as on Windows, in a file without line ends";
}
