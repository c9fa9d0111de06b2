/*
 * bench_app [SECONDS per round, default 2]: commands per second that one generator delivers to the
 * hub at its heaviest settings (1000 messages per tick, tick time 0, sizes 0
 * to 1024), beside the rate of the driver library alone sending the same kind
 * of texts and beside the same generator with its figures left out (the
 * program bench_app_without_figures, one round per run of it); then the
 * realised tick interval at tick times of 100 and 10 ms. Each phase has a
 * stand-in hub of its own on a private desktop.
 */
#include "randomSource.h"
#include "rkDriver.h"
#include "skerrowDriver.h"
#include "trafficText.h"
#include "windowMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QAbstractEventDispatcher>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
constexpr int benchDevice = 12;
/* Answer and response histograms, tick counts and second lines cost at most this much of the rate. */
constexpr double keptTargetPercent = 97;
constexpr int readyLimitMs = 10000;

/* A stand-in hub for one phase; its message count comes from its summary. */
class hub {
public:
    explicit hub(const QString& directory) : dir(directory)
    {
        process.start(KIVSTANDIN_PATH, {"--quiet", "--summary", dir + "/summary.json", "--ready",
                                        dir + "/ready"});
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(dir + "/ready") || QFile(dir + "/ready").size() == 0) {
            if (clock.elapsed() > readyLimitMs) {
                std::fprintf(stderr, "bench_app: the hub did not start\n");
                std::exit(1);
            }
            QThread::msleep(20);
        }
    }

    /* Ends the hub and returns the messages it counted. */
    long long finish()
    {
        process.write("quit\n");
        process.waitForFinished(readyLimitMs);
        QFile summary(dir + "/summary.json");
        summary.open(QIODevice::ReadOnly);
        return QJsonDocument::fromJson(summary.readAll()).object()["messages"].toVariant().toLongLong();
    }

private:
    QString dir;
    QProcess process;
};

constexpr int rounds = 9;

/* A machine shared with other work slows some rounds, never speeds one up: the best one counts. */
double best(const std::vector<double>& rates)
{
    return *std::max_element(rates.begin(), rates.end());
}

/*
 * The machine's speed drifts over a run by more than the figures cost: the
 * ratio of each round's two neighbouring measurements, and the middle one of
 * those, follows the drift.
 */
double medianRatio(const std::vector<double>& numerators, const std::vector<double>& denominators)
{
    std::vector<double> ratios;
    for (std::size_t i = 0; i < numerators.size(); ++i)
        ratios.push_back(numerators[i] / denominators[i]);
    std::sort(ratios.begin(), ratios.end());
    return ratios[ratios.size() / 2];
}

void report(const char* what, long long messages, double seconds)
{
    std::printf("%-66s %9.0f commands/s (%lld in %.2f s)\n", what, messages / seconds, messages,
                seconds);
}

double driverAloneRate(const QString& dir, double seconds)
{
    hub kiv(dir);
    rkDriver driver(nullptr, "rkDriver");
    if (driver.connect(benchDevice, 2, 0)) {
        std::fprintf(stderr, "bench_app: the hub refused the driver\n");
        std::exit(1);
    }
    seedRandom(1);
    QElapsedTimer clock;
    clock.start();
    long long sent = 0;
    while (clock.elapsed() < seconds * 1000) {
        const std::string text = irCommandText(benchDevice, drawInRange(1, 1024), randomText(drawInRange(0, 1025)));
        driver.sendCommand(0, text.c_str());
        ++sent;
    }
    const double elapsed = clock.nsecsElapsed() / 1e9;
    driver.disconnect();
    const long long arrived = kiv.finish();
    report("driver alone, mode 2, sizes 0-1024", arrived, elapsed);
    return arrived / elapsed;
}

/* A generator window for device 12 with its pairs set as given. */
std::unique_ptr<skerrowDriver> generatorWith(int mpt, int tt, int msMax)
{
    auto window = std::make_unique<skerrowDriver>();
    auto set = [&](const char* name, int value) { window->findChild<QSpinBox*>(name)->setValue(value); };
    set("mptMin", mpt);
    set("mptMax", mpt);
    set("ttMin", tt);
    set("ttMax", tt);
    set("msMin", 0);
    set("msMax", msMax);
    return window;
}

void runEventLoopFor(double seconds)
{
    QTimer::singleShot(static_cast<int>(seconds * 1000), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

double generatorRate(const QString& dir, double seconds, const char* what)
{
    hub kiv(dir);
    auto window = generatorWith(1000, 0, 1024);
    auto* enabled = window->findChild<QCheckBox*>("enabled");
    QElapsedTimer clock;
    clock.start();
    enabled->setChecked(true);
    runEventLoopFor(seconds);
    enabled->setChecked(false);
    const double elapsed = clock.nsecsElapsed() / 1e9;
    window.reset();
    const long long arrived = kiv.finish();
    report(what, arrived, elapsed);
    return arrived / elapsed;
}

/* One round of the generator built without its figures, in a process of its own beside this one. */
double generatorWithoutFiguresRate(const QString& dir, double seconds)
{
    QProcess round;
    round.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    round.start(QCoreApplication::applicationDirPath() + "/bench_app_without_figures",
                {"--generator-round", dir, QString::number(seconds)});
    const bool finished = round.waitForFinished(static_cast<int>(seconds * 1000) + 60000);
    const QStringList lines = QString::fromLatin1(round.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    if (!finished || round.exitCode() != 0 || lines.isEmpty() || !lines.last().startsWith("rate ")) {
        std::fprintf(stderr, "bench_app: the round without figures failed\n");
        std::exit(1);
    }
    for (int i = 0; i + 1 < lines.size(); ++i)
        std::printf("%s\n", qPrintable(lines[i]));
    return lines.last().mid(5).toDouble();
}

/* Times the window's tick timer events as they arrive, before the window handles them. */
class tickClock : public QObject {
public:
    explicit tickClock(QObject* window) : window(window) { clock.start(); }
    std::vector<double> stamps;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window && event->type() == QEvent::Timer)
            stamps.push_back(clock.nsecsElapsed() / 1e6);
        return false;
    }

private:
    QObject* window;
    QElapsedTimer clock;
};

void tickInterval(const QString& dir, int tickTime, double seconds)
{
    hub kiv(dir);
    auto window = generatorWith(1, tickTime, 255);
    tickClock ticks(window.get());
    window->installEventFilter(&ticks);
    window->findChild<QCheckBox*>("enabled")->setChecked(true);
    runEventLoopFor(seconds);
    window->removeEventFilter(&ticks);
    window.reset();
    kiv.finish();

    std::vector<double> intervals;
    for (std::size_t i = 1; i < ticks.stamps.size(); ++i)
        intervals.push_back(ticks.stamps[i] - ticks.stamps[i - 1]);
    if (intervals.empty()) {
        std::printf("tick time %d ms: no ticks\n", tickTime);
        return;
    }
    std::sort(intervals.begin(), intervals.end());
    double sum = 0;
    for (double v : intervals)
        sum += v;
    const auto at = [&](double q) { return intervals[static_cast<std::size_t>(q * (intervals.size() - 1))]; };
    std::printf("tick time %4d ms: realised mean %7.2f ms, median %7.2f, p95 %7.2f, min %7.2f, max %7.2f (%zu intervals)\n",
                tickTime, sum / intervals.size(), at(0.5), at(0.95), intervals.front(), intervals.back(),
                intervals.size());
}

const char* const heaviest = "1000 per tick, tick time 0, sizes 0-1024";

#ifdef BENCH_APP_WITHOUT_FIGURES
constexpr bool withoutFiguresBuild = true;
const char* const generatorKind = "generator without figures";
#else
constexpr bool withoutFiguresBuild = false;
const char* const generatorKind = "generator";
#endif
}

int main(int argc, char** argv)
{
    const bool oneRound = argc == 4 && std::strcmp(argv[1], "--generator-round") == 0;
    if (withoutFiguresBuild && !oneRound) {
        std::fprintf(stderr, "usage: %s --generator-round DIRECTORY SECONDS (run by bench_app)\n", argv[0]);
        return 2;
    }
    const double seconds = oneRound ? std::atof(argv[3]) : argc > 1 ? std::max(1.0, std::atof(argv[1])) : 2.0;
    const std::string generatorWhat = std::string(generatorKind) + ", " + heaviest;
    QTemporaryDir work;
    const QString desktop = work.path() + "/desktop";
    QDir().mkdir(desktop);
    QFile::setPermissions(desktop, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("RK_DESKTOP", desktop.toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    /* The window reads its device number from the application's arguments. */
    static char program[] = "bench_app";
    static char device[] = "12";
    static char* windowArgv[] = {program, device, nullptr};
    int windowArgc = 2;
    QApplication application(windowArgc, windowArgv);
    serveWindowMessages(&application);
    if (oneRound) {
        std::printf("rate %.3f\n", generatorRate(QString::fromLocal8Bit(argv[2]), seconds, generatorWhat.c_str()));
        return 0;
    }

    int phase = 0;
    auto phaseDir = [&] {
        const QString dir = work.path() + QString("/phase%1").arg(++phase);
        QDir().mkdir(dir);
        return dir;
    };
    /* Alternating rounds, so that a busy moment of the machine weighs on both alike. */
    std::vector<double> alone, generator, withoutFigures;
    for (int round = 0; round < rounds; ++round) {
        alone.push_back(driverAloneRate(phaseDir(), seconds));
        /* Each goes first in every other round, so that neither always meets the machine as the other left it. */
        if (round % 2 == 0)
            generator.push_back(generatorRate(phaseDir(), seconds, generatorWhat.c_str()));
        withoutFigures.push_back(generatorWithoutFiguresRate(phaseDir(), seconds));
        if (round % 2 == 1)
            generator.push_back(generatorRate(phaseDir(), seconds, generatorWhat.c_str()));
    }
    const double aloneBest = best(alone);
    const double generatorBest = best(generator);
    const double withoutBest = best(withoutFigures);
    std::printf("best of %d rounds: driver alone %.0f commands/s, generator %.0f commands/s (%.1f %%), "
                "generator without figures %.0f commands/s (%.1f %%)\n",
                rounds, aloneBest, generatorBest, 100.0 * generatorBest / aloneBest, withoutBest,
                100.0 * withoutBest / aloneBest);
    const double kept = 100.0 * medianRatio(generator, withoutFigures);
    std::printf("the figures keep %.1f %% of the generator's rate (median of the rounds' ratios; best against "
                "best %.1f %%; target at least %.0f %%: %s)\n",
                kept, 100.0 * generatorBest / withoutBest, keptTargetPercent,
                kept >= keptTargetPercent ? "met" : "missed");
    const double tickSeconds = std::max(seconds, 3.0);
    tickInterval(phaseDir(), 100, tickSeconds);
    tickInterval(phaseDir(), 10, tickSeconds);
    return 0;
}
