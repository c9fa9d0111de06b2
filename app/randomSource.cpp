#include "randomSource.h"

#include <cstdint>

namespace {
/* The runtime starts as if seeded with 1. */
std::uint32_t randomState = 1;
}

void seedRandom(unsigned int seed)
{
    randomState = seed;
}

int drawRandom()
{
    randomState = randomState * 214013u + 2531011u;
    return static_cast<int>((randomState >> 16) & randomMax);
}
