/*
 * The real generator against the stand-in hub, each test on a desktop of its
 * own. The generator's message boxes are answered through its
 * RK_ANSWER_MESSAGE_BOXES hook, which writes what they said to its debugger
 * output (stderr here) first.
 */
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {
constexpr int boundMs = 10000;

/* Polls condition until it holds or the bound passes; true when it held. */
template <typename Condition>
bool waitFor(Condition condition, int limitMs = boundMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > limitMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

QProcessEnvironment desktopEnvironment(const QString& desktop)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("RK_DESKTOP", desktop);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("RK_ANSWER_MESSAGE_BOXES", "1");
    return environment;
}

QStringList linesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

class hubProcess {
public:
    explicit hubProcess(const QString& desktop) : dir(desktop)
    {
        process.setProcessEnvironment(desktopEnvironment(desktop));
    }
    ~hubProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(boundMs);
        }
    }

    bool start(const QStringList& options = {})
    {
        process.start(KIVSTANDIN_PATH, QStringList{"--quiet", "--ready", file("ready"), "--capture",
                                                   file("capture"), "--summary", file("summary")} +
                                           options);
        return process.waitForStarted(boundMs) &&
               waitFor([this] { return !linesOf(file("ready")).isEmpty(); });
    }

    /* Sends one command line and returns every line up to its "ok"/"error" line. */
    QStringList command(const QString& line)
    {
        process.write(line.toLatin1() + "\n");
        QStringList reply;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < boundMs) {
            if (!process.canReadLine() && !process.waitForReadyRead(100))
                continue;
            while (process.canReadLine()) {
                const QString text = QString::fromLatin1(process.readLine()).trimmed();
                reply << text;
                if (text.startsWith("ok") || text.startsWith("error"))
                    return reply;
            }
        }
        return reply << "error: no reply";
    }

    bool hasDriver(int device) { return driverWindow(device) != 0; }

    /* The window that holds the device, as the hub's status lists it; 0 when none does. */
    quint32 driverWindow(int device)
    {
        const QRegularExpression line(QString("^driver %1 ").arg(device));
        const QStringList found = command("status").filter(line);
        return found.isEmpty() ? 0 : found.first().section(' ', 2, 2).toUInt();
    }

    bool finish()
    {
        if (process.state() == QProcess::Running)
            command("quit");
        return endsWithZero();
    }

    /* After its closing announcement the hub ends once its drivers have gone. */
    bool endsWithZero()
    {
        return process.waitForFinished(boundMs) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    /* SIGSTOP for that long, then SIGCONT: a hub that answers nothing meanwhile. */
    bool stop(int ms)
    {
        const auto pid = static_cast<pid_t>(process.processId());
        if (pid <= 0 || ::kill(pid, SIGSTOP) != 0)
            return false;
        QThread::msleep(static_cast<unsigned long>(ms));
        return ::kill(pid, SIGCONT) == 0;
    }

    /* SIGKILL: the hub says no goodbye. */
    void kill()
    {
        process.kill();
        process.waitForFinished(boundMs);
    }

    QJsonObject summary() { return QJsonDocument::fromJson(readAll("summary")).object(); }
    QStringList captured() { return linesOf(file("capture")); }
    QString file(const char* name) const { return dir + "/hub." + name; }

private:
    QByteArray readAll(const char* name)
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QString dir;
    QProcess process;
};

class generatorProcess {
public:
    explicit generatorProcess(const QString& desktop)
    {
        process.setProcessEnvironment(desktopEnvironment(desktop));
    }
    ~generatorProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(boundMs);
        }
    }

    bool start(const QStringList& arguments)
    {
        process.start(SKERROWDRIVER_PATH, arguments);
        return process.waitForStarted(boundMs);
    }

    /* True when the generator ended by itself, normally, with exit code 0. */
    bool endsWithZero()
    {
        return process.waitForFinished(boundMs) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    /* The exit code of a generator that ended by itself, normally; -1 otherwise. */
    int exitCode()
    {
        if (!process.waitForFinished(boundMs) || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    bool isRunning() const { return process.state() == QProcess::Running; }
    void kill()
    {
        process.kill();
        process.waitForFinished(boundMs);
    }
    QString debugOutput()
    {
        output += QString::fromLatin1(process.readAllStandardError());
        return output;
    }

private:
    QProcess process;
    QString output;
};

/* Kills the desktop's window station and waits until that one is gone (its clients start the next). */
bool killStation(const QString& desktop)
{
    const QStringList pidLines = linesOf(desktop + "/winstation.pid");
    if (pidLines.isEmpty())
        return false;
    const pid_t pid = pidLines.first().toInt();
    if (pid <= 0 || ::kill(pid, SIGKILL) != 0)
        return false;
    return waitFor([&] {
        const QStringList now = linesOf(desktop + "/winstation.pid");
        return now.isEmpty() || now.first().toInt() != pid || ::kill(pid, 0) != 0;
    });
}

/*
 * True once the window station lists the window as claimed again after a
 * restart: the successor writes every reserved handle once when it starts
 * and again when its owner claims it. A process started before that finds
 * no such window by its class yet.
 */
bool claimedAgain(const QString& desktop, quint32 window)
{
    const QString line = QString("+ %1 ").arg(window, 8, 16, QChar('0'));
    int seen = 0;
    for (const QString& entry : linesOf(desktop + "/winstation.handles"))
        seen += entry.startsWith(line) ? 1 : 0;
    return seen >= 2;
}

struct irCommand {
    int device = 0;
    int slot = 0;
    int size = 0;
};

bool parseIr(const QString& line, irCommand& command)
{
    static const QRegularExpression layout("^IR (\\d+) (\\d+) '([^'%]*)' 0$");
    const QRegularExpressionMatch match = layout.match(line);
    if (!match.hasMatch())
        return false;
    command.device = match.captured(1).toInt();
    command.slot = match.captured(2).toInt();
    command.size = match.captured(3).size();
    return true;
}

/* The figures of the run's closing line, by key; empty unless exactly one such line was written. */
QMap<QString, QString> runFigures(const QString& debugOutput)
{
    static const QRegularExpression line("^SkerrowDriver: run: (.*)$", QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator matches = line.globalMatch(debugOutput);
    if (!matches.hasNext())
        return {};
    const QString fields = matches.next().captured(1);
    if (matches.hasNext())
        return {};
    QMap<QString, QString> figures;
    for (const QString& field : fields.split(' ', Qt::SkipEmptyParts))
        figures[field.section('=', 0, 0)] = field.section('=', 1);
    return figures;
}
}

class endToEndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> desktop;
    QString path() const { return desktop->path(); }

private slots:
    void init()
    {
        desktop = std::make_unique<QTemporaryDir>();
        QVERIFY(desktop->isValid());
    }
    void cleanup() { desktop.reset(); }

    void sendsWellFormedTrafficInsideTheFormsRangesUntilTheHubCloses()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--grace", "60"}));
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY(waitFor([&] { return hub.hasDriver(12); }));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 20; }));

        QVERIFY(hub.command("close").last().startsWith("ok close 1"));
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
        QVERIFY(generator.debugOutput().contains("Success - KIV has accepted request"));
        QVERIFY(generator.debugOutput().contains("ZUL_KIVCLOSING"));
        /* with a grace far beyond the bound, only the driver's going lets the hub end now */
        QVERIFY(hub.endsWithZero());

        const QStringList captured = hub.captured();
        for (const QString& line : captured) {
            irCommand command;
            QVERIFY2(parseIr(line, command), qPrintable(line));
            QCOMPARE(command.device, 12);
            QVERIFY(command.slot >= 1 && command.slot <= 1024);
            QVERIFY(command.size <= 255);
        }
        const QJsonObject summary = hub.summary();
        QCOMPARE(summary["malformed"].toInt(-1), 0);
        QCOMPARE(summary["messages"].toInt(), captured.size());
        QVERIFY(summary["slot_min"].toInt() >= 1 && summary["slot_max"].toInt() <= 1024);
        QVERIFY(summary["size_max"].toInt() <= 255);
        QCOMPARE(summary["drivers"].toInt(-1), 0);
    }

    /* Two runs with one seed send the same texts, inside the ranges the switches set. */
    void repeatsItsTextsForTheSameSeedAndCountsThemInItsClosingLine()
    {
        const int compared = 50;
        QList<QStringList> runs;
        for (const char* run : {"first", "second"}) {
            const QString desktopOfRun = path() + "/" + run;
            QVERIFY(QDir().mkdir(desktopOfRun));
            /* a desktop is private to its user, as the temporary directory is */
            QVERIFY(QFile::setPermissions(desktopOfRun, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                            QFileDevice::ExeOwner));
            hubProcess hub(desktopOfRun);
            QVERIFY(hub.start({"--grace", "60"}));
            generatorProcess generator(desktopOfRun);
            QVERIFY(generator.start({"12", "/enable", "/SEED=4242", "/mpt=5,5", "/tt=10,10", "/ms=3,40",
                                     "/s=100,199"}));
            QVERIFY(waitFor([&] { return hub.captured().size() >= compared; }));
            QVERIFY(hub.command("close").last().startsWith("ok close 1"));
            QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
            QVERIFY(hub.endsWithZero());

            const QMap<QString, QString> figures = runFigures(generator.debugOutput());
            QVERIFY2(!figures.isEmpty(), qPrintable(generator.debugOutput()));
            QCOMPARE(figures["commands"].toInt(), hub.summary()["messages"].toInt());
            QCOMPARE(figures["failures"], QString("0"));
            QVERIFY(figures["answer_ms_p50"].toDouble() <= figures["answer_ms_p99"].toDouble());
            QVERIFY(figures["answer_ms_p99"].toDouble() <= figures["answer_ms_max"].toDouble());
            QVERIFY(figures["seconds"].toDouble() > 0);

            const QStringList captured = hub.captured();
            for (const QString& line : captured) {
                irCommand command;
                QVERIFY2(parseIr(line, command), qPrintable(line));
                QVERIFY(command.slot >= 100 && command.slot <= 199);
                QVERIFY(command.size >= 3 && command.size <= 40);
            }
            runs << captured.mid(0, compared);
        }
        QCOMPARE(runs[0], runs[1]);
    }

    /*
     * A hub that stops answering for a second: the send inside it waits, the
     * ticks behind it are dropped by the timer, and only response times and
     * tick counts can show what the tester's system went through.
     */
    void showsAStalledHubInResponseTimesAndLateTicksButNotInAnswerTimes()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--grace", "60"}));
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable", "/tt=10,10", "/mpt=1,1", "/ms=10,10"}));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 50; }));
        QVERIFY(hub.stop(1000));
        const int afterStall = hub.captured().size() + 50;
        QVERIFY(waitFor([&] { return hub.captured().size() >= afterStall; }));
        QVERIFY(hub.command("close").last().startsWith("ok close 1"));
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));

        const QMap<QString, QString> figures = runFigures(generator.debugOutput());
        QVERIFY2(figures["late_ticks"].toInt() >= 1, qPrintable(generator.debugOutput()));
        QVERIFY2(figures["skipped_ticks"].toInt() >= 50, qPrintable(generator.debugOutput()));
        QVERIFY2(figures["response_ms_p99"].toDouble() >= 300, qPrintable(generator.debugOutput()));
        QVERIFY2(figures["answer_ms_p99"].toDouble() < 100, qPrintable(generator.debugOutput()));
        QVERIFY(figures["answer_ms_max"].toDouble() >= 900);
    }

    void refusesABadSwitchWithExitCodeTwoBeforeLookingForKiv()
    {
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable", "/ms=0,1025"}));
        QCOMPARE(generator.exitCode(), 2);
        const QString output = generator.debugOutput();
        QVERIFY2(output.contains("SkerrowDriver: switch /ms=0,1025: 1025 is outside 0..1024"), qPrintable(output));
        QVERIFY2(!output.contains("KIV") && !output.contains("message box"), qPrintable(output));
    }

    void endsWithTheHubsTimedClosing()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--seconds", "2"}));
        generatorProcess generator(path());
        QVERIFY(generator.start({"12"}));
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
        QVERIFY(hub.captured().isEmpty());
    }

    void killedMidTrafficFreesItsDeviceAtTheHub()
    {
        hubProcess hub(path());
        QVERIFY(hub.start());
        generatorProcess first(path());
        QVERIFY(first.start({"12", "/enable"}));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 5; }));
        first.kill();
        QVERIFY(waitFor([&] { return !hub.hasDriver(12); }));

        generatorProcess second(path());
        QVERIFY(second.start({"12"}));
        QVERIFY(waitFor([&] { return hub.hasDriver(12); }));
        QVERIFY(second.isRunning());
        QVERIFY(hub.command("close").last().startsWith("ok close 1"));
        QVERIFY(second.endsWithZero());
        QVERIFY(hub.endsWithZero());
        QCOMPARE(hub.summary()["malformed"].toInt(-1), 0);
    }

    void keepsItsDeviceWhenTheWindowStationIsKilledMidTraffic()
    {
        hubProcess hub(path());
        QVERIFY(hub.start());
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 5; }));
        QVERIFY(killStation(path()));

        const int before = hub.captured().size();
        QVERIFY(waitFor([&] { return hub.captured().size() >= before + 20; }));
        QVERIFY(hub.hasDriver(12));
        generatorProcess later(path());
        QVERIFY(later.start({"13"}));
        QVERIFY(waitFor([&] { return hub.hasDriver(13); }));
        QVERIFY(hub.command("close").last().startsWith("ok close 2"));
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
        QVERIFY(later.endsWithZero());
        QVERIFY(hub.endsWithZero());
        QCOMPARE(hub.summary()["malformed"].toInt(-1), 0);
    }

    void anIdleHubOutlivesTheWindowStationAndStillRefusesADuplicate()
    {
        hubProcess hub(path());
        QVERIFY(hub.start());
        generatorProcess first(path());
        QVERIFY(first.start({"12"}));
        QVERIFY(waitFor([&] { return hub.hasDriver(12); }));
        const quint32 firstWindow = hub.driverWindow(12);
        QVERIFY(killStation(path()));
        const quint32 hubWindow = linesOf(hub.file("ready")).value(0).toUInt();
        /* until its owner claims it again, a window of the old station is only reserved */
        QVERIFY(waitFor([&] { return claimedAgain(path(), hubWindow) && claimedAgain(path(), firstWindow); }));

        generatorProcess duplicate(path());
        QVERIFY(duplicate.start({"12"}));
        QVERIFY(duplicate.endsWithZero());
        QVERIFY2(duplicate.debugOutput().contains("Device ID is already running"), qPrintable(duplicate.debugOutput()));
        generatorProcess other(path());
        QVERIFY(other.start({"14"}));
        QVERIFY(waitFor([&] { return hub.hasDriver(14); }));
        QVERIFY(hub.command("close").last().startsWith("ok close"));
        QVERIFY(other.endsWithZero());
    }

    void aRefusedDuplicateLeavesTheFirstGeneratorItsDevice()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--grace", "60"}));
        generatorProcess first(path());
        QVERIFY(first.start({"12", "/enable"}));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 5; }));

        generatorProcess duplicate(path());
        QVERIFY(duplicate.start({"12"}));
        QVERIFY(duplicate.endsWithZero());
        QVERIFY2(duplicate.debugOutput().contains(
                     "Request refused - Device ID is already running on this workstation"),
                 qPrintable(duplicate.debugOutput()));
        QVERIFY(hub.hasDriver(12));
        const int before = hub.captured().size();
        QVERIFY(waitFor([&] { return hub.captured().size() >= before + 20; }));

        QVERIFY(hub.command("close").last().startsWith("ok close 1"));
        QVERIFY2(first.endsWithZero(), qPrintable(first.debugOutput()));
        QVERIFY(hub.endsWithZero());
        QCOMPARE(hub.summary()["malformed"].toInt(-1), 0);
    }

    void endsWhenTheHubSaysGoodbyeDuringRegistration()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--close-on-register", "--grace", "60"}));
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
        QVERIFY(generator.debugOutput().contains("ZUL_KIVCLOSING"));
        /* with a grace far beyond the bound, only the driver's going lets the hub end now */
        QVERIFY(hub.endsWithZero());
        QCOMPARE(hub.summary()["drivers"].toInt(-1), 0);
    }

    void endsWhenTheHubIsKilledMidTraffic()
    {
        hubProcess hub(path());
        QVERIFY(hub.start());
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY(waitFor([&] { return hub.captured().size() >= 5; }));
        hub.kill();
        QVERIFY2(generator.endsWithZero(), qPrintable(generator.debugOutput()));
        QCOMPARE(generator.debugOutput().count("KIV has gone without closing"), 1);
    }

    void endsWithZeroWithoutADeviceNumber()
    {
        generatorProcess generator(path());
        QVERIFY(generator.start({"/enable"}));
        QVERIFY(generator.endsWithZero());
        QVERIFY(generator.debugOutput().contains(
            "message box answered: SkerrowDriver: No device number supplied on the command line"));
    }

    void endsWithZeroWithoutAHub()
    {
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY(generator.endsWithZero());
        QVERIFY(generator.debugOutput().contains("Cannot find KIV"));
        QVERIFY(generator.debugOutput().contains(
            "message box answered: SkerrowDriver: Can't connect to KIV"));
    }

    void endsWithZeroWhenTheHubRefusesTheDevice()
    {
        hubProcess hub(path());
        QVERIFY(hub.start({"--driver-mode", "off"}));
        generatorProcess generator(path());
        QVERIFY(generator.start({"12", "/enable"}));
        QVERIFY(generator.endsWithZero());
        QVERIFY(generator.debugOutput().contains(
            "Request refused - KIV has not been enabled in Driver Mode"));
        QVERIFY(generator.debugOutput().contains("Can't connect to KIV"));
        QVERIFY(!hub.hasDriver(12));
        QVERIFY(hub.finish());
        QVERIFY(hub.captured().isEmpty());
    }
};

QTEST_GUILESS_MAIN(endToEndTest)
#include "tst_endToEnd.moc"
