#include "rkCheck.h"
#include "testHost.h"

#include <gtest/gtest.h>

#include <string>

TEST(CheckSignature, IsKeptInTheLinkedProgram)
{
    rkCheck keepsTheLibraryLinked("signature");
    // Built at run time, so that this file's own data cannot hold the text.
    volatile char first = 'T';
    const std::string signature = std::string(1, first) + "ELM_SIG,rkCheck,LIB,1.0.9.0,08/12/26,TELM,<<BUILD_URL>>";
    const std::string image = ownProgramImage();
    ASSERT_FALSE(image.empty());
    EXPECT_NE(image.find(signature + '\0'), std::string::npos);
}
