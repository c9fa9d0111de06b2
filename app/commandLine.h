#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QStringList>

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

#endif /* COMMANDLINE_H */
