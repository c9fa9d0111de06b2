// Windows paths on this host: each drive letter is a directory.
#include "rkhost.h"

#include <cctype>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

bool startsWithDrive(const std::string& path)
{
    return path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]));
}

std::string homeDirectory()
{
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0')
        return home;
    const passwd* user = getpwuid(getuid());
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "/";
}

std::string driveDirectory(char letter)
{
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    const std::string variable = std::string("RK_DRIVE_") + upper;
    const char* configured = std::getenv(variable.c_str());
    if (configured != nullptr && *configured != '\0')
        return configured;
    return homeDirectory() + "/.telm/drive_" + lower;
}

std::string withForwardSlashes(std::string path)
{
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

// "dir" + "/rest" without doubling the slash when dir ends in one.
std::string joined(std::string directory, const std::string& rest)
{
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    if (rest.empty())
        return directory;
    if (rest.front() == '/')
        return directory == "/" ? rest : directory + rest;
    return directory == "/" ? directory + rest : directory + "/" + rest;
}

} // namespace

std::string rkHostPath(const std::string& path)
{
    if (!startsWithDrive(path))
        return withForwardSlashes(path);
    return joined(driveDirectory(path[0]), withForwardSlashes(path.substr(2)));
}
