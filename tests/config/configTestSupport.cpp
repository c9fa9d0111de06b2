#include "configTestSupport.h"

#include <rkhost.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

const char* const libraryVariables[] = {"RK_ROOT",      "RK_SYSTEM", "RK_WORKSTATION",
                                        "RK_DEVELOPER", "WINDIR",    "RK_DRIVE_C",
                                        "RK_DRIVE_D"};

std::optional<std::string> currentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

} // namespace

void ConfigTest::SetUp()
{
    for (const char* name : libraryVariables) {
        savedEnvironment.emplace_back(name, currentValue(name));
        unsetEnv(name);
    }
    char pattern[] = "/tmp/rkconfig-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    testDirectory = pattern;
    fs::create_directories(testDirectory + "/c");
    fs::create_directories(testDirectory + "/d");
    setEnv("RK_DRIVE_C", testDirectory + "/c");
    setEnv("RK_DRIVE_D", testDirectory + "/d");
}

void ConfigTest::TearDown()
{
    for (const auto& [name, value] : savedEnvironment) {
        if (value)
            setEnv(name.c_str(), *value);
        else
            unsetEnv(name.c_str());
    }
    std::error_code ignored;
    if (!testDirectory.empty())
        fs::remove_all(testDirectory, ignored);
}

void ConfigTest::useRootedLayout()
{
    setEnv("RK_ROOT", "C:\\root");
    setEnv("RK_SYSTEM", "sys1");
    fs::create_directories(rkHostPath("C:\\root\\sys1\\config\\system"));
}

void ConfigTest::useFlatLayout()
{
    unsetEnv("RK_ROOT");
    unsetEnv("RK_SYSTEM");
    fs::create_directories(rkHostPath("C:\\Windows"));
}

void ConfigTest::setEnv(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}

void ConfigTest::unsetEnv(const char* name) { unsetenv(name); }

void ConfigTest::writeFile(const std::string& windowsPath, const std::string& bytes)
{
    const fs::path path(rkHostPath(windowsPath));
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ConfigTest::readFile(const std::string& windowsPath)
{
    std::ifstream file(rkHostPath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool ConfigTest::fileExists(const std::string& windowsPath)
{
    return fs::exists(rkHostPath(windowsPath));
}

std::vector<std::string> ConfigTest::treeEntries() const
{
    std::vector<std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(testDirectory))
        entries.push_back(fs::relative(entry.path(), testDirectory).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}
