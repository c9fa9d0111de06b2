/* The generator window's start-up, its failures, its callbacks and its end. */
#include "appTestSupport.h"
#include "recordingDriver.h"
#include "skerrowDriver.h"

#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>
#include <QtTest>

#include <memory>

namespace {
const QString noDevice = "No device number supplied on the command line";
const QString noKiv = "Can't connect to KIV";

void expectOneCriticalBox(const messageBoxAnswerer& answerer, const QString& text)
{
    QCOMPARE(answerer.shown.size(), std::size_t(1));
    const shownMessageBox& box = answerer.shown[0];
    QCOMPARE(box.caption, QString("SkerrowDriver"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

/*
 * The one timer the constructor leaves after a failure: 1 ms (Qt runs coarse
 * timers this short as precise ones, so the type is not visible here).
 */
void expectCloseTimerOnly(skerrowDriver& window)
{
    const auto timers = timersOf(&window);
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers[0].interval, 1);
}
}

class startupTest : public QObject {
    Q_OBJECT

private slots:
    void init() { resetDriverRecord(); }

    void reportsAMissingDeviceNumberAndExitsWithZeroThroughTheCloseTimer()
    {
        setCommandLine({});
        messageBoxAnswerer answerer;
        skerrowDriver window;
        expectOneCriticalBox(answerer, noDevice);
        QCOMPARE(recordedDriver().constructed, 0);
        expectCloseTimerOnly(window);
        window.show();
        QCOMPARE(runEventLoopUntilQuit(), 0);
        QVERIFY(!window.isVisible());
        QVERIFY(timersOf(&window).isEmpty());
    }

    void reportsARefusedRegistrationAndExitsWithZeroThroughTheCloseTimer()
    {
        setCommandLine({"12"});
        recordedDriver().refuseConnect = true;
        messageBoxAnswerer answerer;
        {
            skerrowDriver window;
            expectOneCriticalBox(answerer, noKiv);
            QCOMPARE(recordedDriver().connectedDevices, std::vector<unsigned int>{12});
            expectCloseTimerOnly(window);
            window.show();
            QCOMPARE(runEventLoopUntilQuit(), 0);
            QVERIFY(!window.isVisible());
            QCOMPARE(recordedDriver().destroyed, 0);
        }
        QCOMPARE(recordedDriver().destroyed, 1);
    }

    void leavesTheControlsInertAfterAFailedStart()
    {
        setCommandLine({"12"});
        recordedDriver().refuseConnect = true;
        messageBoxAnswerer answerer;
        skerrowDriver window;
        window.findChild<QCheckBox*>("enabled")->click();
        window.findChild<QSpinBox*>("sMin")->setValue(1024);
        window.findChild<QSpinBox*>("sMax")->setValue(5);
        QVERIFY(window.findChild<QLabel*>("ttValue")->text().isEmpty());
        QVERIFY(window.findChild<QLabel*>("sInfo")->text().isEmpty());
        expectCloseTimerOnly(window);
    }

    void showsNoMessageAfterASuccessfulRegistration()
    {
        setCommandLine({"12"});
        messageBoxAnswerer answerer;
        skerrowDriver window;
        QVERIFY(answerer.shown.empty());
        QVERIFY(timersOf(&window).isEmpty());
    }

    void closesWhenTheDriverIsDisconnected()
    {
        setCommandLine({"12"});
        skerrowDriver window;
        window.show();
        QVERIFY(window.isVisible());
        recordedDriver().callback->onDisconnected(12);
        /* the goodbye may come inside a send, so the close waits for the event loop */
        QTRY_VERIFY(!window.isVisible());
    }

    void ignoresEveryOtherNotification()
    {
        setCommandLine({"12"});
        skerrowDriver window;
        window.show();
        IrkDriverCallback* callback = recordedDriver().callback;
        callback->onTextMessage(nullptr, "NS 12 0 'hi' 3 a b");
        callback->onNSMessage(3, 12, "hi", "a", "b");
        callback->onStateChange(nullptr, 1);
        callback->onConnected(12);
        callback->onDatabaseChange(12, 3, 5);
        QVERIFY(window.isVisible());
        QVERIFY(recordedDriver().commands.empty());
        QVERIFY(timersOf(&window).isEmpty());
    }

    void deletesItsDriverAndSurvivesTheGoodbyeDuringDestruction()
    {
        setCommandLine({"12"});
        auto window = std::make_unique<skerrowDriver>();
        window->show();
        window.reset();
        QCOMPARE(recordedDriver().destroyed, 1);
        QCOMPARE(recordedDriver().disconnectsAtDestruction, 1);
    }

    void survivesTheGoodbyeOfADriverWhoseWindowWasAlreadyClosed()
    {
        setCommandLine({"12"});
        auto window = std::make_unique<skerrowDriver>();
        window->show();
        window->close();
        window.reset();
        QCOMPARE(recordedDriver().disconnectsAtDestruction, 1);
    }

    void answersCastsToItselfAndToItsCallbackFace()
    {
        setCommandLine({"12"});
        skerrowDriver window;
        QCOMPARE(window.qt_metacast("skerrowDriver"), static_cast<void*>(&window));
        QCOMPARE(window.qt_metacast("IrkDriverCallback"),
                 static_cast<void*>(static_cast<IrkDriverCallback*>(&window)));
        QCOMPARE(window.qt_metacast("QMainWindow"),
                 static_cast<void*>(static_cast<QMainWindow*>(&window)));
        QCOMPARE(window.qt_metacast("nothing"), nullptr);
    }

    void declaresItsFiveSlotsInOrder()
    {
        const QMetaObject& meta = skerrowDriver::staticMetaObject;
        QCOMPARE(meta.className(), "skerrowDriver");
        QCOMPARE(meta.superClass(), &QMainWindow::staticMetaObject);
        QCOMPARE(meta.methodCount() - meta.methodOffset(), 5);
        const char* slotSignatures[] = {"doEnable(int)", "slotValueChanged(int)", "mptValueChanged(int)",
                               "ttValueChanged(int)", "msValueChanged(int)"};
        for (int i = 0; i < 5; ++i) {
            const QMetaMethod slot = meta.method(meta.methodOffset() + i);
            QCOMPARE(slot.methodSignature(), QByteArray(slotSignatures[i]));
            QCOMPARE(slot.methodType(), QMetaMethod::Slot);
            QCOMPARE(slot.access(), QMetaMethod::Private);
            QCOMPARE(slot.parameterNames(), QList<QByteArray>{i == 0 ? "state" : "value"});
        }
        QCOMPARE(meta.propertyCount(), meta.propertyOffset());
    }
};

APP_TEST_MAIN(startupTest)
#include "tst_startup.moc"
