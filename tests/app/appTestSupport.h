#ifndef APPTESTSUPPORT_H
#define APPTESTSUPPORT_H

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

/*
 * The window reads its command line from QCoreApplication::arguments(), which
 * Qt rebuilds from the argc/argv it was constructed with on every call. The
 * tests' application is built on a list owned here, so each test can give the
 * window a command line of its own (the program path comes first by itself).
 */
void setCommandLine(const QStringList& arguments);
int& applicationArgc();
char** applicationArgv();

/* What a message box showed before the test answered it. */
struct shownMessageBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

/*
 * While alive, answers every message box that shows with its OK button, as a
 * user would, and keeps what each one showed.
 */
class messageBoxAnswerer : public QObject {
    Q_OBJECT
public:
    messageBoxAnswerer();
    std::vector<shownMessageBox> shown;

private slots:
    void answerShownBox();

private:
    QTimer watch;
};

/* While alive, keeps every debug output line of this process instead of printing it. */
class debugCapture {
public:
    debugCapture();
    ~debugCapture();
    debugCapture(const debugCapture&) = delete;
    debugCapture& operator=(const debugCapture&) = delete;
    std::vector<std::string> lines;
};

/* The Qt timers running on object (timer id, interval, type). */
QList<QAbstractEventDispatcher::TimerInfo> timersOf(QObject* object);

/*
 * Runs the application's event loop until it ends by itself and returns its
 * result; a loop still running after 10 s is ended with -1.
 */
int runEventLoopUntilQuit();

/* main() for the window's QtTest suites: an offscreen application on the rewritable command line. */
#define APP_TEST_MAIN(TestClass)                                                   \
    int main(int argc, char** argv)                                                \
    {                                                                              \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                   \
        QApplication application(applicationArgc(), applicationArgv());           \
        TestClass test;                                                            \
        return QTest::qExec(&test, argc, argv);                                    \
    }

#endif /* APPTESTSUPPORT_H */
