// The libraries' signature texts survive into every program that links them.
#include "testHost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The zero-terminated signature with these fields, put together at run time
// so that this file's own data cannot hold it.
std::string signatureWith(const std::string& fields)
{
    volatile char first = 'T';
    return std::string(1, first) + "ELM_SIG," + fields + '\0';
}

TEST(signature, ofTheDriverLibraryIsInTheProgram)
{
    EXPECT_NE(ownProgramImage().find(signatureWith("rkDriver,LIB,1.1.1.0,08/12/26,TELM,<<BUILD_URL>>")),
              std::string::npos);
}

TEST(signature, ofTheRelayIsInTheProgram)
{
    EXPECT_NE(ownProgramImage().find(signatureWith("telmwm32,LIB,4.1.1.0,08/12/26,TELM,<<BUILD_URL>>")),
              std::string::npos);
}

} // namespace
