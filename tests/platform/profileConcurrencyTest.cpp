#include "basicsSupport.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <string>
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

} // namespace

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
