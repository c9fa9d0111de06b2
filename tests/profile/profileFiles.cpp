#include "profileFiles.h"

#include "testHost.h"

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void ProfileFiles::SetUp() {
    directory_ = makeScratchDirectory("rkprofile-");
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
