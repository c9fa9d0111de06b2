#include "skerrowDriver.h"

#include "commandLine.h"
#include "randomSource.h"
#include "rkwin.h"
#include "trafficText.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <QTimerEvent>

namespace {
const char* const messageBoxCaption = "SkerrowDriver";
const char* const slotValuesInvalid = "Slot values are invalid";
const char* const valuesInvalid = "Values are invalid";

constexpr int connectionModeTelmif = 2;
constexpr int closeDelayMs = 1;
constexpr int kivWatchIntervalMs = 1000;

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
    seedRandom(GetTickCount());
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
    if (autoEnableRequestedBy(arguments))
        ui.enabled->click();
}

skerrowDriver::~skerrowDriver()
{
    if (driver) {
        delete driver;
        driver = nullptr;
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
 * Without KIV the generator has nothing to do. KIV may say goodbye while the
 * constructor still registers, before the window is shown: closing a hidden
 * window would not end the program, so the close waits for the event loop,
 * as after a failed start.
 */
void skerrowDriver::endWithKiv()
{
    if (isVisible())
        close();
    else
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
    for (int i = 0; i < messagesThisTick; ++i)
        sendRandomCommand();
}

void skerrowDriver::sendRandomCommand()
{
    const int slot = drawInRange(sMinValue, sRange);
    const int size = drawInRange(msMinValue, msRange);
    const std::string command = irCommandText(device, slot, randomText(size));
    driver->sendCommand(0, command.c_str());
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
