#include "testHost.h"

#include "rkhost.h"

#include <climits>
#include <cstdlib>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

std::string makeScratchDirectory(const std::string& stem)
{
    std::string pattern = "/tmp/" + stem + "XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a scratch directory");
    return pattern;
}

bool runningOnWine()
{
    return false;
}

void setEnvironment(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}

void unsetEnvironment(const char* name)
{
    unsetenv(name);
}

std::string ownProgramPath()
{
    char self[PATH_MAX] = {};
    const ssize_t size = readlink("/proc/self/exe", self, sizeof self - 1);
    return std::string(self, size > 0 ? static_cast<std::size_t>(size) : 0);
}

std::string testProgramPath(const std::string& name)
{
    const std::string path = ownProgramPath();
    return path.substr(0, path.rfind('/') + 1) + name;
}

void waitForMessages(int milliseconds)
{
    pollfd messages{rkMessageEventFd(), POLLIN, 0};
    poll(&messages, messages.fd >= 0 ? 1 : 0, milliseconds);
}
