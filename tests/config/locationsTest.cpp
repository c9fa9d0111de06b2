#include "configTestSupport.h"

#include <rkConfig.h>

#include <climits>

using ConfigLocations = ConfigTest;

TEST_F(ConfigLocations, RootedLayoutNeedsBothRootAndSystemNonEmpty)
{
    EXPECT_FALSE(hasSystemEnvironment());
    setEnv("RK_ROOT", place("root"));
    EXPECT_FALSE(hasSystemEnvironment());
    setEnv("RK_SYSTEM", "");
    EXPECT_FALSE(hasSystemEnvironment());
    setEnv("RK_SYSTEM", "sys1");
    EXPECT_TRUE(hasSystemEnvironment());
    setEnv("RK_ROOT", "");
    EXPECT_FALSE(hasSystemEnvironment());
}

TEST_F(ConfigLocations, RootedLayoutPutsSettingsUnderRootAndSystem)
{
    setEnv("RK_ROOT", "C:\\root");
    setEnv("RK_SYSTEM", "sys1");
    EXPECT_EQ(getConfigRoot(), "C:\\root\\sys1\\config");
    EXPECT_EQ(getSystemRoot(), "C:\\root\\sys1");
    EXPECT_EQ(getConfigFilePath("kiv.ini"), "C:\\root\\sys1\\config\\kiv.ini");
    EXPECT_EQ(getConfigFilePath("a\\b.ini"), "C:\\root\\sys1\\config\\a\\b.ini");
    EXPECT_EQ(getDeviceFilePath(12), "C:\\root\\sys1\\config\\system\\dev_012.ini");
}

TEST_F(ConfigLocations, RootWithTrailingBackslashDoublesTheSeparator)
{
    setEnv("RK_ROOT", "C:\\root\\");
    setEnv("RK_SYSTEM", "sys1");
    EXPECT_EQ(getConfigRoot(), "C:\\root\\\\sys1\\config");
}

TEST_F(ConfigLocations, FlatLayoutWithoutFallbackFileUsesWindir)
{
    setEnv("WINDIR", "C:\\Win");
    EXPECT_FALSE(hasConfigPathFile());
    EXPECT_EQ(getConfigRoot(), "C:\\Win");
    EXPECT_EQ(getSystemRoot(), "");
    EXPECT_EQ(getConfigFilePath("kiv.ini"), "C:\\Win\\kiv.ini");
    EXPECT_EQ(getDeviceFilePath(3), "C:\\Win\\dev_003.ini");
}

TEST_F(ConfigLocations, FlatLayoutWithoutWindirUsesTheHostWindowsDirectory)
{
    EXPECT_EQ(getConfigRoot(), "C:\\Windows");
    setEnv("WINDIR", "");
    EXPECT_EQ(getConfigFilePath("kiv.ini"), "C:\\Windows\\kiv.ini");
}

TEST_F(ConfigLocations, FlatLayoutTakesConfigPathFromFallbackFile)
{
    SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE();
    writeFile("c:\\telm_config.ini", "[Config]\nConfigPath=D:\\cfg\n");
    EXPECT_TRUE(hasConfigPathFile());
    EXPECT_EQ(getConfigRoot(), "D:\\cfg");
    EXPECT_EQ(getDeviceFilePath(3), "D:\\cfg\\dev_003.ini");
}

TEST_F(ConfigLocations, ConfigPathIsUsedVerbatim)
{
    SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE();
    writeFile("c:\\telm_config.ini", "[config]\nconfigpath=D:\\cfg\\\n");
    EXPECT_EQ(getDeviceFilePath(3), "D:\\cfg\\\\dev_003.ini");
}

TEST_F(ConfigLocations, EmptyConfigPathFallsBackToWindir)
{
    SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE();
    writeFile("c:\\telm_config.ini", "[Config]\nConfigPath=\n");
    setEnv("WINDIR", "C:\\Win");
    EXPECT_FALSE(hasConfigPathFile());
    EXPECT_EQ(getConfigRoot(), "C:\\Win");
}

TEST_F(ConfigLocations, FallbackFileIsIgnoredInRootedLayout)
{
    SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE();
    writeFile("c:\\telm_config.ini", "[Config]\nConfigPath=D:\\cfg\n");
    useRootedLayout();
    EXPECT_FALSE(hasConfigPathFile());
    EXPECT_EQ(getConfigRoot(), rootedConfig);
}

TEST_F(ConfigLocations, LongConfigPathIsReadWhole)
{
    SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE();
    const std::string longPath = "D:\\" + std::string(1000, 'p');
    writeFile("c:\\telm_config.ini", "[Config]\nConfigPath=" + longPath + "\n");
    EXPECT_EQ(getConfigRoot(), longPath);
    EXPECT_EQ(getDeviceFilePath(1), longPath + "\\dev_001.ini");
}

TEST_F(ConfigLocations, TenKilobyteEnvironmentValuesGiveWholePaths)
{
    const std::string root(10240, 'r');
    const std::string system(10240, 's');
    setEnv("RK_ROOT", root);
    setEnv("RK_SYSTEM", system);
    EXPECT_EQ(getConfigRoot(), root + "\\" + system + "\\config");
    EXPECT_EQ(getDeviceFilePath(1), root + "\\" + system + "\\config\\system\\dev_001.ini");
    unsetEnv("RK_ROOT");
    setEnv("WINDIR", std::string(10240, 'w'));
    EXPECT_EQ(getConfigFilePath("kiv.ini"), std::string(10240, 'w') + "\\kiv.ini");
}

TEST_F(ConfigLocations, DeviceNumbersAreSignedAndZeroPaddedToThreeDigits)
{
    setEnv("WINDIR", "C:\\W");
    EXPECT_EQ(getDeviceFilePath(0), "C:\\W\\dev_000.ini");
    EXPECT_EQ(getDeviceFilePath(7), "C:\\W\\dev_007.ini");
    EXPECT_EQ(getDeviceFilePath(123), "C:\\W\\dev_123.ini");
    EXPECT_EQ(getDeviceFilePath(1234), "C:\\W\\dev_1234.ini");
    EXPECT_EQ(getDeviceFilePath(-5), "C:\\W\\dev_-05.ini");
    EXPECT_EQ(getDeviceFilePath(INT_MIN), "C:\\W\\dev_-2147483648.ini");
}

TEST_F(ConfigLocations, DeveloperFlagIsOnOnlyForTrueInAnyCase)
{
    EXPECT_FALSE(isDeveloper());
    for (const char* on : {"true", "TRUE", "True", "tRuE"}) {
        setEnv("RK_DEVELOPER", on);
        EXPECT_TRUE(isDeveloper()) << on;
    }
    for (const char* off : {"1", "yes", "true ", " true", "", "truer"}) {
        setEnv("RK_DEVELOPER", off);
        EXPECT_FALSE(isDeveloper()) << '"' << off << '"';
    }
}

TEST_F(ConfigLocations, RootedLogPathCreatesTheFolderButNotTheLeaf)
{
    useRootedLayout();
    writeFile(place("root\\sys1\\logs\\keep.txt"), "");
    EXPECT_EQ(getLogPath("app", "x.log"), place("root\\sys1\\logs\\app\\x.log"));
    EXPECT_TRUE(fileExists(place("root\\sys1\\logs\\app")));
    EXPECT_FALSE(fileExists(place("root\\sys1\\logs\\app\\x.log")));
}

TEST_F(ConfigLocations, RootedLogPathWithoutLogsDirectoryStillGivesThePath)
{
    useRootedLayout();
    EXPECT_EQ(getLogPath("app", "x.log"), place("root\\sys1\\logs\\app\\x.log"));
    EXPECT_FALSE(fileExists(place("root\\sys1\\logs")));
}

TEST_F(ConfigLocations, FlatLogPathCreatesNothing)
{
    const auto before = treeEntries();
    EXPECT_EQ(getLogPath("app", "x.log"), "c:\\telmlogs\\app\\x.log");
    EXPECT_EQ(treeEntries(), before);
}
