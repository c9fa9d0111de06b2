#include "basicsSupport.h"
#include "rkhost.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// One mapping with drive C at /srv/c, drive D at /srv/d/ (slash at the end)
// and drive R at the root; drive E has no variable and lies under HOME.
struct PathCase {
    const char* name;
    std::string path;
    std::string expected;
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }

const std::string longName(100000, 'n');

const std::vector<PathCase> pathCases = {
    {"DriveLetterMapsUnderItsVariable", "C:\\root\\sys1\\config\\system\\dev_012.ini",
     "/srv/c/root/sys1/config/system/dev_012.ini"},
    {"LowerCaseDriveUsesTheUpperCaseVariable", "c:\\telm_config.ini", "/srv/c/telm_config.ini"},
    {"DriveWithoutVariableLiesUnderHome", "E:\\Windows\\kiv.ini", "/home/tester/.telm/drive_e/Windows/kiv.ini"},
    {"LowerCaseDriveWithoutVariableLiesUnderHome", "e:\\x", "/home/tester/.telm/drive_e/x"},
    {"SlashEndingTheDriveDirectoryIsNotDoubled", "D:\\a\\b", "/srv/d/a/b"},
    {"DriveAtTheRootGivesRootPaths", "R:\\a", "/a"},
    {"DriveRootIsTheDriveDirectory", "C:\\", "/srv/c/"},
    {"DriveAloneIsTheDriveDirectory", "C:", "/srv/c"},
    {"DriveRelativePathLiesInTheDriveDirectory", "C:config\\a.ini", "/srv/c/config/a.ini"},
    {"ForwardSlashesAfterTheDriveWork", "C:/a/b.ini", "/srv/c/a/b.ini"},
    {"AbsolutePathStays", "/opt/telm", "/opt/telm"},
    {"BackslashesOfAnAbsolutePathBecomeSlashes", "/opt/telm\\config\\kiv.ini", "/opt/telm/config/kiv.ini"},
    {"RelativePathStaysRelative", "config\\system\\telm_system.ini", "config/system/telm_system.ini"},
    {"BareNameStays", "kiv.ini", "kiv.ini"},
    {"EmptyPathStaysEmpty", "", ""},
    {"ColonAfterTwoLettersIsNoDrive", "ab:\\c", "ab:/c"},
    {"DigitIsNoDriveLetter", "1:\\c", "1:/c"},
    {"LongPathMapsWhole", "C:\\" + longName + "\\x", "/srv/c/" + longName + "/x"},
};

class HostPath : public testing::TestWithParam<PathCase> {
protected:
    ScopedEnvironment driveC{"RK_DRIVE_C", "/srv/c"};
    ScopedEnvironment driveD{"RK_DRIVE_D", "/srv/d/"};
    ScopedEnvironment driveR{"RK_DRIVE_R", "/"};
    ScopedEnvironment driveE{"RK_DRIVE_E", std::nullopt};
    ScopedEnvironment home{"HOME", "/home/tester"};
};

} // namespace

TEST_P(HostPath, MapsAsWindowsPathsLieOnThisHost)
{
    EXPECT_EQ(rkHostPath(GetParam().path), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, HostPath, testing::ValuesIn(pathCases),
                         [](const testing::TestParamInfo<PathCase>& info) { return info.param.name; });

TEST(HostPathVariable, EmptyDriveVariableCountsAsUnset)
{
    ScopedEnvironment drive("RK_DRIVE_C", "");
    ScopedEnvironment home("HOME", "/home/tester");
    EXPECT_EQ(rkHostPath("C:\\a"), "/home/tester/.telm/drive_c/a");
}

TEST(HostPathVariable, DriveDirectoryOfTenKilobytesMapsWhole)
{
    const std::string longDrive = "/" + std::string(10240, 'd');
    ScopedEnvironment drive("RK_DRIVE_C", longDrive);
    EXPECT_EQ(rkHostPath("C:\\x"), longDrive + "/x");
}
