/* Reading the device number and the "/enable" switch from the command line. */
#include "appTestSupport.h"
#include "commandLine.h"
#include "recordingDriver.h"
#include "skerrowDriver.h"

#include <QCheckBox>
#include <QtTest>

namespace {
QStringList withProgram(const QStringList& arguments)
{
    return QStringList("skerrowDriver") + arguments;
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
