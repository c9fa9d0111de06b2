/*
 * Where the configuration of the running system lives: the rooted layout
 * (RK_ROOT\RK_SYSTEM\config) or the flat layout (ConfigPath of the fallback
 * file, else the Windows directory), and the paths built on it.
 */
#include "rkConfig.h"

#include "configPaths.h"
#include "configText.h"

#include <rkhost.h>
#include <rkwin.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

/* Kept in the same unit as getConfigRoot so every user of the library links it. */
extern const char rkConfigSignature[];
__attribute__((used)) const char rkConfigSignature[] =
    "TELM_SIG,rkConfig,LIB,1.0.12.0,08/12/26,TELM,<<BUILD_URL>>";

namespace {

const char* const fallbackFile = "c:\\telm_config.ini";
const char* const fallbackSection = "Config";
const char* const fallbackKey = "ConfigPath";
const char* const hostWindowsDirectory = "C:\\Windows";
/* Far beyond any real path; only bounds the read of a damaged file. */
const size_t longestConfigPath = size_t(1) << 24;

/*
 * The whole ConfigPath value: a path cut at a buffer's length would name
 * some other directory, so the read grows until the value fits.
 */
std::string readConfigPath()
{
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = GetPrivateProfileStringA(fallbackSection, fallbackKey, "",
                                                      buffer.data(), size, fallbackFile);
        if (length + 1 < size || buffer.size() > longestConfigPath)
            return std::string(buffer.data(), std::min<size_t>(length, buffer.size() - 1));
        buffer.resize(buffer.size() * 2);
    }
}

std::string windowsDirectory()
{
    return readNonEmptyEnvironment("WINDIR").value_or(hostWindowsDirectory);
}

std::string rootedSystemRoot()
{
    return readEnvironment("RK_ROOT").value_or("") + "\\" + readEnvironment("RK_SYSTEM").value_or("");
}

std::string deviceFileName(int device)
{
    char name[32];
    std::snprintf(name, sizeof name, "dev_%03d.ini", device);
    return name;
}

} // namespace

bool hasSystemEnvironment()
{
    return readNonEmptyEnvironment("RK_ROOT") && readNonEmptyEnvironment("RK_SYSTEM");
}

bool hasConfigPathFile()
{
    char value[256];
    GetPrivateProfileStringA(fallbackSection, fallbackKey, "", value, sizeof value, fallbackFile);
    if (hasSystemEnvironment())
        return false;
    return value[0] != '\0';
}

std::string getConfigRoot()
{
    if (hasSystemEnvironment())
        return rootedSystemRoot() + "\\config";
    if (hasConfigPathFile())
        return readConfigPath();
    return windowsDirectory();
}

std::string getSystemRoot()
{
    return hasSystemEnvironment() ? rootedSystemRoot() : std::string();
}

std::string getConfigFilePath(const std::string& fileName)
{
    return getConfigRoot() + "\\" + fileName;
}

std::string getSystemFilePath(const std::string& fileName)
{
    const std::string root = getConfigRoot();
    return hasSystemEnvironment() ? root + "\\system\\" + fileName : root + "\\" + fileName;
}

std::string getDeviceFilePath(int device)
{
    return getSystemFilePath(deviceFileName(device));
}

bool isDeveloper()
{
    const std::optional<std::string> flag = readEnvironment("RK_DEVELOPER");
    return flag && equalsIgnoringCase(*flag, "true");
}

std::string getLogPath(const std::string& folder, const std::string& leaf)
{
    if (!hasSystemEnvironment())
        return "c:\\telmlogs\\" + folder + "\\" + leaf;
    const std::string directory = rootedSystemRoot() + "\\logs\\" + folder;
    std::error_code ignored;
    std::filesystem::create_directory(std::filesystem::path(rkHostPath(directory)), ignored);
    return directory + "\\" + leaf;
}
