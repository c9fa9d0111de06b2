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
    "p99 (-|\\d+\\.\\d{3} ms)   Failed (\\d+)   Late (\\d+)$");

const QRegularExpression runLayout(
    "^SkerrowDriver: run: commands=(\\d+) seconds=(\\d+\\.\\d{1,2}) rate=(\\d+\\.\\d{1,2}) "
    "answer_ms_p50=(\\d+\\.\\d{3}) answer_ms_p99=(\\d+\\.\\d{3}) answer_ms_max=(\\d+\\.\\d{3}) "
    "failures=(\\d+) response_ms_p50=(\\d+\\.\\d{3}) response_ms_p99=(\\d+\\.\\d{3}) "
    "response_ms_max=(\\d+\\.\\d{3}) ticks=(\\d+) late_ticks=(\\d+) skipped_ticks=(\\d+) omitted=(\\d+) "
    "answer_ns_min=\\d+ answer_ns_max=\\d+ answer_buckets=\\S+ "
    "response_ns_min=\\d+ response_ns_max=\\d+ response_buckets=\\S+$");

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

/* A key's values summed over the seconds' lines: what a runner pooling them sees. */
std::uint64_t secondsSum(const debugCapture& debug, const QString& key)
{
    const QRegularExpression field(" " + key + "=(\\d+)");
    std::uint64_t sum = 0;
    for (const std::string& line : debug.lines)
        if (line.rfind("SkerrowDriver: second:", 0) == 0)
            sum += field.match(QString::fromStdString(line)).captured(1).toULongLong();
    return sum;
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
        timeHistogram times;
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
        timeHistogram times;
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

    void encodesTheBucketsThatHoldTimesAsDistances()
    {
        timeHistogram times;
        QCOMPARE(QString::fromStdString(times.encoded("answer")),
                 QString("answer_ns_min=0 answer_ns_max=0 answer_buckets=-"));
        for (std::uint64_t ns : {100, 1, 5, 1})
            times.add(ns);
        QCOMPARE(timeHistogram::bucketOf(100), std::size_t(100));
        QCOMPARE(QString::fromStdString(times.encoded("answer")),
                 QString("answer_ns_min=1 answer_ns_max=100 answer_buckets=1:2,4,95"));
    }

    /* Started 0.6 s into a wall-clock second: that second's line covers 0.4 s, the next ones a whole second. */
    void endsItsSecondsWhereTheWallClocksDo()
    {
        trafficFigures figures;
        const clock_::time_point start{};
        figures.start(start, 1700000000600);
        figures.startTicks(start, 100ms);
        const clock_::time_point due = figures.tickFired(start + 100ms, 2);
        QVERIFY(due == start + 100ms);
        figures.record(due, due + 10us, due + 50us, false);
        figures.record(due, due + 50us, due + 60us, true); /* a failure enters no histogram */
        QVERIFY(figures.takeEndedSeconds(start + 399ms).empty());
        figures.record(due, start + 400ms, start + 400ms + 70us, false); /* the next second's */
        const std::vector<std::string> first = figures.takeEndedSeconds(start + 400ms + 70us);
        QCOMPARE(first.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(first[0]).contains(QRegularExpression(
                     "^SkerrowDriver: second: utc=1700000001\\.000 seconds=0\\.40 commands=2 failures=1 ticks=1 "
                     "late_ticks=0 skipped_ticks=0 omitted=0 answer_ns_min=40000 answer_ns_max=40000 "
                     "answer_buckets=\\d+ response_ns_min=50000 response_ns_max=50000 response_buckets=\\d+$")),
                 first[0].c_str());
        QCOMPARE(figures.lastSecond().commands, std::uint64_t(2));
        QCOMPARE(figures.lastSecond().answered, std::uint64_t(1));
        QCOMPARE(figures.lastSecond().answerP99Ms, 0.04);

        /* a second without traffic gives no line, and the status bar shows nothing of it */
        QVERIFY(figures.takeEndedSeconds(start + 2400ms).size() == 1);
        QVERIFY(figures.takeEndedSeconds(start + 3400ms).empty());
        QCOMPARE(figures.lastSecond().commands, std::uint64_t(0));
        figures.record(due, start + 3500ms, start + 3500ms + 70us, false);
        const std::vector<std::string> last = figures.takeLastSecond(start + 3750ms);
        QCOMPARE(last.size(), std::size_t(1));
        QVERIFY2(last[0].rfind("SkerrowDriver: second: utc=1700000004.350 seconds=0.35 commands=1 ", 0) == 0,
                 last[0].c_str());
        QCOMPARE(figures.commands(), std::uint64_t(4));
        QCOMPARE(figures.failures(), std::uint64_t(1));
    }

    /* A send that blocks for a second: the ticks behind it wait, and their wait is a response time. */
    void showsAStallInResponseTimesAndTicksButNotInAnswerTimes()
    {
        trafficFigures figures;
        const clock_::time_point start{};
        figures.start(start, 0);
        figures.startTicks(start, 10ms);
        const auto sendAt = [&](clock_::time_point fired, std::chrono::microseconds answer) {
            const clock_::time_point due = figures.tickFired(fired, 1);
            figures.record(due, fired, fired + answer, false);
            return due;
        };
        for (int i = 1; i <= 50; ++i)
            QVERIFY(sendAt(start + i * 10ms, i == 50 ? 1000ms : 100us) == start + i * 10ms);
        /* tick 51 was due at 510.5 ms (the timer's slack included) and fires only once the blocked send has its answer */
        const clock_::time_point late = start + 1502ms;
        QVERIFY(sendAt(late, 100us) == start + 510500us);
        for (int i = 1; i <= 150; ++i)
            QVERIFY(sendAt(late + i * 10ms, 100us) == late + i * 10ms);
        QCOMPARE(figures.lateTicks(), std::uint64_t(1));

        const QRegularExpressionMatch line = runLayout.match(QString::fromStdString(figures.runLine(late + 2s)));
        QVERIFY(line.hasMatch());
        QCOMPARE(line.captured(1), QString("201"));
        QVERIFY2(line.captured(5).toDouble() < 0.2, qPrintable(line.captured(5))); /* answer p99 */
        QVERIFY2(line.captured(9).toDouble() > 500, qPrintable(line.captured(9))); /* response p99 */
        QCOMPARE(line.captured(10), QString("1000.000"));
        QCOMPARE(line.captured(11), QString("300")); /* ticks due: 201 fired, 99 dropped */
        QCOMPARE(line.captured(12), QString("1"));
        QCOMPARE(line.captured(13), QString("99"));
        QCOMPARE(line.captured(14), QString("99"));
    }

    void neverAddsUpATimersEarlyOrSlightlyLateFirings()
    {
        tickSchedule schedule;
        const clock_::time_point start{};
        schedule.start(start, 100ms);
        QVERIFY(schedule.fire(start + 95ms).due == start + 95ms);
        /* within the 5 % a coarse timer allows itself, a tick is on time */
        QVERIFY(schedule.fire(start + 200ms).due == start + 200ms);
        clock_::time_point fired = start + 200ms;
        for (int i = 0; i < 20; ++i) {
            fired += 107ms;
            const tickOutcome tick = schedule.fire(fired);
            QVERIFY(!tick.late && tick.skipped == 0);
            QVERIFY(tick.due == fired - 2ms);
        }
        const tickOutcome late = schedule.fire(fired + 350ms);
        QVERIFY(late.late && late.due == fired + 105ms);
        QCOMPARE(late.skipped, std::uint64_t(2));
        QVERIFY(late.firstSkippedDue == fired + 205ms);
        QVERIFY(!schedule.fire(fired + 450ms).late);
    }

    void writesTheWholeRunInTheClosingLinesLayout()
    {
        trafficFigures figures;
        const clock_::time_point start{};
        figures.start(start, 0);
        QCOMPARE(QString::fromStdString(figures.runLine(start)),
                 QString("SkerrowDriver: run: commands=0 seconds=0.00 rate=0.00 answer_ms_p50=0.000 "
                         "answer_ms_p99=0.000 answer_ms_max=0.000 failures=0 response_ms_p50=0.000 "
                         "response_ms_p99=0.000 response_ms_max=0.000 ticks=0 late_ticks=0 skipped_ticks=0 "
                         "omitted=0 answer_ns_min=0 answer_ns_max=0 answer_buckets=- response_ns_min=0 "
                         "response_ns_max=0 response_buckets=-"));
        for (int i = 1; i <= 100; ++i)
            figures.record(start, start, start + std::chrono::microseconds(10 * i), i % 25 == 0);
        figures.takeEndedSeconds(start + 1s); /* the status bar's reading leaves the run alone */
        const QRegularExpressionMatch line =
            runLayout.match(QString::fromStdString(figures.runLine(start + 8s)));
        QVERIFY(line.hasMatch());
        QCOMPARE(line.captured(1), QString("100"));
        QCOMPARE(line.captured(2), QString("8.00"));
        QCOMPARE(line.captured(3), QString("12.50"));
        /* the failed sends (every 25th) enter no answer time */
        QVERIFY(std::abs(line.captured(4).toDouble() - 0.49) <= 0.49 * 0.016);
        QVERIFY(std::abs(line.captured(5).toDouble() - 0.99) <= 0.99 * 0.016);
        QCOMPARE(line.captured(6), QString("0.990"));
        QCOMPARE(line.captured(7), QString("4"));
    }

    void showsTheDriversCountsInTheStatusBarEverySecond()
    {
        setCommandLine({"12", "/mpt=7,7", "/tt=60000,60000", "/enable"});
        skerrowDriver window;
        QLabel* label = figuresLabelOf(window);
        QVERIFY(label);
        QCOMPARE(label->text(), QString("Device 12   Sent 0   0.0 per second   Answer p50 -, p99 -   Failed 0   Late 0"));
        tick(window, 3);
        recordedDriver().commandAnswer = 0;
        tick(window, 2);
        QCOMPARE(label->text(), QString("Device 12   Sent 0   0.0 per second   Answer p50 -, p99 -   Failed 0   Late 0"));

        /* the rate and answer times are those of the last wall-clock second that ended: it may take two looks */
        QTRY_VERIFY_WITH_TIMEOUT(label->text().contains("Sent 35 ") && !label->text().contains(" 0.0 per second"),
                                 10000);
        QRegularExpressionMatch status = statusLayout.match(label->text());
        QVERIFY2(status.hasMatch(), qPrintable(label->text()));
        QCOMPARE(status.captured(2).toULongLong(), recordedDriver().commands.size());
        QCOMPARE(status.captured(6), QString("14"));
        QVERIFY(status.captured(3).toDouble() > 0);
        QVERIFY(status.captured(4) != "-" && status.captured(5) != "-");
        QVERIFY(status.captured(4).split(' ')[0].toDouble() <= status.captured(5).split(' ')[0].toDouble());

        /* a second without sends: no rate, no answer times, the totals stay */
        QTRY_VERIFY_WITH_TIMEOUT(label->text().contains(" 0.0 per second"), 10000);
        QCOMPARE(label->text(), QString("Device 12   Sent 35   0.0 per second   Answer p50 -, p99 -   Failed 14   Late 0"));
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
        QCOMPARE(secondsSum(debug, "commands"), line.captured(1).toULongLong());
        QCOMPARE(secondsSum(debug, "ticks"), line.captured(11).toULongLong());
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
