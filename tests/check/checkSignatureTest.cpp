#include "rkCheck.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

TEST(CheckSignature, IsKeptInTheLinkedBinary)
{
    rkCheck keepsTheLibraryLinked("signature");
    // Built at run time, so this file's own data cannot hold the whole text.
    volatile char first = 'T';
    const std::string signature = std::string(1, first) + "ELM_SIG,rkCheck,LIB,1.0.9.0,08/12/26,TELM,<<BUILD_URL>>";
    std::ifstream executable("/proc/self/exe", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(executable)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(image.empty());
    EXPECT_NE(image.find(signature), std::string::npos);
}
