#include "configTestSupport.h"

#include <rkConfig.h>

#include <climits>

class Workstation : public ConfigTest
{
protected:
    std::string rootedFile(const std::string& name) const { return rootedConfig + "\\" + name; }
};

TEST_F(Workstation, EnvironmentValueIsConvertedFromLeadingDigits)
{
    useRootedLayout();
    setEnv("RK_WORKSTATION", "12abc");
    EXPECT_EQ(getWorkstation(), 12);
    setEnv("RK_WORKSTATION", "  +42");
    EXPECT_EQ(getWorkstation(), 42);
}

TEST_F(Workstation, SetEnvironmentValueEndsTheSearchEvenWhenNotANumber)
{
    useRootedLayout();
    writeFile(rootedFile("kiv.ini"), "[Network]\nWorkstation=5\n");
    setEnv("RK_WORKSTATION", "abc");
    EXPECT_EQ(getWorkstation(), 0);
    setEnv("RK_WORKSTATION", "-3");
    EXPECT_EQ(getWorkstation(), -3);
}

TEST_F(Workstation, EnvironmentValueOutOfRangeSaturates)
{
    useRootedLayout();
    setEnv("RK_WORKSTATION", std::string(10240, '9'));
    EXPECT_EQ(getWorkstation(), INT_MAX);
    setEnv("RK_WORKSTATION", "-" + std::string(10240, '9'));
    EXPECT_EQ(getWorkstation(), INT_MIN);
}

TEST_F(Workstation, EnvironmentValueIsIgnoredInFlatLayout)
{
    useFlatLayout();
    setEnv("RK_ROOT", place("root"));
    setEnv("RK_SYSTEM", "");
    setEnv("RK_WORKSTATION", "7");
    writeFile(windowsDirectory + "\\kiv.ini", "[Network]\nWorkstation=4\n");
    EXPECT_EQ(getWorkstation(), 4);
}

TEST_F(Workstation, SystemFileLiesUnderConfigTwice)
{
    useRootedLayout();
    writeFile(rootedFile("config\\system\\telm_system.ini"), "[Network]\nWorkstation=21\n");
    writeFile(rootedFile("kiv.ini"), "[Network]\nWorkstation=5\n");
    EXPECT_EQ(getWorkstation(), 21);
}

TEST_F(Workstation, HubFileAnswersWhenSystemFileIsMissing)
{
    useRootedLayout();
    writeFile(rootedFile("system\\telm_system.ini"), "[Network]\nWorkstation=21\n");
    writeFile(rootedFile("kiv.ini"), "[Network]\nWorkstation=5\n");
    EXPECT_EQ(getWorkstation(), 5);
}

TEST_F(Workstation, OstrelFileAnswersAfterZeroInHubFile)
{
    useRootedLayout();
    writeFile(rootedFile("kiv.ini"), "[Network]\nWorkstation=0\n");
    writeFile(rootedFile("ostrel.ini"), "[System]\nWorkstation=9\n");
    EXPECT_EQ(getWorkstation(), 9);
}

TEST_F(Workstation, NothingConfiguredGivesZeroAndWritesNothing)
{
    useRootedLayout();
    const auto before = treeEntries();
    EXPECT_EQ(getWorkstation(), 0);
    EXPECT_EQ(treeEntries(), before);
}

TEST_F(Workstation, FlatLayoutReadsHubAndOstrelFilesInWindowsDirectory)
{
    useFlatLayout();
    writeFile(windowsDirectory + "\\ostrel.ini", "[System]\nWorkstation=0033\n");
    EXPECT_EQ(getWorkstation(), 33);
    writeFile(windowsDirectory + "\\kiv.ini", "[network]\nworkstation=8\n");
    EXPECT_EQ(getWorkstation(), 8);
}
