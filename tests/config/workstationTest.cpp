#include "configTestSupport.h"

#include <rkConfig.h>

#include <climits>

namespace {

const char* const hubFile = "C:\\root\\sys1\\config\\kiv.ini";

} // namespace

using Workstation = ConfigTest;

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
    writeFile(hubFile, "[Network]\nWorkstation=5\n");
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
    setEnv("RK_ROOT", "C:\\root");
    setEnv("RK_SYSTEM", "");
    setEnv("RK_WORKSTATION", "7");
    writeFile("C:\\Windows\\kiv.ini", "[Network]\nWorkstation=4\n");
    EXPECT_EQ(getWorkstation(), 4);
}

TEST_F(Workstation, SystemFileLiesUnderConfigTwice)
{
    useRootedLayout();
    writeFile("C:\\root\\sys1\\config\\config\\system\\telm_system.ini", "[Network]\nWorkstation=21\n");
    writeFile(hubFile, "[Network]\nWorkstation=5\n");
    EXPECT_EQ(getWorkstation(), 21);
}

TEST_F(Workstation, HubFileAnswersWhenSystemFileIsMissing)
{
    useRootedLayout();
    writeFile("C:\\root\\sys1\\config\\system\\telm_system.ini", "[Network]\nWorkstation=21\n");
    writeFile(hubFile, "[Network]\nWorkstation=5\n");
    EXPECT_EQ(getWorkstation(), 5);
}

TEST_F(Workstation, OstrelFileAnswersAfterZeroInHubFile)
{
    useRootedLayout();
    writeFile(hubFile, "[Network]\nWorkstation=0\n");
    writeFile("C:\\root\\sys1\\config\\ostrel.ini", "[System]\nWorkstation=9\n");
    EXPECT_EQ(getWorkstation(), 9);
}

TEST_F(Workstation, NothingConfiguredGivesZeroAndWritesNothing)
{
    useRootedLayout();
    const auto before = treeEntries();
    EXPECT_EQ(getWorkstation(), 0);
    EXPECT_EQ(treeEntries(), before);
}

TEST_F(Workstation, FlatLayoutReadsHubFileInConfigPathDirectory)
{
    writeFile("c:\\telm_config.ini", "[Config]\nConfigPath=D:\\cfg\n");
    writeFile("D:\\cfg\\ostrel.ini", "[System]\nWorkstation=0033\n");
    EXPECT_EQ(getWorkstation(), 33);
    writeFile("D:\\cfg\\kiv.ini", "[network]\nworkstation=8\n");
    EXPECT_EQ(getWorkstation(), 8);
}
