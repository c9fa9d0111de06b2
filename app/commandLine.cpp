#include "commandLine.h"

#include <QRegularExpression>

namespace {
bool isSwitch(const QString& argument)
{
    return argument.startsWith(QLatin1Char('/'));
}

/* Ten digits hold every value a spin box or a seed can take; longer ones are refused as malformed. */
const QRegularExpression& pairLayout()
{
    static const QRegularExpression layout(QStringLiteral("^(-?[0-9]{1,10}),(-?[0-9]{1,10})$"));
    return layout;
}

const QRegularExpression& seedLayout()
{
    static const QRegularExpression layout(QStringLiteral("^[0-9]{1,10}$"));
    return layout;
}

QString outOfBounds(const QString& argument, qlonglong value, const valueBounds& bounds)
{
    return QStringLiteral("SkerrowDriver: switch %1: %2 is outside %3..%4")
        .arg(argument)
        .arg(value)
        .arg(bounds.lowest)
        .arg(bounds.highest);
}

bool inside(qlonglong value, const valueBounds& bounds)
{
    return value >= bounds.lowest && value <= bounds.highest;
}

QString readPair(const QString& argument, const QString& name, const QString& value,
                 const pairBounds& bounds, runSwitches& switches)
{
    const QRegularExpressionMatch match = pairLayout().match(value);
    if (!match.hasMatch())
        return QStringLiteral("SkerrowDriver: malformed switch %1: expected /%2=MIN,MAX")
            .arg(argument, name);
    const qlonglong minimum = match.captured(1).toLongLong();
    const qlonglong maximum = match.captured(2).toLongLong();
    if (!inside(minimum, bounds.minimum))
        return outOfBounds(argument, minimum, bounds.minimum);
    if (!inside(maximum, bounds.maximum))
        return outOfBounds(argument, maximum, bounds.maximum);
    switches.pairs[name] = {static_cast<int>(minimum), static_cast<int>(maximum)};
    return QString();
}

QString readSeed(const QString& argument, const QString& value, runSwitches& switches)
{
    bool ok = seedLayout().match(value).hasMatch();
    const unsigned int seed = ok ? value.toUInt(&ok, 10) : 0;
    if (!ok)
        return QStringLiteral("SkerrowDriver: malformed switch %1: expected /seed=N, N from 0 to %2")
            .arg(argument)
            .arg(0xffffffffu);
    switches.seeded = true;
    switches.seed = seed;
    return QString();
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

QString readRunSwitches(const QStringList& arguments, const std::map<QString, pairBounds>& bounds,
                        runSwitches& switches)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!isSwitch(argument))
            continue;
        const int equals = argument.indexOf(QLatin1Char('='));
        /* Without "=" a pair's or the seed's name still asks for a value: malformed, not someone else's. */
        const QString name = argument.mid(1, equals < 0 ? -1 : equals - 1).toLower();
        const QString value = equals < 0 ? QString() : argument.mid(equals + 1);
        QString problem;
        if (name == QLatin1String("seed"))
            problem = readSeed(argument, value, switches);
        else if (bounds.count(name) != 0)
            problem = readPair(argument, name, value, bounds.at(name), switches);
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}
