// Helpers shared by the platform basics suites.
#ifndef RK_TESTS_BASICS_SUPPORT_H
#define RK_TESTS_BASICS_SUPPORT_H

#include <optional>
#include <sys/types.h>
#include <unistd.h>
#include <string>
#include <vector>

// A fresh directory, removed with everything in it at the end of the test.
class TemporaryDirectory {
public:
    TemporaryDirectory();
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::vector<std::string> entries() const; // names, sorted

private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, std::optional<std::string> value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

// Collects the texts passed to OutputDebugStringA while it lives.
class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    const std::vector<std::string>& texts() const { return texts_; }

private:
    static void collect(const char* text, void* context);
    std::vector<std::string> texts_;
};

void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);

// The value GetPrivateProfileStringA returns, read through a buffer of the
// given size.
std::string profileString(const std::string& file, const char* section, const char* key,
                          const char* fallback = "", unsigned size = 4096);

// Waits for a child process; its exit status, or -1 when it did not exit.
int waitForChild(pid_t child);

// Runs body (returning true on success) in a child process and returns the
// child's exit status, 0 on success. The child leaves through _exit, so it
// never goes on to run the parent's tests.
template <typename Body> int inChildProcess(Body body)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(body() ? 0 : 1);
    return waitForChild(child);
}

#endif
