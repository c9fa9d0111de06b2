#include "configTestSupport.h"

#include <rkConfig.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

using Signature = ConfigTest;

/* Spelled backwards so the test's own data does not hold the text it looks for. */
TEST_F(Signature, LibrarySignatureTextIsLinkedIntoTheProgram)
{
    std::string expected = ">>LRU_DLIUB<<,MLET,62/21/80,0.21.0.1,BIL,gifnoCkr,GIS_MLET";
    std::reverse(expected.begin(), expected.end());
    ASSERT_FALSE(getConfigRoot().empty());
    std::ifstream self("/proc/self/exe", std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(self)), std::istreambuf_iterator<char>());
    EXPECT_NE(image.find(expected + '\0'), std::string::npos);
}
