#include "configTestSupport.h"

#include <rkConfig.h>
#include <testHost.h>

#include <algorithm>
#include <string>

using Signature = ConfigTest;

/* Spelled backwards so the test's own data does not hold the text it looks for. */
TEST_F(Signature, LibrarySignatureTextIsLinkedIntoTheProgram)
{
    std::string expected = ">>LRU_DLIUB<<,MLET,62/21/80,0.21.0.1,BIL,gifnoCkr,GIS_MLET";
    std::reverse(expected.begin(), expected.end());
    ASSERT_FALSE(getConfigRoot().empty());
    EXPECT_NE(ownProgramImage().find(expected + '\0'), std::string::npos);
}
