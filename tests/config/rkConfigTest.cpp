#include "configTestSupport.h"

#include <rkConfig.h>
#include <rkhost.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const char* const notice =
    "rkConfig: Call to setStringEncrypted with no encryption compiler settings enabled";

void collectDebugText(const char* text, void* context)
{
    static_cast<std::vector<std::string>*>(context)->push_back(text);
}

} // namespace

class RkConfig : public ConfigTest
{
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        useFlatLayout();
        appFile = windowsDirectory + "\\app.ini";
    }

    std::string storedValue(const std::string& key)
    {
        return getConfigString("app.ini", "Main", key, "<missing>", false);
    }

    std::string appFile;
};

TEST_F(RkConfig, CachesTheSectionAtConstruction)
{
    writeFile(appFile, "[Main]\nName=a\n[Other]\nName=b\n");
    rkConfig config("app.ini", "Main");
    writeFile(appFile, "[Main]\nName=changed\n");
    EXPECT_EQ(config.getString("Name", "dflt", false), "a");
}

TEST_F(RkConfig, FindsKeysWithoutRegardToCaseUpperCaseFirst)
{
    writeFile(appFile, "[Main]\nname=b\nName=a\n");
    rkConfig config("app.ini", "Main");
    const auto notCached = config.findKey("absent");
    ASSERT_NE(config.findKey("NAME"), notCached);
    EXPECT_EQ(config.findKey("NAME")->first, "Name");
    EXPECT_EQ(config.getString("nAmE", "", false), "a");
}

TEST_F(RkConfig, EmptyKeyGivesTheDefaultAndWritesNothing)
{
    writeFile(appFile, "[Main]\n=stored\n");
    rkConfig config("app.ini", "Main");
    EXPECT_EQ(config.getString("", "dflt", true), "dflt");
    EXPECT_EQ(readFile(appFile), "[Main]\n=stored\n");
    EXPECT_EQ(config.getInt("", 0, false), 0);
}

TEST_F(RkConfig, IntLookupConvertsLeadingDigitsAndAcceptsEmptyKey)
{
    writeFile(appFile, "[Main]\n=5\nA=12abc\nB=abc\nC= -3\n");
    rkConfig config("app.ini", "Main");
    EXPECT_EQ(config.getInt("", 0, false), 5);
    EXPECT_EQ(config.getInt("a", 0, false), 12);
    EXPECT_EQ(config.getInt("B", 7, false), 0);
    EXPECT_EQ(config.getInt("C", 0, false), -3);
}

TEST_F(RkConfig, WriteBackOfAMissingKeyWritesTheDefaultToTheFile)
{
    writeFile(appFile, "[Main]\nA=1\n");
    rkConfig config("app.ini", "Main");
    EXPECT_EQ(config.getString("S", "text", true), "text");
    EXPECT_EQ(config.getInt("N", 42, true), 42);
    EXPECT_EQ(config.getInt("A", 42, true), 1);
    EXPECT_EQ(storedValue("S"), "text");
    EXPECT_EQ(storedValue("N"), "42");
    EXPECT_EQ(storedValue("A"), "1");
}

TEST_F(RkConfig, WriteBackNeverOverwritesAValueTheProfileFunctionsFind)
{
    for (const std::string file : {"[Main]\n Name \t=  stored \n", "\xEF\xBB\xBF[Main]\nName=stored\n",
                                   "  [ main ] remark\r\nNAME=stored\r\n", "[Main]\rName=stored\x1a\r"}) {
        writeFile(appFile, file);
        rkConfig config("app.ini", "Main");
        EXPECT_EQ(config.getString("Name", "dflt", true), "stored") << file;
        EXPECT_EQ(storedValue("Name"), "stored") << file;
    }
}

/* The object finds a key under the names the profile write would take it by. */
TEST_F(RkConfig, WriteBackNeverOverwritesAValueAskedForWithBlanksAroundItsNames)
{
    const std::pair<const char*, const char*> names[] = {{"Main ", "Name"}, {"Main", " Name"}, {" main", "name "}};
    for (const auto& [section, key] : names) {
        writeFile(appFile, "[Main]\nName=12\n");
        rkConfig config("app.ini", section);
        EXPECT_EQ(config.getString(key, "dflt", true), "12") << "[" << section << "] " << key;
        EXPECT_EQ(config.getInt(key, 7, true), 12) << "[" << section << "] " << key;
        EXPECT_EQ(readFile(appFile), "[Main]\nName=12\n") << "[" << section << "] " << key;
    }
    rkConfig config("app.ini", "Main");
    config.setString(" New ", "set");
    EXPECT_EQ(config.getString("new", "dflt", true), "set");
    EXPECT_EQ(storedValue("New"), "set");
}

TEST_F(RkConfig, SetStringUpdatesTheCachedEntryAndTheFile)
{
    writeFile(appFile, "[Main]\nName=a\n");
    rkConfig config("app.ini", "Main");
    config.setString("NAME", "b");
    EXPECT_EQ(config.getString("Name", "", false), "b");
    ASSERT_NE(config.findKey("name"), config.findKey("absent"));
    EXPECT_EQ(config.findKey("name")->first, "Name");
    EXPECT_EQ(storedValue("Name"), "b");
}

TEST_F(RkConfig, SetStringAddsAnUncachedKeySoWriteBackKeepsIt)
{
    writeFile(appFile, "[Main]\n");
    rkConfig config("app.ini", "Main");
    config.setString("New", "set");
    EXPECT_EQ(config.getString("new", "dflt", true), "set");
    EXPECT_EQ(storedValue("New"), "set");
}

TEST_F(RkConfig, DeleteKeyRemovesTheKeyFromTheFileOnly)
{
    writeFile(appFile, "[Main]\nName=a\nOther=b\n");
    rkConfig config("app.ini", "Main");
    config.deleteKey("Name");
    EXPECT_EQ(storedValue("Name"), "<missing>");
    EXPECT_EQ(storedValue("Other"), "b");
    EXPECT_EQ(config.getString("Name", "", false), "a");
}

TEST_F(RkConfig, MissingFileGivesAnEmptyCacheButStaysBound)
{
    rkConfig config("app.ini", "Main");
    EXPECT_EQ(config.findKey("x"), config.findKey("y"));
    EXPECT_EQ(config.getString("x", "dflt", false), "dflt");
    config.setString("x", "1");
    EXPECT_EQ(storedValue("x"), "1");
}

TEST_F(RkConfig, DeviceObjectIsBoundToTheDeviceFileOfItsLayout)
{
    useRootedLayout();
    writeFile(rootedConfig + "\\system\\dev_000.ini", "[Main]\nA=1\n");
    rkConfig config(0, "Main");
    EXPECT_EQ(config.getInt("A", 0, false), 1);
    config.setString("B", "2");
    EXPECT_EQ(getDeviceString(0, "Main", "B", "", false), "2");
}

TEST_F(RkConfig, DefaultObjectWritesNothingAnywhere)
{
    const auto before = treeEntries();
    rkConfig config;
    EXPECT_EQ(config.getString("k", "dflt", true), "dflt");
    EXPECT_EQ(config.getInt("n", 3, true), 3);
    config.setString("k", "v");
    config.deleteKey("k");
    EXPECT_EQ(config.getString("k", "dflt", true), "v");
    EXPECT_EQ(treeEntries(), before);
}

TEST_F(RkConfig, EncryptedVariantsSendTheNoticeOncePerCall)
{
    writeFile(appFile, "[Main]\nA=1\n");
    rkConfig config("app.ini", "Main");
    std::vector<std::string> lines;
    rkSetDebugSink(collectDebugText, &lines);
    const std::string value = config.getStringEncrypted("A", "", false);
    config.setStringEncrypted("B", "2");
    rkSetDebugSink(nullptr, nullptr);
    EXPECT_EQ(value, "1");
    EXPECT_EQ(storedValue("B"), "2");
    EXPECT_EQ(lines, (std::vector<std::string>{notice, notice}));
}
