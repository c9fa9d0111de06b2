// A broken expectation inside a fuzz target: name it and abort, so that
// libFuzzer keeps the input that broke it.
#ifndef RK_FUZZ_CHECK_H
#define RK_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

namespace rkfuzz {

[[noreturn]] inline void fail(const char* condition, const char* what, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: expectation failed: %s (%s)\n", file, line, what, condition);
    std::abort();
}

} // namespace rkfuzz

#define FUZZ_CHECK(condition, what) ((condition) ? (void)0 : rkfuzz::fail(#condition, what, __FILE__, __LINE__))

#endif
