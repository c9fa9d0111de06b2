/* The generator's figures: answer-time quantiles, the status bar and the run's closing line. */
#include "appTestSupport.h"
#include "recordingDriver.h"
#include "skerrowDriver.h"
#include "trafficFigures.h"

#include <QLabel>
#include <QRegularExpression>
#include <QStatusBar>
#include <QtTest>

#include <algorithm>
#include <random>

namespace {
using namespace std::chrono_literals;
using clock_ = trafficFigures::clock;

const QRegularExpression statusLayout(
    "^Device (\\d+)   Sent (\\d+)   (\\d+\\.\\d) per second   Answer p50 (-|\\d+\\.\\d{3} ms), "
    "p99 (-|\\d+\\.\\d{3} ms)   Failed (\\d+)$");

const QRegularExpression runLayout(
    "^SkerrowDriver: run: commands=(\\d+) seconds=(\\d+\\.\\d{1,2}) rate=(\\d+\\.\\d{1,2}) "
    "answer_ms_p50=(\\d+\\.\\d{3}) answer_ms_p99=(\\d+\\.\\d{3}) answer_ms_max=(\\d+\\.\\d{3}) "
    "failures=(\\d+)$");

/* The nearest-rank quantile of the true values, in ms. */
double trueQuantileMs(std::vector<std::uint64_t> values, double q)
{
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
    return static_cast<double>(values[std::max<std::size_t>(rank, 1) - 1]) / 1e6;
}

QLabel* figuresLabelOf(skerrowDriver& window)
{
    const auto labels = window.statusBar()->findChildren<QLabel*>();
    return labels.size() == 1 ? labels[0] : nullptr;
}

void tick(skerrowDriver& window, int count)
{
    const int id = timersOf(&window).at(0).timerId;
    for (int i = 0; i < count; ++i) {
        QTimerEvent event(id);
        QCoreApplication::sendEvent(&window, &event);
    }
}

std::vector<std::string> runLines(const debugCapture& debug)
{
    std::vector<std::string> lines;
    std::copy_if(debug.lines.begin(), debug.lines.end(), std::back_inserter(lines),
                 [](const std::string& line) { return line.rfind("SkerrowDriver: run:", 0) == 0; });
    return lines;
}
}

class figuresTest : public QObject {
    Q_OBJECT

private slots:
    void init() { resetDriverRecord(); }

    void keepsShortTimesExactly()
    {
        answerTimes times;
        QCOMPARE(times.quantileMs(0.5), 0.0);
        for (std::uint64_t ns = 1; ns <= 100; ++ns)
            times.add(ns);
        QCOMPARE(times.count(), std::uint64_t(100));
        QCOMPARE(times.quantileMs(0.5), 50e-6);
        QCOMPARE(times.quantileMs(0.99), 99e-6);
        QCOMPARE(times.quantileMs(1.0), 100e-6);
        QCOMPARE(times.maxMs(), 100e-6);
        times.clear();
        QCOMPARE(times.count(), std::uint64_t(0));
        QCOMPARE(times.maxMs(), 0.0);
    }

    void readsQuantilesOfAWideSpreadWithinItsResolution()
    {
        std::mt19937_64 random(7);
        std::lognormal_distribution<double> spread(11.0, 2.0); /* around 60 us, from ns to seconds */
        std::vector<std::uint64_t> values;
        answerTimes times;
        for (int i = 0; i < 100000; ++i) {
            values.push_back(static_cast<std::uint64_t>(spread(random)));
            times.add(values.back());
        }
        times.add(std::uint64_t(1) << 63);
        values.push_back(std::uint64_t(1) << 63);
        for (double q : {0.01, 0.5, 0.9, 0.99, 0.999}) {
            const double truth = trueQuantileMs(values, q);
            QVERIFY2(std::abs(times.quantileMs(q) - truth) <= truth * 0.016 + 1e-6,
                     qPrintable(QString("q %1: %2 against %3").arg(q).arg(times.quantileMs(q)).arg(truth)));
        }
        QCOMPARE(times.maxMs(), std::ldexp(1.0, 63) / 1e6);
    }

    void startsANewIntervalEachTimeTheFiguresAreTaken()
    {
        trafficFigures figures;
        const clock_::time_point start{};
        figures.start(start);
        figures.record(40us, false);
        figures.record(60us, true);
        const intervalFigures first = figures.takeInterval(start + 500ms);
        QCOMPARE(first.commands, std::uint64_t(2));
        QCOMPARE(first.seconds, 0.5);
        QVERIFY(std::abs(first.answerP50Ms - 0.04) <= 0.04 * 0.016);
        /* the largest time is kept exactly and bounds its bucket */
        QCOMPARE(first.answerP99Ms, 0.06);
        const intervalFigures second = figures.takeInterval(start + 1500ms);
        QCOMPARE(second.commands, std::uint64_t(0));
        QCOMPARE(second.seconds, 1.0);
        QCOMPARE(second.answerP99Ms, 0.0);
        QCOMPARE(figures.commands(), std::uint64_t(2));
        QCOMPARE(figures.failures(), std::uint64_t(1));
    }

    void writesTheWholeRunInTheClosingLinesLayout()
    {
        trafficFigures figures;
        const clock_::time_point start{};
        figures.start(start);
        QCOMPARE(QString::fromStdString(figures.runLine(start)),
                 QString("SkerrowDriver: run: commands=0 seconds=0.00 rate=0.00 answer_ms_p50=0.000 "
                         "answer_ms_p99=0.000 answer_ms_max=0.000 failures=0"));
        for (int i = 1; i <= 100; ++i)
            figures.record(std::chrono::microseconds(10 * i), i % 25 == 0);
        figures.takeInterval(start + 1s); /* the status bar's reading leaves the run alone */
        const QRegularExpressionMatch line =
            runLayout.match(QString::fromStdString(figures.runLine(start + 8s)));
        QVERIFY(line.hasMatch());
        QCOMPARE(line.captured(1), QString("100"));
        QCOMPARE(line.captured(2), QString("8.00"));
        QCOMPARE(line.captured(3), QString("12.50"));
        QVERIFY(std::abs(line.captured(4).toDouble() - 0.5) <= 0.5 * 0.016);
        QVERIFY(std::abs(line.captured(5).toDouble() - 0.99) <= 0.99 * 0.016);
        QCOMPARE(line.captured(6), QString("1.000"));
        QCOMPARE(line.captured(7), QString("4"));
    }

    void showsTheDriversCountsInTheStatusBarEverySecond()
    {
        setCommandLine({"12", "/mpt=7,7", "/tt=60000,60000", "/enable"});
        skerrowDriver window;
        QLabel* label = figuresLabelOf(window);
        QVERIFY(label);
        QCOMPARE(label->text(), QString("Device 12   Sent 0   0.0 per second   Answer p50 -, p99 -   Failed 0"));
        tick(window, 3);
        recordedDriver().commandAnswer = 0;
        tick(window, 2);
        QCOMPARE(label->text(), QString("Device 12   Sent 0   0.0 per second   Answer p50 -, p99 -   Failed 0"));

        QTRY_VERIFY_WITH_TIMEOUT(label->text().contains("Sent 35 "), 10000);
        QRegularExpressionMatch status = statusLayout.match(label->text());
        QVERIFY2(status.hasMatch(), qPrintable(label->text()));
        QCOMPARE(status.captured(2).toULongLong(), recordedDriver().commands.size());
        QCOMPARE(status.captured(6), QString("14"));
        QVERIFY(status.captured(3).toDouble() > 0);
        QVERIFY(status.captured(4) != "-" && status.captured(5) != "-");
        QVERIFY(status.captured(4).split(' ')[0].toDouble() <= status.captured(5).split(' ')[0].toDouble());

        /* a second without sends: no rate, no answer times, the totals stay */
        QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(" 0.0 per second"), 10000);
        QCOMPARE(label->text(), QString("Device 12   Sent 35   0.0 per second   Answer p50 -, p99 -   Failed 14"));
    }

    void writesTheClosingLineOnceWithTheDriversCounts()
    {
        setCommandLine({"12", "/mpt=4,4", "/tt=60000,60000", "/enable"});
        debugCapture debug;
        {
            skerrowDriver window;
            window.show();
            tick(window, 5);
            recordedDriver().commandAnswer = 0;
            tick(window, 1);
            QVERIFY(runLines(debug).empty());
            window.close();
            QCOMPARE(runLines(debug).size(), std::size_t(1));
        }
        const std::vector<std::string> lines = runLines(debug);
        QCOMPARE(lines.size(), std::size_t(1));
        const QRegularExpressionMatch line = runLayout.match(QString::fromStdString(lines[0]));
        QVERIFY2(line.hasMatch(), lines[0].c_str());
        QCOMPARE(line.captured(1).toULongLong(), recordedDriver().commands.size());
        QCOMPARE(line.captured(7), QString("4"));
    }

    void writesTheClosingLineOfAWindowThatGoesUnclosed()
    {
        setCommandLine({"12"});
        debugCapture debug;
        { skerrowDriver window; }
        QCOMPARE(runLines(debug).size(), std::size_t(1));
    }

    void writesNoFiguresForAWindowThatNeverRegistered()
    {
        setCommandLine({"12"});
        recordedDriver().refuseConnect = true;
        messageBoxAnswerer answerer;
        debugCapture debug;
        {
            skerrowDriver window;
            QVERIFY(!figuresLabelOf(window));
            window.show();
            QCOMPARE(runEventLoopUntilQuit(), 0);
        }
        QVERIFY(runLines(debug).empty());
    }
};

APP_TEST_MAIN(figuresTest)
#include "tst_figures.moc"
