/*
 * Scratch profile files for the profile tests: each test gets a fresh
 * directory, removed afterwards. Paths are the host's own absolute paths,
 * so the profile functions never look in the Windows directory.
 */
#ifndef PROFILEFILES_H
#define PROFILEFILES_H

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class ProfileFiles : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new file holding exactly these bytes; its path.
    std::string fileWith(const std::string& bytes);
    // A path where no file exists.
    std::string missingFile();
    // The bytes of a file, or "<missing>".
    static std::string bytesOf(const std::string& path);
    // Lets the test write win.ini in the Windows directory: on Linux a fresh
    // one in the scratch directory, put back afterwards; on Windows the
    // system's own, which only a machine kept for the tests lends (the
    // throw-away Wine prefix says so). False where the test may not.
    bool borrowWindowsDirectory();

private:
    void restoreEnvironment();

    std::filesystem::path directory_;
    int files_ = 0;
    std::vector<std::pair<const char*, std::optional<std::string>>> savedEnvironment_;
};

#endif
