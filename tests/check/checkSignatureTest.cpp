#include "rkCheck.h"
#include "rkwin.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

// The bytes of the running test program.
std::string ownImage()
{
#ifdef _WIN32
    char path[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::ifstream self(std::string(path, length), std::ios::binary);
#else
    std::ifstream self("/proc/self/exe", std::ios::binary);
#endif
    return std::string(std::istreambuf_iterator<char>(self), std::istreambuf_iterator<char>());
}

} // namespace

TEST(CheckSignature, IsKeptInTheLinkedProgram)
{
    rkCheck keepsTheLibraryLinked("signature");
    // Built at run time, so that this file's own data cannot hold the text.
    volatile char first = 'T';
    const std::string signature = std::string(1, first) + "ELM_SIG,rkCheck,LIB,1.0.9.0,08/12/26,TELM,<<BUILD_URL>>";
    const std::string image = ownImage();
    ASSERT_FALSE(image.empty());
    EXPECT_NE(image.find(signature + '\0'), std::string::npos);
}
