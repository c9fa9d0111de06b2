/*
 * Qt's library path as the entry sets it before the application exists. One
 * process per case (RK_LIBRARY_PATH_CASE: both, emptySystem, rootOnly,
 * systemOnly), since the paths are fixed once the application object is
 * built. An empty variable is present all the same: D:\telm with an empty
 * system gives D:\telm\\windows\lib.
 */
#include "libraryPath.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTemporaryDir>
#include <QtTest>

class libraryPathTest : public QObject {
    Q_OBJECT

public:
    libraryPathTest(QByteArray testCase, QString mappedDirectory)
        : testCase(std::move(testCase)), mappedDirectory(std::move(mappedDirectory))
    {
    }

private:
    QByteArray testCase;
    QString mappedDirectory;

private slots:
    void keepsQtsOwnPluginDirectory()
    {
        QVERIFY(QCoreApplication::libraryPaths().contains(
            QDir(QLibraryInfo::location(QLibraryInfo::PluginsPath)).canonicalPath()));
    }

    void putsTheSystemsDirectoryFirstOnlyWhenBothVariablesArePresent()
    {
        const QStringList paths = QCoreApplication::libraryPaths();
        if (testCase == "both" || testCase == "emptySystem")
            QCOMPARE(paths.value(0), mappedDirectory);
        else
            QVERIFY(!paths.contains(mappedDirectory));
    }
};

int main(int argc, char** argv)
{
    const QByteArray testCase = qgetenv("RK_LIBRARY_PATH_CASE");
    QTemporaryDir drive;
    const QByteArray system = testCase == "emptySystem" ? "" : "lab";
    const QString mapped = drive.path() + "/telm/" + system + "/windows/lib";
    QDir().mkpath(mapped);
    qputenv("RK_DRIVE_D", drive.path().toLocal8Bit());
    qunsetenv("RK_ROOT");
    qunsetenv("RK_SYSTEM");
    if (testCase != "systemOnly")
        qputenv("RK_ROOT", "D:\\telm");
    if (testCase != "rootOnly")
        qputenv("RK_SYSTEM", system);
    qputenv("QT_QPA_PLATFORM", "offscreen");

    pointQtAtSystemLibraries();
    QApplication application(argc, argv);
    libraryPathTest test(testCase, QDir(mapped).canonicalPath());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_libraryPath.moc"
