#include "commandLine.h"

namespace {
bool isSwitch(const QString& argument)
{
    return argument.startsWith(QLatin1Char('/'));
}
}

unsigned int deviceNumberFrom(const QStringList& arguments)
{
    unsigned int device = 0;
    for (int i = 1; i < arguments.size(); ++i) {
        if (!isSwitch(arguments[i]))
            device = arguments[i].toUInt(nullptr, 10);
    }
    return device;
}

bool autoEnableRequestedBy(const QStringList& arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments[i].compare(QLatin1String("/enable"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
