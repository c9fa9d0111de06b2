#include "profileFiles.h"

#include "testHost.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

void ProfileFiles::SetUp() {
    directory_ = makeScratchDirectory("rkprofile-");
}

void ProfileFiles::TearDown() {
    restoreEnvironment();
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

bool ProfileFiles::borrowWindowsDirectory() {
#ifdef _WIN32
    return std::getenv("RK_TEST_OWNS_DRIVE_C") != nullptr;
#else
    fs::create_directories(directory_ / "Windows");
    for (const auto& [name, value] : {std::pair<const char*, std::string>{"RK_DRIVE_C", directory_.string()},
                                      {"WINDIR", "C:\\Windows"}}) {
        const char* old = std::getenv(name);
        savedEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        setEnvironment(name, value);
    }
    return true;
#endif
}

void ProfileFiles::restoreEnvironment() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value)
            setEnvironment(name, *value);
        else
            unsetEnvironment(name);
    }
    savedEnvironment_.clear();
}
