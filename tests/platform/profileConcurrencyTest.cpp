#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

constexpr int iterations = 200;

bool writeKeys(const std::string& path, const std::string& prefix)
{
    for (int i = 0; i < iterations; ++i) {
        const std::string key = prefix + std::to_string(i);
        if (!WritePrivateProfileStringA("Shared", key.c_str(), key.c_str(), path.c_str()))
            return false;
    }
    return true;
}

// Starts a child that writes the value and is killed the moment its new copy
// of the file reaches sizeLimit bytes: the file size limit raises SIGXFSZ in
// the middle of the write, and the child dies of SIGKILL there. Its pid, or
// -1 when it did not die so.
pid_t writerKilledMidWrite(const std::string& path, const std::string& value, rlim_t sizeLimit)
{
    const pid_t child = fork();
    if (child == 0) {
        signal(SIGXFSZ, [](int) { raise(SIGKILL); });
        const rlimit limit{sizeLimit, sizeLimit};
        setrlimit(RLIMIT_FSIZE, &limit);
        WritePrivateProfileStringA("Main", "Key", value.c_str(), path.c_str());
        _exit(0);
    }
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return child > 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? child : -1;
}

// The name with the decimal pid it holds replaced by another, "" when it
// holds none: a copy as its writer would have left it had it had that pid.
std::string withPidReplaced(const std::string& name, pid_t from, pid_t to)
{
    const std::string digits = std::to_string(from);
    for (size_t at = name.find(digits); at != std::string::npos; at = name.find(digits, at + 1)) {
        const size_t end = at + digits.size();
        const bool wholeNumber = (at == 0 || !std::isdigit(static_cast<unsigned char>(name[at - 1]))) &&
                                 (end == name.size() || !std::isdigit(static_cast<unsigned char>(name[end])));
        if (wholeNumber)
            return name.substr(0, at) + std::to_string(to) + name.substr(end);
    }
    return std::string();
}

} // namespace

// A writer killed mid-write leaves its new copy of the file behind, and the
// next process with its pid must still be able to write.
TEST(ProfileConcurrency, WritersKilledMidWriteNeitherBlockLaterWritesNorLeaveCopies)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("shared.ini");
    const std::string before = "[Main]\nKey=" + std::string(100000, 'a') + "\n";
    writeBytes(path, before);
    const std::string killedValue(100000, 'b');
    pid_t lastKilled = -1;
    for (int i = 0; i < 20; ++i) {
        lastKilled = writerKilledMidWrite(path, killedValue, 50000);
        ASSERT_NE(lastKilled, -1) << "writer " << i << " was not killed in the middle of its write";
    }
    EXPECT_EQ(readBytes(path), before);
    std::string leftByLast;
    for (const std::string& name : directory.entries()) {
        if (!withPidReplaced(name, lastKilled, lastKilled).empty())
            leftByLast = name;
    }
    ASSERT_FALSE(leftByLast.empty()) << "the last killed writer left no copy that names it";

    const int reused = inChildProcess([&] {
        const std::string asMine = withPidReplaced(leftByLast, lastKilled, getpid());
        return std::rename(directory.file(leftByLast).c_str(), directory.file(asMine).c_str()) == 0 &&
               WritePrivateProfileStringA("Main", "Key", "c", path.c_str());
    });
    EXPECT_EQ(reused, 0) << "a copy left under the writer's own pid made its write fail";
    EXPECT_TRUE(profileString(path, "Main", "Key") == "c");

    ASSERT_TRUE(WritePrivateProfileStringA("Main", "Key", "d", path.c_str()));
    EXPECT_EQ(readBytes(path), "[Main]\nKey=d\n");
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"shared.ini"});
}

TEST(ProfileConcurrency, TwoProcessesWritingOneFileLoseNoKey)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("shared.ini");
    const pid_t child = fork();
    if (child == 0)
        _exit(writeKeys(path, "child") ? 0 : 1);
    const bool parentWrote = writeKeys(path, "parent");
    ASSERT_EQ(waitForChild(child), 0);
    ASSERT_TRUE(parentWrote);
    for (const char* prefix : {"child", "parent"}) {
        for (int i = 0; i < iterations; ++i) {
            const std::string key = prefix + std::to_string(i);
            ASSERT_EQ(profileString(path, "Shared", key.c_str(), "lost"), key);
        }
    }
    EXPECT_EQ(directory.entries(), std::vector<std::string>{"shared.ini"});
}

TEST(ProfileConcurrency, TwoThreadsWritingOneFileLoseNoKey)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("shared.ini");
    bool otherWrote = false;
    std::thread other([&] { otherWrote = writeKeys(path, "other"); });
    const bool thisWrote = writeKeys(path, "this");
    other.join();
    ASSERT_TRUE(thisWrote && otherWrote);
    for (const char* prefix : {"other", "this"}) {
        for (int i = 0; i < iterations; ++i) {
            const std::string key = prefix + std::to_string(i);
            ASSERT_EQ(profileString(path, "Shared", key.c_str(), "lost"), key);
        }
    }
}

TEST(ProfileConcurrency, ReaderNeverSeesAHalfWrittenFile)
{
    TemporaryDirectory directory;
    const std::string path = directory.file("replaced.ini");
    const std::string blobA(200000, 'a');
    const std::string blobB(200000, 'b');
    ASSERT_TRUE(WritePrivateProfileStringA("Main", "Blob", blobA.c_str(), path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Main", "End", "1", path.c_str()));
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < iterations; ++i) {
            const std::string& blob = i % 2 == 0 ? blobB : blobA;
            if (!WritePrivateProfileStringA("Main", "Blob", blob.c_str(), path.c_str()))
                _exit(1);
        }
        _exit(0);
    }
    int torn = 0;
    for (int i = 0; i < iterations; ++i) {
        const std::string blob = profileString(path, "Main", "Blob", "", 300000);
        const bool whole = blob == blobA || blob == blobB;
        if (!whole || profileString(path, "Main", "End") != "1")
            ++torn;
    }
    ASSERT_EQ(waitForChild(child), 0);
    EXPECT_EQ(torn, 0);
}
