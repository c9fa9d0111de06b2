#include "skerrowDriver.h"

#include "commandLine.h"
#include "randomSource.h"
#include "rkwin.h"
#include "trafficText.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QMessageBox>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QTimerEvent>

#include <vector>

namespace {
const char* const messageBoxCaption = "SkerrowDriver";
const char* const slotValuesInvalid = "Slot values are invalid";
const char* const valuesInvalid = "Values are invalid";

constexpr int connectionModeTelmif = 2;
constexpr int closeDelayMs = 1;
constexpr int kivWatchIntervalMs = 1000;
constexpr int figuresIntervalMs = 1000;
/* A scenario runner tells a refused command line from a run that ended badly. */
constexpr int refusedSwitchExitCode = 2;

/* A pair's switch name and its spin boxes. */
struct pairBoxes {
    const char* name;
    QSpinBox* minimum;
    QSpinBox* maximum;
};

std::vector<pairBoxes> pairsOf(const Ui::skerrowDriverClass& ui)
{
    return {{"mpt", ui.mptMin, ui.mptMax},
            {"ms", ui.msMin, ui.msMax},
            {"s", ui.sMin, ui.sMax},
            {"tt", ui.ttMin, ui.ttMax}};
}

valueBounds boundsOf(const QSpinBox* box)
{
    return {box->minimum(), box->maximum()};
}

QString millisecondsText(double ms, std::uint64_t count)
{
    return count == 0 ? QStringLiteral("-") : QString::number(ms, 'f', 3) + QStringLiteral(" ms");
}

/* Reads a pair's spin boxes and reports an empty or negative range in its label. */
void updatePair(const QSpinBox* minBox, const QSpinBox* maxBox, QLabel* info,
                const char* invalidMessage, int& minValue, int& maxValue, int& range)
{
    minValue = minBox->value();
    maxValue = maxBox->value();
    range = maxValue - minValue + 1;
    info->setText(range >= 1 ? QString() : QString::fromLatin1(invalidMessage));
}
}

skerrowDriver::skerrowDriver(QWidget* parent)
    : QMainWindow(parent), IrkDriverCallback()
{
    ui.setupUi(this);
    driver = nullptr;
    device = 0;
    tickTimer = 0;
    closeTimer = 0;

    const QStringList arguments = QCoreApplication::arguments();
    if (!readSwitches(arguments))
        return;
    seedRandom(switches.seeded ? switches.seed : GetTickCount());
    device = deviceNumberFrom(arguments);
    if (device == 0) {
        failStartup(QStringLiteral("No device number supplied on the command line"));
        return;
    }

    driver = new rkDriver(this, "rkDriver");
    if (driver->connect(device, connectionModeTelmif, 0)) {
        failStartup(QStringLiteral("Can't connect to KIV"));
        return;
    }
    watchKiv();
    connectControls();
    applySwitches();
    showFiguresEverySecond();
    if (autoEnableRequestedBy(arguments))
        ui.enabled->click();
}

skerrowDriver::~skerrowDriver()
{
    reportRun();
    if (driver) {
        delete driver;
        driver = nullptr;
    }
}

/*
 * An unattended run with a refused switch would not be the run asked for:
 * say why on the debug output, where its runner looks, and register nothing.
 * No message box, since nobody may be there to answer it.
 */
bool skerrowDriver::readSwitches(const QStringList& arguments)
{
    std::map<QString, pairBounds> bounds;
    for (const pairBoxes& pair : pairsOf(ui))
        bounds[QString::fromLatin1(pair.name)] = {boundsOf(pair.minimum), boundsOf(pair.maximum)};
    const QString problem = readRunSwitches(arguments, bounds, switches);
    if (problem.isEmpty())
        return true;
    OutputDebugStringA(problem.toLocal8Bit().constData());
    refusedExitCode = refusedSwitchExitCode;
    return false;
}

/* Through the spin boxes, so that the info labels answer as if the values were typed. */
void skerrowDriver::applySwitches()
{
    for (const pairBoxes& pair : pairsOf(ui)) {
        const auto given = switches.pairs.find(QString::fromLatin1(pair.name));
        if (given == switches.pairs.end())
            continue;
        pair.minimum->setValue(given->second.minimum);
        pair.maximum->setValue(given->second.maximum);
    }
}

/* The window cannot go on: tell the user, then close once the event loop runs. */
void skerrowDriver::failStartup(const QString& message)
{
    QMessageBox::critical(this, QString::fromLatin1(messageBoxCaption), message);
    closeSoon();
}

/* One close timer at most, whoever asks first. */
void skerrowDriver::closeSoon()
{
    if (closeTimer == 0)
        closeTimer = startTimer(closeDelayMs, Qt::CoarseTimer);
}

/*
 * A KIV that is killed says no goodbye; its window goes with it, and every
 * command after that is lost. A look once a second notices soon enough and
 * costs far less than asking after every command.
 */
void skerrowDriver::watchKiv()
{
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this, watch] {
        if (driver->isConnected())
            return;
        watch->stop();
        OutputDebugStringA("KIV has gone without closing");
        endWithKiv();
    });
    watch->start(kivWatchIntervalMs);
}

/*
 * Without KIV the generator has nothing to do: it sends no more and closes
 * once the event loop runs. KIV's goodbye may come inside a send, with that
 * command not yet counted, or while the constructor still registers, before
 * the window is shown, when closing would not end the program.
 */
void skerrowDriver::endWithKiv()
{
    stopGenerating();
    closeSoon();
}

void skerrowDriver::connectControls()
{
    connect(ui.enabled, SIGNAL(stateChanged(int)), this, SLOT(doEnable(int)));
    connect(ui.sMin, SIGNAL(valueChanged(int)), this, SLOT(slotValueChanged(int)));
    connect(ui.sMax, SIGNAL(valueChanged(int)), this, SLOT(slotValueChanged(int)));
    connect(ui.mptMin, SIGNAL(valueChanged(int)), this, SLOT(mptValueChanged(int)));
    connect(ui.mptMax, SIGNAL(valueChanged(int)), this, SLOT(mptValueChanged(int)));
    connect(ui.ttMin, SIGNAL(valueChanged(int)), this, SLOT(ttValueChanged(int)));
    connect(ui.ttMax, SIGNAL(valueChanged(int)), this, SLOT(ttValueChanged(int)));
    connect(ui.msMin, SIGNAL(valueChanged(int)), this, SLOT(msValueChanged(int)));
    connect(ui.msMax, SIGNAL(valueChanged(int)), this, SLOT(msValueChanged(int)));
}

void skerrowDriver::onTextMessage(rkDriver*, const char*) {}

void skerrowDriver::onNSMessage(int, int, const std::string&, const std::string&,
                                const std::string&)
{
}

void skerrowDriver::onStateChange(rkDriver*, int) {}

void skerrowDriver::onConnected(int) {}

/*
 * KIV let the driver go. This also arrives while the destructor deletes a
 * still registered driver; a close timer started then never runs.
 */
void skerrowDriver::onDisconnected(int)
{
    endWithKiv();
}

void skerrowDriver::onDatabaseChange(int, int, int) {}

void skerrowDriver::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == closeTimer) {
        killTimer(closeTimer);
        close();
    } else if (event->timerId() == tickTimer) {
        tick();
    }
}

/*
 * The run's line goes out once, when the window closes or, failing that,
 * when it goes. A closed window sends nothing more, so that the line counts
 * every command KIV was sent.
 */
void skerrowDriver::closeEvent(QCloseEvent* event)
{
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    stopGenerating();
    reportRun();
}

void skerrowDriver::doEnable(int state)
{
    if (state == Qt::Checked)
        startGenerating();
    else if (state == Qt::Unchecked)
        stopGenerating();
}

void skerrowDriver::slotValueChanged(int)
{
    updateSlotValues();
}

void skerrowDriver::mptValueChanged(int)
{
    updateMptValues();
}

void skerrowDriver::ttValueChanged(int)
{
    updateTtValues();
}

void skerrowDriver::msValueChanged(int)
{
    updateMsValues();
}

void skerrowDriver::startGenerating()
{
    updateSlotValues();
    updateMptValues();
    updateTtValues();
    updateMsValues();
    tickTime = drawInRange(ttMinValue, ttRange);
    if (tickTimer != 0)
        killTimer(tickTimer);
    tickTimer = startTimer(tickTime, Qt::CoarseTimer);
    figures.startTicks(trafficFigures::now(), std::chrono::milliseconds(tickTime));
    ui.ttValue->setText(QString::number(tickTime));
}

void skerrowDriver::stopGenerating()
{
    if (tickTimer == 0)
        return;
    killTimer(tickTimer);
    tickTimer = 0;
    ui.ttValue->setText(QString());
}

void skerrowDriver::tick()
{
    messagesThisTick = drawInRange(mptMinValue, mptRange);
    if (!driver)
        return;
    const auto due = figures.tickFired(trafficFigures::now(), meanOfRange(mptMinValue, mptRange));
    /*
     * KIV answers inside each send and may say goodbye there: generating
     * then stops mid-tick, and the rest of the tick is not sent.
     */
    for (int i = 0; i < messagesThisTick && tickTimer != 0; ++i)
        sendRandomCommand(due);
}

void skerrowDriver::sendRandomCommand(trafficFigures::clock::time_point due)
{
    const int slot = drawInRange(sMinValue, sRange);
    const int size = drawInRange(msMinValue, msRange);
    const std::string command = irCommandText(device, slot, randomText(size));
    /* Around the send only: KIV answers inside it, and the text's making is not its answer time. */
    const auto sent = trafficFigures::now();
    const int answer = driver->sendCommand(0, command.c_str());
    figures.record(due, sent, trafficFigures::now(), answer == 0);
}

/*
 * A label in the status bar, rewritten once a second from the counters:
 * writing it per command would cost the generator its rate.
 */
void skerrowDriver::showFiguresEverySecond()
{
    figuresLabel = new QLabel(ui.statusBar);
    ui.statusBar->addWidget(figuresLabel);
    figures.start(trafficFigures::now(), trafficFigures::utcMsNow());
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { showFigures(); });
    timer->start(figuresIntervalMs);
    showFigures();
}

void skerrowDriver::showFigures()
{
    writeSecondLines(figures.takeEndedSeconds(trafficFigures::now()));
    const secondSummary& last = figures.lastSecond();
    figuresLabel->setText(
        QStringLiteral("Device %1   Sent %2   %3 per second   Answer p50 %4, p99 %5   Failed %6   Late %7")
            .arg(device)
            .arg(figures.commands())
            .arg(static_cast<double>(last.commands), 0, 'f', 1)
            .arg(millisecondsText(last.answerP50Ms, last.answered),
                 millisecondsText(last.answerP99Ms, last.answered))
            .arg(figures.failures())
            .arg(figures.lateTicks()));
}

/* A line a second, for a runner that pools the seconds of many generators. */
void skerrowDriver::writeSecondLines(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines)
        OutputDebugStringA(line.c_str());
}

/*
 * Only a window that registered has run; the line is written once. The part
 * of a second before it gets a line of its own first, so that the seconds'
 * lines add up to the run's.
 */
void skerrowDriver::reportRun()
{
    if (figuresLabel == nullptr || runReported)
        return;
    runReported = true;
    const auto now = trafficFigures::now();
    writeSecondLines(figures.takeLastSecond(now));
    OutputDebugStringA(figures.runLine(now).c_str());
}

void skerrowDriver::updateSlotValues()
{
    updatePair(ui.sMin, ui.sMax, ui.sInfo, slotValuesInvalid, sMinValue, sMaxValue, sRange);
}

void skerrowDriver::updateMptValues()
{
    updatePair(ui.mptMin, ui.mptMax, ui.mptInfo, valuesInvalid, mptMinValue, mptMaxValue,
               mptRange);
}

void skerrowDriver::updateTtValues()
{
    updatePair(ui.ttMin, ui.ttMax, ui.ttInfo, valuesInvalid, ttMinValue, ttMaxValue, ttRange);
}

void skerrowDriver::updateMsValues()
{
    updatePair(ui.msMin, ui.msMax, ui.msInfo, valuesInvalid, msMinValue, msMaxValue, msRange);
}
