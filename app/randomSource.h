#ifndef RANDOMSOURCE_H
#define RANDOMSOURCE_H

/*
 * The process's one random source: the generator of the Windows C runtime
 * (state = state * 214013 + 2531011, value = bits 16 to 30 of the state),
 * used on every host so that one seed gives the same traffic everywhere.
 * Like the runtime's srand/rand it keeps a single state per process.
 */
constexpr int randomMax = 32767;

void seedRandom(unsigned int seed);

/* The next value, 0 to randomMax inclusive. */
int drawRandom();

#endif /* RANDOMSOURCE_H */
