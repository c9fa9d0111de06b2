#include "profileFiles.h"

#include <chrono>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void ProfileFiles::SetUp() {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("rkprofile-") + test->name() + "-" +
                       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    for (char& c : name)
        if (c == '/') c = '_';
    directory_ = fs::temp_directory_path() / name;
    fs::create_directories(directory_);
}

void ProfileFiles::TearDown() {
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
}

std::string ProfileFiles::missingFile() {
    return (directory_ / ("file" + std::to_string(++files_) + ".ini")).string();
}

std::string ProfileFiles::fileWith(const std::string& bytes) {
    std::string path = missingFile();
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string ProfileFiles::bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "<missing>";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}
