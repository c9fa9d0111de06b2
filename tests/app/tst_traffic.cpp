/* Enabling, the info labels and the commands each tick sends, for fixed seeds. */
#include "appTestSupport.h"
#include "randomSource.h"
#include "recordingDriver.h"
#include "skerrowDriver.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

#include <memory>
#include <regex>

namespace {
using commandList = std::vector<std::string>;

/* A window registered for device 12, its ticks driven by the test. */
class generator {
public:
    generator()
    {
        resetDriverRecord();
        setCommandLine({"12"});
        window = std::make_unique<skerrowDriver>();
    }

    QSpinBox* spin(const char* name) { return window->findChild<QSpinBox*>(name); }
    QLabel* label(const char* name) { return window->findChild<QLabel*>(name); }
    QCheckBox* enabled() { return window->findChild<QCheckBox*>("enabled"); }

    void setPair(const char* prefix, int minimum, int maximum)
    {
        spin((QByteArray(prefix) + "Min").constData())->setValue(minimum);
        spin((QByteArray(prefix) + "Max").constData())->setValue(maximum);
    }

    /* The tick time long enough that only the test's own ticks run. */
    void holdTicks() { setPair("tt", 60000, 60000); }

    void enableWithSeed(unsigned int seed)
    {
        seedRandom(seed);
        enabled()->setChecked(true);
    }

    int tickTimerId()
    {
        const auto timers = timersOf(window.get());
        return timers.size() == 1 ? timers[0].timerId : 0;
    }

    void tick(int count = 1)
    {
        const int id = tickTimerId();
        QVERIFY(id != 0);
        for (int i = 0; i < count; ++i) {
            QTimerEvent event(id);
            QCoreApplication::sendEvent(window.get(), &event);
        }
    }

    const commandList& commands() { return recordedDriver().commands; }

    std::unique_ptr<skerrowDriver> window;
};

struct parsedCommand {
    int device = 0;
    int slot = 0;
    std::string text;
};

bool parse(const std::string& command, parsedCommand& parsed)
{
    static const std::regex layout("IR (-?[0-9]+) (-?[0-9]+) '([^']*)' 0");
    std::smatch match;
    if (!std::regex_match(command, match, layout))
        return false;
    parsed.device = std::stoi(match[1]);
    parsed.slot = std::stoi(match[2]);
    parsed.text = match[3];
    return true;
}
}

class trafficTest : public QObject {
    Q_OBJECT

private slots:
    void drawsFromTheWindowsRuntimeSequence()
    {
        seedRandom(1);
        const int known[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
        for (int value : known)
            QCOMPARE(drawRandom(), value);
    }

    void staysWithinZeroTo32767()
    {
        seedRandom(0xdeadbeef);
        int largest = 0;
        for (int i = 0; i < 200000; ++i) {
            const int r = drawRandom();
            QVERIFY(r >= 0 && r <= randomMax);
            largest = std::max(largest, r);
        }
        QVERIFY(largest > 32000);
    }

    void showsTheTickTimeDrawnAtEnablingAndStartsACoarseTimerWithIt()
    {
        generator g;
        g.enableWithSeed(1);
        QCOMPARE(g.label("ttValue")->text(), QString("141"));
        const auto timers = timersOf(g.window.get());
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers[0].interval, 141);
        QCOMPARE(timers[0].timerType, Qt::CoarseTimer);
    }

    void sendsTheExactCommandsOfAFixedSeedInDrawOrder()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 1, 2);
        g.setPair("ms", 0, 5);
        g.enableWithSeed(1);
        g.tick(2);
        const commandList expected = {"IR 12 191 'jQn#' 0", "IR 12 339 '&9' 0",
                                      "IR 12 444 '0' 0", "IR 12 948 'm5' 0"};
        QCOMPARE(g.commands(), expected);
        QCOMPARE(recordedDriver().commandValues, std::vector<int>(4, 0));
    }

    void turnsApostropheAndPercentIntoTheNextCharacter()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 1, 1);
        g.setPair("s", 1, 1);
        g.setPair("ms", 6, 6);
        g.enableWithSeed(40);
        g.tick();
        QCOMPARE(g.commands(), commandList{"IR 12 1 '(vq(e&' 0"});
    }

    void neverSendsAnApostropheOrPercentInsideTheText()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 50, 50);
        g.setPair("ms", 200, 255);
        g.enableWithSeed(7);
        g.tick(20);
        QCOMPARE(g.commands().size(), std::size_t(1000));
        int parentheses = 0;
        for (const std::string& command : g.commands()) {
            parsedCommand parsed;
            QVERIFY2(parse(command, parsed), command.c_str());
            QVERIFY(parsed.text.find('%') == std::string::npos);
            parentheses += static_cast<int>(std::count(parsed.text.begin(), parsed.text.end(), '('));
        }
        QVERIFY(parentheses > 0);
    }

    void keepsEveryValueInsideTheFormsStartRanges()
    {
        generator g;
        g.enableWithSeed(99);
        const int tickTime = g.label("ttValue")->text().toInt();
        QVERIFY(tickTime >= 100 && tickTime <= 1000);
        g.tick(50);
        QVERIFY(g.commands().size() >= 50 && g.commands().size() <= 500);
        for (const std::string& command : g.commands()) {
            parsedCommand parsed;
            QVERIFY2(parse(command, parsed), command.c_str());
            QCOMPARE(parsed.device, 12);
            QVERIFY(parsed.slot >= 1 && parsed.slot <= 1024);
            QVERIFY(parsed.text.size() <= 255);
            for (char c : parsed.text)
                QVERIFY(c >= ' ' && c <= '~');
        }
    }

    void stillDrawsTheCountOfATickThatSendsNothing()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 0, 0);
        g.setPair("ms", 0, 0);
        g.enableWithSeed(1);
        g.tick(3);
        QVERIFY(g.commands().empty());
        g.setPair("mpt", 1, 1);
        g.tick();
        /* draws: tick time, three counts, this count, then 15724 for the slot */
        QCOMPARE(g.commands(), commandList{"IR 12 365 '' 0"});
    }

    void sendsEmptyTextsForSizeZero()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 1, 1);
        g.setPair("s", 3, 3);
        g.setPair("ms", 0, 0);
        g.enableWithSeed(5);
        g.tick(2);
        QCOMPARE(g.commands(), commandList(2, "IR 12 3 '' 0"));
    }

    void startsAZeroIntervalTimerForTickTimeZero()
    {
        generator g;
        g.setPair("tt", 0, 0);
        g.enableWithSeed(3);
        QCOMPARE(g.label("ttValue")->text(), QString("0"));
        QCOMPARE(timersOf(g.window.get()).size(), 1);
        QCOMPARE(timersOf(g.window.get())[0].interval, 0);
        QTRY_VERIFY_WITH_TIMEOUT(g.commands().size() >= 20, 10000);
    }

    /* r never passes 32767, so a range wider than that never reaches its top. */
    void neverDrawsATickTimeAbove32867From100To60000()
    {
        generator g;
        g.setPair("tt", 100, 60000);
        seedRandom(1);
        int longest = 0;
        for (int i = 0; i < 2000; ++i) {
            g.enabled()->setChecked(true);
            longest = std::max(longest, g.label("ttValue")->text().toInt());
            g.enabled()->setChecked(false);
        }
        QVERIFY2(longest <= 32867, qPrintable(QString::number(longest)));
        QVERIFY(longest > 32000);
    }

    void runsNegativeRangesUpwardsFromTheMinimum()
    {
        generator g;
        g.setPair("tt", 20, 19);
        g.setPair("mpt", 3, 1);
        g.setPair("s", 10, 5);
        g.setPair("ms", 2, 1);
        g.enableWithSeed(1);
        QCOMPARE(g.label("ttValue")->text(), QString("20"));
        QCOMPARE(g.label("sInfo")->text(), QString("Slot values are invalid"));
        QCOMPARE(g.label("mptInfo")->text(), QString("Values are invalid"));
        g.tick(2);
        const commandList expected = {"IR 12 12 'jQ' 0", "IR 12 12 'mQ' 0",  "IR 12 11 '&,' 0",
                                      "IR 12 13 'cm' 0", "IR 12 10 'e(' 0", "IR 12 11 '@D' 0"};
        QCOMPARE(g.commands(), expected);
    }

    /* A range of 0 has nothing to draw from: the value is the minimum, the draw is still taken. */
    void takesTheMinimumOfAPairWithRangeZero()
    {
        generator g;
        g.setPair("tt", 20, 19);
        g.setPair("mpt", 3, 2);
        g.setPair("s", 7, 6);
        g.setPair("ms", 5, 4);
        g.enableWithSeed(7);
        QCOMPARE(g.label("ttValue")->text(), QString("20"));
        for (const char* info : {"mptInfo", "ttInfo", "msInfo"})
            QCOMPARE(g.label(info)->text(), QString("Values are invalid"));
        QCOMPARE(g.label("sInfo")->text(), QString("Slot values are invalid"));
        g.tick();
        const commandList expected = {"IR 12 7 'DXE.r' 0", "IR 12 7 '$YDhH' 0",
                                      "IR 12 7 'J;/aR' 0"};
        QCOMPARE(g.commands(), expected);
    }

    void showsAndClearsEachPairsMessageAsItsSpinBoxesChange()
    {
        generator g;
        const std::vector<std::pair<const char*, QString>> pairs = {
            {"s", "Slot values are invalid"}, {"mpt", "Values are invalid"},
            {"tt", "Values are invalid"}, {"ms", "Values are invalid"}};
        for (const auto& [prefix, message] : pairs) {
            const QByteArray info = QByteArray(prefix) + "Info";
            g.spin((QByteArray(prefix) + "Min").constData())->setValue(500);
            g.spin((QByteArray(prefix) + "Max").constData())->setValue(400);
            QCOMPARE(g.label(info.constData())->text(), message);
            g.spin((QByteArray(prefix) + "Max").constData())->setValue(499);
            QCOMPARE(g.label(info.constData())->text(), message);
            g.spin((QByteArray(prefix) + "Min").constData())->setValue(499);
            QVERIFY(g.label(info.constData())->text().isEmpty());
        }
        QVERIFY(g.commands().empty());
    }

    void stopsAndClearsTheValueWhenUnticked()
    {
        generator g;
        g.enableWithSeed(1);
        g.enabled()->setChecked(false);
        QVERIFY(g.label("ttValue")->text().isEmpty());
        QVERIFY(timersOf(g.window.get()).isEmpty());
    }

    void drawsANewTickTimeOnReEnablingWithOneTimerOnly()
    {
        generator g;
        g.enableWithSeed(1);
        g.enabled()->setChecked(false);
        g.enableWithSeed(1);
        QCOMPARE(g.label("ttValue")->text(), QString("141"));
        seedRandom(2);
        g.enabled()->setChecked(false);
        g.enabled()->setChecked(true);
        /* seed 2 starts 45: 100 + 45 mod 901 */
        QCOMPARE(g.label("ttValue")->text(), QString("145"));
        QCOMPARE(timersOf(g.window.get()).size(), 1);
        QCOMPARE(timersOf(g.window.get())[0].interval, 145);
    }

    void ignoresAPartlyCheckedBox()
    {
        generator g;
        g.enableWithSeed(1);
        g.enabled()->setCheckState(Qt::PartiallyChecked);
        QCOMPARE(g.label("ttValue")->text(), QString("141"));
        QCOMPARE(timersOf(g.window.get()).size(), 1);
    }

    void keepsTheRunningIntervalWhenTheTickTimeChanges()
    {
        generator g;
        g.enableWithSeed(1);
        g.setPair("tt", 2000, 1000);
        QCOMPARE(g.label("ttInfo")->text(), QString("Values are invalid"));
        QCOMPARE(g.label("ttValue")->text(), QString("141"));
        QCOMPARE(timersOf(g.window.get())[0].interval, 141);
    }

    void appliesOtherPairChangesAtTheNextTick()
    {
        generator g;
        g.holdTicks();
        g.setPair("mpt", 1, 1);
        g.enableWithSeed(4);
        g.setPair("s", 77, 77);
        g.setPair("ms", 1, 1);
        g.tick();
        QCOMPARE(g.commands().size(), std::size_t(1));
        QVERIFY(g.commands()[0].rfind("IR 12 77 '", 0) == 0);
        QCOMPARE(g.commands()[0].size(), std::string("IR 12 77 'x' 0").size());
    }
};

APP_TEST_MAIN(trafficTest)
#include "tst_traffic.moc"
