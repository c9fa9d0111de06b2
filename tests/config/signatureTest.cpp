#include "configTestSupport.h"

#include <rkConfig.h>
#include <rkwin.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

namespace {

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

using Signature = ConfigTest;

/* Spelled backwards so the test's own data does not hold the text it looks for. */
TEST_F(Signature, LibrarySignatureTextIsLinkedIntoTheProgram)
{
    std::string expected = ">>LRU_DLIUB<<,MLET,62/21/80,0.21.0.1,BIL,gifnoCkr,GIS_MLET";
    std::reverse(expected.begin(), expected.end());
    ASSERT_FALSE(getConfigRoot().empty());
    EXPECT_NE(ownImage().find(expected + '\0'), std::string::npos);
}
