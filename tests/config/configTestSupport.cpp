#include "configTestSupport.h"

#include <rkhost.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

const char* const libraryVariables[] = {"RK_ROOT", "RK_SYSTEM", "RK_WORKSTATION",
                                        "RK_DEVELOPER", "WINDIR", "RK_DRIVE_C"};

std::optional<std::string> currentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

fs::path freshDirectory()
{
    for (;;) {
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        const fs::path candidate = fs::temp_directory_path() / ("rkcfg-" + std::to_string(stamp));
        if (fs::create_directory(candidate))
            return candidate;
    }
}

#ifdef _WIN32
std::string withBackslashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
#endif

} // namespace

void ConfigTest::SetUp()
{
    for (const char* name : libraryVariables) {
        savedEnvironment.emplace_back(name, currentValue(name));
        unsetEnv(name);
    }
    testDirectory = freshDirectory().string();
#ifndef _WIN32
    fs::create_directory(testDirectory + "/c");
    setEnv("RK_DRIVE_C", testDirectory + "/c");
#endif
    rootedConfig = place("root\\sys1\\config");
    windowsDirectory = place("Windows");
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
#ifdef _WIN32
    if (fallbackFileIsPrivate)
        fs::remove("c:\\telm_config.ini", ignored);
#endif
}

std::string ConfigTest::place(const std::string& relative) const
{
#ifdef _WIN32
    return withBackslashes(testDirectory) + "\\" + relative;
#else
    return "C:\\" + relative;
#endif
}

void ConfigTest::useRootedLayout()
{
    setEnv("RK_ROOT", place("root"));
    setEnv("RK_SYSTEM", "sys1");
    fs::create_directories(rkHostPath(rootedConfig + "\\system"));
}

void ConfigTest::useFlatLayout()
{
    unsetEnv("RK_ROOT");
    unsetEnv("RK_SYSTEM");
    setEnv("WINDIR", windowsDirectory);
    fs::create_directories(rkHostPath(windowsDirectory));
}

/* On Windows an empty value removes the variable, which the library reads alike. */
void ConfigTest::setEnv(const char* name, const std::string& value)
{
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void ConfigTest::unsetEnv(const char* name)
{
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

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

void IniFileTest::SetUp()
{
    ConfigTest::SetUp();
    useFlatLayout();
    iniFile = windowsDirectory + "\\" + fileName;
}

SettingsMap IniFileTest::readMap(const std::string& section) const
{
    SettingsMap settings;
    readSection(iniFile, section, settings);
    return settings;
}

SectionList IniFileTest::listAll() const
{
    SectionList sections;
    listSections(iniFile, sections);
    return sections;
}
