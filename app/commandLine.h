#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QString>
#include <QStringList>

#include <map>

/*
 * The device number: the last argument after the program's path that is not
 * a switch (does not begin with "/"), read as an unsigned decimal number;
 * 0 when there is none or it is not such a number.
 */
unsigned int deviceNumberFrom(const QStringList& arguments);

/*
 * Whether the switch "/enable" (any letter case) asks for traffic to start by
 * itself once registration has succeeded, for unattended runs.
 */
bool autoEnableRequestedBy(const QStringList& arguments);

/* The values one spin box accepts, both included. */
struct valueBounds {
    int lowest = 0;
    int highest = 0;
};

/* What the minimum and the maximum box of one pair accept. */
struct pairBounds {
    valueBounds minimum;
    valueBounds maximum;
};

/* Values for a pair's two spin boxes. */
struct pairValues {
    int minimum = 0;
    int maximum = 0;
};

/*
 * What the switches of an unattended run ask for: values for pairs (by the
 * pair's name in lower case) and the random source's seed.
 */
struct runSwitches {
    std::map<QString, pairValues> pairs;
    bool seeded = false;
    unsigned int seed = 0;
};

/*
 * Reads "/NAME=MIN,MAX" for every pair named in bounds and "/seed=N", names
 * in any letter case, into switches; a later switch for the same pair or seed
 * replaces an earlier one, and other switches are left to their readers.
 * Returns what is wrong with the first refused switch (malformed, or a value
 * its spin box would not take), or an empty string. A minimum above its
 * maximum passes, since the form lets one type that too.
 */
QString readRunSwitches(const QStringList& arguments, const std::map<QString, pairBounds>& bounds,
                        runSwitches& switches);

#endif /* COMMANDLINE_H */
