/*
 * A private world per test: a fresh temporary directory holds drives C and
 * D, and the variables the configuration library reads are saved, cleared
 * and restored around each test.
 */
#ifndef CONFIG_TEST_SUPPORT_H
#define CONFIG_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class ConfigTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /* RK_ROOT=C:\root, RK_SYSTEM=sys1, with the config\system directory made. */
    void useRootedLayout();
    /* No RK_ROOT or RK_SYSTEM: the configuration directory is C:\Windows. */
    void useFlatLayout();

    static void setEnv(const char* name, const std::string& value);
    static void unsetEnv(const char* name);

    /* Files addressed by Windows paths, as the library sees them. */
    static void writeFile(const std::string& windowsPath, const std::string& bytes);
    static std::string readFile(const std::string& windowsPath);
    static bool fileExists(const std::string& windowsPath);
    /* Every file and directory under the test's directory, relative. */
    std::vector<std::string> treeEntries() const;

    std::string testDirectory;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment;
};

#endif /* CONFIG_TEST_SUPPORT_H */
