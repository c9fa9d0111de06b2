#include "configTestSupport.h"

#include <rkConfig.h>

class SettingsFiles : public ConfigTest
{
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        useFlatLayout();
        appFile = windowsDirectory + "\\app.ini";
    }

    std::string appFile;
};

TEST_F(SettingsFiles, StringReadWithWriteBackCreatesTheMissingKey)
{
    EXPECT_EQ(getConfigString("app.ini", "Main", "Name", "dflt", true), "dflt");
    ASSERT_TRUE(fileExists(appFile));
    setConfigString("app.ini", "Main", "Other", "x");
    EXPECT_EQ(getConfigString("app.ini", "Main", "Name", "none", false), "dflt");
}

TEST_F(SettingsFiles, StringWriteBackLeavesADifferentStoredValue)
{
    writeFile(appFile, "[Main]\nName=stored\n");
    EXPECT_EQ(getConfigString("app.ini", "Main", "Name", "dflt", true), "stored");
    EXPECT_EQ(readFile(appFile), "[Main]\nName=stored\n");
}

TEST_F(SettingsFiles, StringReadWithoutWriteBackNeverWrites)
{
    EXPECT_EQ(getConfigString("app.ini", "Main", "Name", "dflt", false), "dflt");
    EXPECT_FALSE(fileExists(appFile));
    EXPECT_EQ(getDeviceString(4, "Main", "Name", "d4", false), "d4");
    EXPECT_FALSE(fileExists(windowsDirectory + "\\dev_004.ini"));
}

TEST_F(SettingsFiles, KeysAndSectionsMatchWithoutRegardToCase)
{
    writeFile(appFile, "[MAIN]\nNAME = Value \n");
    EXPECT_EQ(getConfigString("app.ini", "main", "name", "dflt", true), "Value");
    EXPECT_EQ(getConfigInt("app.ini", "Main", "Missing", 3, false), 3);
}

TEST_F(SettingsFiles, LongStoredValueIsCutTo1023Characters)
{
    writeFile(appFile, "[Main]\nName=" + std::string(5000, 'v') + "\n");
    EXPECT_EQ(getConfigString("app.ini", "Main", "Name", "", false), std::string(1023, 'v'));
}

TEST_F(SettingsFiles, IntReadWithWriteBackWritesTheDefault)
{
    EXPECT_EQ(getConfigInt("app.ini", "Main", "Count", 10, true), 10);
    EXPECT_EQ(getConfigString("app.ini", "Main", "Count", "", false), "10");
}

TEST_F(SettingsFiles, IntWriteBackRewritesTextThatReadsAsTheDefault)
{
    writeFile(appFile, "[Main]\nCount=007\n");
    EXPECT_EQ(getConfigInt("app.ini", "Main", "Count", 7, true), 7);
    EXPECT_EQ(getConfigString("app.ini", "Main", "Count", "", false), "7");
}

TEST_F(SettingsFiles, DeviceFileFollowsTheLayoutOfEachCall)
{
    writeFile(windowsDirectory + "\\dev_005.ini", "[Main]\nSpeed=1\n");
    writeFile(rootedConfig + "\\system\\dev_005.ini", "[Main]\nSpeed=2\n");
    EXPECT_EQ(getDeviceInt(5, "Main", "Speed", 0, false), 1);
    useRootedLayout();
    EXPECT_EQ(getDeviceInt(5, "Main", "Speed", 0, false), 2);
    setDeviceString(5, "Main", "Speed", "3");
    EXPECT_EQ(getDeviceString(5, "Main", "Speed", "", false), "3");
    EXPECT_EQ(getDeviceInt(5, "Main", "Speed", 0, false), 3);
}

TEST_F(SettingsFiles, DeleteSectionRemovesAllItsKeysOnly)
{
    writeFile(appFile, "[Main]\nA=1\nB=2\n[Other]\nC=3\n");
    deleteConfigSection("app.ini", "main");
    EXPECT_EQ(getConfigString("app.ini", "Main", "A", "gone", false), "gone");
    EXPECT_EQ(getConfigString("app.ini", "Main", "B", "gone", false), "gone");
    EXPECT_EQ(getConfigString("app.ini", "Other", "C", "gone", false), "3");
}
