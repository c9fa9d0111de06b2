#include "basicsSupport.h"

#include "rkhost.h"
#include "rkwin.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

TemporaryDirectory::TemporaryDirectory()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "rkbasics-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TemporaryDirectory::entries() const
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ScopedEnvironment::ScopedEnvironment(const char* name, std::optional<std::string> value) : name_(name)
{
    if (const char* old = std::getenv(name))
        saved_ = old;
    if (value)
        setenv(name, value->c_str(), 1);
    else
        unsetenv(name);
}

ScopedEnvironment::~ScopedEnvironment()
{
    if (saved_)
        setenv(name_.c_str(), saved_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

DebugCapture::DebugCapture() { rkSetDebugSink(&DebugCapture::collect, this); }

DebugCapture::~DebugCapture() { rkSetDebugSink(nullptr, nullptr); }

void DebugCapture::collect(const char* text, void* context)
{
    static_cast<DebugCapture*>(context)->texts_.emplace_back(text);
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string profileString(const std::string& file, const char* section, const char* key, const char* fallback,
                          unsigned size)
{
    std::string buffer(size, '\x7f');
    const DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, file.c_str());
    buffer.resize(count);
    return buffer;
}

int waitForChild(pid_t child)
{
    if (child < 0)
        return -1;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
