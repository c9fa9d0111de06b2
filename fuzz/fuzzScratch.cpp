#include "fuzzScratch.h"

#include "fuzzCheck.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rkfuzz {

namespace {

std::vector<std::string>& madeDirectories()
{
    static std::vector<std::string> directories;
    return directories;
}

void removeMadeDirectories()
{
    for (const std::string& directory : madeDirectories()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory, ignored);
    }
}

std::string scratchParent()
{
    if (access("/dev/shm", W_OK | X_OK) == 0)
        return "/dev/shm";
    const char* temporary = std::getenv("TMPDIR");
    return temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
}

} // namespace

std::string scratchDirectory(const char* stem)
{
    std::string pattern = scratchParent() + "/" + stem + "XXXXXX";
    FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr, "cannot make a scratch directory");
    FUZZ_CHECK(chmod(pattern.c_str(), 0700) == 0, "cannot restrict the scratch directory");
    if (madeDirectories().empty())
        std::atexit(removeMadeDirectories);
    madeDirectories().push_back(pattern);
    return pattern;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(out.flush(), "cannot write the scratch file");
}

} // namespace rkfuzz
