/* Reading the device number and the switches from the command line. */
#include "appTestSupport.h"
#include "commandLine.h"
#include "recordingDriver.h"
#include "skerrowDriver.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

namespace {
QStringList withProgram(const QStringList& arguments)
{
    return QStringList("skerrowDriver") + arguments;
}

/* The form's bounds, with a maximum box narrower than its minimum box to tell the two apart. */
const std::map<QString, pairBounds> testBounds = {{"mpt", {{0, 1000}, {0, 1000}}},
                                                  {"s", {{0, 1024}, {5, 1024}}}};

QString readInto(const QStringList& arguments, runSwitches& switches)
{
    return readRunSwitches(withProgram(arguments), testBounds, switches);
}
}

class commandLineTest : public QObject {
    Q_OBJECT

private slots:
    void init() { resetDriverRecord(); }

    void takesTheLastArgumentThatIsNotASwitch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<unsigned int>("device");
        QTest::newRow("12") << QStringList{"12"} << 12u;
        QTest::newRow("/debug 12") << QStringList{"/debug", "12"} << 12u;
        QTest::newRow("12 /x") << QStringList{"12", "/x"} << 12u;
        QTest::newRow("12 13") << QStringList{"12", "13"} << 13u;
        QTest::newRow("12 abc") << QStringList{"12", "abc"} << 0u;
        QTest::newRow("none") << QStringList{} << 0u;
        QTest::newRow("0") << QStringList{"0"} << 0u;
        QTest::newRow("/12") << QStringList{"/12"} << 0u;
        QTest::newRow("-5") << QStringList{"-5"} << 0u;
        QTest::newRow("0x10") << QStringList{"0x10"} << 0u;
        QTest::newRow("12 /enable") << QStringList{"12", "/enable"} << 12u;
        QTest::newRow("4294967295") << QStringList{"4294967295"} << 4294967295u;
        QTest::newRow("4294967296") << QStringList{"4294967296"} << 0u;
        QTest::newRow("12 /seed=7 /mpt=1,2") << QStringList{"12", "/seed=7", "/mpt=1,2"} << 12u;
        QTest::newRow("/seed=7") << QStringList{"/seed=7"} << 0u;
    }
    void takesTheLastArgumentThatIsNotASwitch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(unsigned int, device);
        QCOMPARE(deviceNumberFrom(withProgram(arguments)), device);
    }

    void neverReadsTheProgramPathAsADeviceNumber()
    {
        QCOMPARE(deviceNumberFrom(QStringList{"17"}), 0u);
    }

    void asksForAutomaticEnablingOnlyWithTheEnableSwitch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("requested");
        QTest::newRow("12") << QStringList{"12"} << false;
        QTest::newRow("12 /enable") << QStringList{"12", "/enable"} << true;
        QTest::newRow("/ENABLE 12") << QStringList{"/ENABLE", "12"} << true;
        QTest::newRow("12 enable") << QStringList{"12", "enable"} << false;
        QTest::newRow("12 /enabled") << QStringList{"12", "/enabled"} << false;
    }
    void asksForAutomaticEnablingOnlyWithTheEnableSwitch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, requested);
        QCOMPARE(autoEnableRequestedBy(withProgram(arguments)), requested);
    }

    void readsPairsAndTheSeedInAnyLetterCase()
    {
        runSwitches switches;
        QVERIFY(readInto({"/MPT=3,7", "12", "/Seed=4294967295", "/s=1024,5", "/enable", "/x=1"},
                         switches).isEmpty());
        QCOMPARE(switches.pairs.size(), std::size_t(2));
        QCOMPARE(switches.pairs["mpt"].minimum, 3);
        QCOMPARE(switches.pairs["mpt"].maximum, 7);
        /* the form lets a minimum above its maximum be typed, so the switch may set one */
        QCOMPARE(switches.pairs["s"].minimum, 1024);
        QCOMPARE(switches.pairs["s"].maximum, 5);
        QVERIFY(switches.seeded);
        QCOMPARE(switches.seed, 4294967295u);
    }

    void takesTheLastOfARepeatedSwitch()
    {
        runSwitches switches;
        QVERIFY(readInto({"/mpt=1,2", "/seed=1", "/mpt=5,6", "/seed=0"}, switches).isEmpty());
        QCOMPARE(switches.pairs["mpt"].minimum, 5);
        QCOMPARE(switches.seed, 0u);
        QVERIFY(readInto({"12", "/enable"}, switches = runSwitches()).isEmpty());
        QVERIFY(switches.pairs.empty() && !switches.seeded);
    }

    void refusesMalformedAndOutOfBoundsSwitches_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("problem");
        const QString pairLayout = "SkerrowDriver: malformed switch %1: expected /%2=MIN,MAX";
        const QString seedLayout = "SkerrowDriver: malformed switch %1: expected /seed=N, N from 0 to 4294967295";
        for (const char* bad : {"/mpt", "/mpt=", "/mpt=5", "/mpt=1,2,3", "/mpt=a,2", "/mpt= 1,2",
                                "/MPT=1;2", "/mpt=+1,2", "/mpt=12345678901,2"})
            QTest::newRow(bad) << QStringList{"12", bad} << pairLayout.arg(bad, "mpt");
        for (const char* bad : {"/seed", "/seed=", "/seed=-1", "/seed=4294967296", "/seed=0x10", "/SEED=1 "})
            QTest::newRow(bad) << QStringList{bad, "12"} << seedLayout.arg(bad);
        QTest::newRow("max above") << QStringList{"/mpt=0,1001"}
                                   << "SkerrowDriver: switch /mpt=0,1001: 1001 is outside 0..1000";
        QTest::newRow("negative") << QStringList{"/mpt=-1,3"}
                                  << "SkerrowDriver: switch /mpt=-1,3: -1 is outside 0..1000";
        QTest::newRow("each box its own") << QStringList{"/s=4,4"}
                                          << "SkerrowDriver: switch /s=4,4: 4 is outside 5..1024";
        QTest::newRow("first refused") << QStringList{"/mpt=1,2", "/s=1,2000", "/seed=x"}
                                       << "SkerrowDriver: switch /s=1,2000: 2000 is outside 5..1024";
    }
    void refusesMalformedAndOutOfBoundsSwitches()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, problem);
        runSwitches switches;
        QCOMPARE(readInto(arguments, switches), problem);
    }

    void setsTheSpinBoxesAsIfTypedBeforeEnabling()
    {
        setCommandLine({"12", "/mpt=3,7", "/MS=0,1024", "/s=10,5", "/tt=20,20", "/enable"});
        skerrowDriver window;
        const std::vector<std::pair<const char*, int>> expected = {
            {"mptMin", 3}, {"mptMax", 7}, {"msMin", 0}, {"msMax", 1024},
            {"sMin", 10}, {"sMax", 5}, {"ttMin", 20}, {"ttMax", 20}};
        for (const auto& [name, value] : expected)
            QCOMPARE(window.findChild<QSpinBox*>(name)->value(), value);
        QCOMPARE(window.findChild<QLabel*>("sInfo")->text(), QString("Slot values are invalid"));
        QVERIFY(window.findChild<QLabel*>("mptInfo")->text().isEmpty());
        QCOMPARE(window.findChild<QLabel*>("ttValue")->text(), QString("20"));
        QCOMPARE(window.refusedCommandLineExitCode(), 0);
    }

    /* The same texts as the fixed seed of the traffic suite, with the seed from the command line. */
    void seedsTheRandomSourceWithTheSeedSwitch()
    {
        setCommandLine({"12", "/seed=1", "/mpt=1,2", "/ms=0,5", "/tt=60000,60000", "/enable"});
        skerrowDriver window;
        const int tickTimer = timersOf(&window).at(0).timerId;
        for (int i = 0; i < 2; ++i) {
            QTimerEvent tick(tickTimer);
            QCoreApplication::sendEvent(&window, &tick);
        }
        const std::vector<std::string> expected = {"IR 12 191 'jQn#' 0", "IR 12 339 '&9' 0",
                                                   "IR 12 444 '0' 0", "IR 12 948 'm5' 0"};
        QCOMPARE(recordedDriver().commands, expected);
    }

    void refusesABadSwitchOnTheDebugOutputBeforeRegistering()
    {
        setCommandLine({"12", "/tt=0,60001", "/enable"});
        messageBoxAnswerer answerer;
        debugCapture debug;
        skerrowDriver window;
        QCOMPARE(window.refusedCommandLineExitCode(), 2);
        QCOMPARE(recordedDriver().constructed, 0);
        QCOMPARE(debug.lines,
                 std::vector<std::string>{"SkerrowDriver: switch /tt=0,60001: 60001 is outside 0..60000"});
        QVERIFY(timersOf(&window).isEmpty());
        QCOMPARE(window.findChild<QSpinBox*>("ttMax")->value(), 1000);
        /* a box would have been shown and answered inside the constructor */
        QVERIFY(answerer.shown.empty());
    }

    void registersTheWindowAsDriverOfTheParsedDevice()
    {
        setCommandLine({"/debug", "12", "13", "/x"});
        skerrowDriver window;
        QCOMPARE(recordedDriver().constructed, 1);
        QCOMPARE(recordedDriver().checkName, std::string("rkDriver"));
        QCOMPARE(recordedDriver().callback, static_cast<IrkDriverCallback*>(&window));
        QCOMPARE(recordedDriver().connectedDevices, std::vector<unsigned int>{13});
        QCOMPARE(recordedDriver().connectionMode, 2);
        QCOMPARE(recordedDriver().option, 0);
    }

    void createsNoDriverWhenTheLastNumberIsNotANumber()
    {
        setCommandLine({"12", "abc"});
        messageBoxAnswerer answerer;
        skerrowDriver window;
        QCOMPARE(recordedDriver().constructed, 0);
        QCOMPARE(answerer.shown.size(), std::size_t(1));
        QCOMPARE(answerer.shown[0].text, QString("No device number supplied on the command line"));
    }

    void ticksEnabledAfterRegistrationWhenAskedTo()
    {
        setCommandLine({"12", "/enable"});
        skerrowDriver window;
        auto* enabled = window.findChild<QCheckBox*>("enabled");
        QVERIFY(enabled->isChecked());
        QCOMPARE(timersOf(&window).size(), 1);
    }

    void leavesEnabledAloneWhenRegistrationFails()
    {
        setCommandLine({"12", "/enable"});
        recordedDriver().refuseConnect = true;
        messageBoxAnswerer answerer;
        skerrowDriver window;
        QVERIFY(!window.findChild<QCheckBox*>("enabled")->isChecked());
        QCOMPARE(answerer.shown.size(), std::size_t(1));
    }
};

APP_TEST_MAIN(commandLineTest)
#include "tst_commandLine.moc"
