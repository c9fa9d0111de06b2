#ifndef TRAFFICTEXT_H
#define TRAFFICTEXT_H

#include <string>

/*
 * One value of a minimum/maximum pair: minimum + (r mod range) with r from
 * the random source. Every call takes exactly one draw, whatever the range.
 * A range of 0 (maximum one below minimum) has no value to draw from; it
 * yields the minimum, which is where the values of every other invalid
 * (negative) range begin too.
 */
int drawInRange(int minimum, int range);

/* The mean of what drawInRange draws for a pair, for counting what was not drawn. */
double meanOfRange(int minimum, int range);

/*
 * size printable characters, one draw each, from the space to the tilde.
 * The apostrophe would end the quoted field of the command, and the percent
 * sign is kept out of command texts too; each becomes the next character
 * up, "(" and "&", which therefore come twice as often as the others.
 */
std::string randomText(int size);

/* "IR <device> <slot> '<text>' 0", the numbers in signed decimal. */
std::string irCommandText(unsigned int device, int slot, const std::string& text);

#endif /* TRAFFICTEXT_H */
