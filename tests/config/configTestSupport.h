/*
 * A private world per test: a fresh temporary directory holds every file a
 * test touches, and the variables the configuration library reads are
 * saved, cleared and restored around each test.
 *
 * Tests name files by Windows paths from place(). On Linux drive C is the
 * test's directory (RK_DRIVE_C), so place("x") is C:\x and the fixed
 * fallback file c:\telm_config.ini is the test's own. On Windows place()
 * gives paths inside the test's directory, and c:\telm_config.ini is the
 * machine's: tests that must write it are skipped there.
 */
#ifndef CONFIG_TEST_SUPPORT_H
#define CONFIG_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <rkConfig.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
/* Only a machine kept for the tests lends them its c:\telm_config.ini:
 * scripts/wine-test.sh's throw-away Wine prefix says so. */
inline const bool fallbackFileIsPrivate = std::getenv("RK_TEST_OWNS_DRIVE_C") != nullptr;
#else
constexpr bool fallbackFileIsPrivate = true;
#endif

#define SKIP_UNLESS_FALLBACK_FILE_IS_PRIVATE()                                               \
    if (!fallbackFileIsPrivate)                                                              \
    GTEST_SKIP() << "c:\\telm_config.ini belongs to the machine on this host"

class ConfigTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /* A Windows path inside the test's own directory. */
    std::string place(const std::string& relative) const;

    /* RK_ROOT=place("root"), RK_SYSTEM=sys1, config\system made. */
    void useRootedLayout();
    /* No RK_ROOT or RK_SYSTEM; WINDIR=place("Windows"), made. */
    void useFlatLayout();

    static void setEnv(const char* name, const std::string& value);
    static void unsetEnv(const char* name);

    static void writeFile(const std::string& windowsPath, const std::string& bytes);
    static std::string readFile(const std::string& windowsPath);
    static bool fileExists(const std::string& windowsPath);
    /* Every file and directory under the test's directory, relative. */
    std::vector<std::string> treeEntries() const;

    std::string rootedConfig;      /* the configuration directory, rooted layout */
    std::string windowsDirectory;  /* the configuration directory, flat layout */
    std::string testDirectory;     /* host path */

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment;
};

/*
 * A test of the INI engine: the flat layout, with one INI file of the given
 * name in the configuration directory.
 */
class IniFileTest : public ConfigTest
{
protected:
    explicit IniFileTest(std::string fileName) : fileName(std::move(fileName)) {}

    void SetUp() override;

    /* The named section of the file, read into an empty map. */
    SettingsMap readMap(const std::string& section) const;
    /* Every section the file names. */
    SectionList listAll() const;

    std::string iniFile;

private:
    std::string fileName;
};

#endif /* CONFIG_TEST_SUPPORT_H */
