#include "basicsSupport.h"
#include "rkhost.h"

#include <gtest/gtest.h>

TEST(HostPath, DriveLetterMapsUnderItsDriveVariable)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    EXPECT_EQ(rkHostPath("C:\\root\\sys1\\config\\system\\dev_012.ini"), "/srv/c/root/sys1/config/system/dev_012.ini");
}

TEST(HostPath, LowerCaseDriveLetterUsesTheUpperCaseVariable)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    EXPECT_EQ(rkHostPath("c:\\telm_config.ini"), "/srv/c/telm_config.ini");
}

TEST(HostPath, EachDriveHasItsOwnDirectory)
{
    ScopedEnvironment c("RK_DRIVE_C", "/srv/c");
    ScopedEnvironment d("RK_DRIVE_D", "/mnt/other");
    EXPECT_EQ(rkHostPath("D:\\data"), "/mnt/other/data");
}

TEST(HostPath, WithoutItsVariableADriveLiesUnderHome)
{
    ScopedEnvironment drive("RK_DRIVE_E", std::nullopt);
    ScopedEnvironment home("HOME", "/home/tester");
    EXPECT_EQ(rkHostPath("E:\\Windows\\kiv.ini"), "/home/tester/.telm/drive_e/Windows/kiv.ini");
    EXPECT_EQ(rkHostPath("e:\\x"), "/home/tester/.telm/drive_e/x");
}

TEST(HostPath, EmptyDriveVariableCountsAsUnset)
{
    ScopedEnvironment drive("RK_DRIVE_C", "");
    ScopedEnvironment home("HOME", "/home/tester");
    EXPECT_EQ(rkHostPath("C:\\a"), "/home/tester/.telm/drive_c/a");
}

TEST(HostPath, DriveRootAndDriveAloneMapToTheDriveDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    EXPECT_EQ(rkHostPath("C:\\"), "/srv/c/");
    EXPECT_EQ(rkHostPath("C:"), "/srv/c");
}

TEST(HostPath, DriveRelativePathLiesInTheDriveDirectory)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    EXPECT_EQ(rkHostPath("C:config\\a.ini"), "/srv/c/config/a.ini");
}

TEST(HostPath, SlashAtTheEndOfTheDriveDirectoryIsNotDoubled)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c/");
    EXPECT_EQ(rkHostPath("C:\\a\\b"), "/srv/c/a/b");
    ScopedEnvironment root("RK_DRIVE_R", "/");
    EXPECT_EQ(rkHostPath("R:\\a"), "/a");
}

TEST(HostPath, ForwardSlashesAfterTheDriveWorkToo)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    EXPECT_EQ(rkHostPath("C:/a/b.ini"), "/srv/c/a/b.ini");
}

TEST(HostPath, OtherPathsKeepTheirMeaningWithSlashes)
{
    EXPECT_EQ(rkHostPath("/opt/telm"), "/opt/telm");
    EXPECT_EQ(rkHostPath("/opt/telm\\config\\kiv.ini"), "/opt/telm/config/kiv.ini");
    EXPECT_EQ(rkHostPath("config\\system\\telm_system.ini"), "config/system/telm_system.ini");
    EXPECT_EQ(rkHostPath("kiv.ini"), "kiv.ini");
    EXPECT_EQ(rkHostPath(""), "");
}

TEST(HostPath, ColonLaterInThePathIsNoDrive)
{
    EXPECT_EQ(rkHostPath("ab:\\c"), "ab:/c");
    EXPECT_EQ(rkHostPath("1:\\c"), "1:/c");
}

TEST(HostPath, PathsOfAnyLengthMapWhole)
{
    ScopedEnvironment drive("RK_DRIVE_C", "/srv/c");
    const std::string longName(100000, 'n');
    EXPECT_EQ(rkHostPath("C:\\" + longName + "\\x"), "/srv/c/" + longName + "/x");
    const std::string longDrive = "/" + std::string(10240, 'd');
    ScopedEnvironment longDriveVariable("RK_DRIVE_C", longDrive);
    EXPECT_EQ(rkHostPath("C:\\x"), longDrive + "/x");
}
