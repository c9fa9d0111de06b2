// The libraries' signature texts survive into every program that links them.
#include "testHost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(signature, ofTheDriverLibraryIsInTheProgram)
{
    EXPECT_NE(ownProgramImage().find("TELM_SIG,rkDriver,LIB,1.1.1.0,08/12/26,TELM,<<BUILD_URL>>"), std::string::npos);
}

TEST(signature, ofTheRelayIsInTheProgram)
{
    EXPECT_NE(ownProgramImage().find("TELM_SIG,telmwm32,LIB,4.1.1.0,08/12/26,TELM,<<BUILD_URL>>"), std::string::npos);
}

} // namespace
