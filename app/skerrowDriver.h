#ifndef SKERROWDRIVER_H
#define SKERROWDRIVER_H

#include "commandLine.h"
#include "rkDriver.h"
#include "trafficFigures.h"
#include "ui_skerrowDriver.h"

#include <QMainWindow>
#include <QString>

#include <string>
#include <vector>

class QCloseEvent;
class QLabel;
class QSpinBox;
class QTimerEvent;

/*
 * The generator's one main window: registers as the driver of the device
 * named on the command line and, while Enabled is ticked, sends random IR
 * commands through KIV at a tick rate drawn at enabling.
 */
class skerrowDriver : public QMainWindow, public IrkDriverCallback {
    Q_OBJECT

public:
    explicit skerrowDriver(QWidget* parent = nullptr);
    ~skerrowDriver() override;

    void onTextMessage(rkDriver* driver, const char* text) override;
    void onNSMessage(int workstation, int device, const std::string& text,
                     const std::string& word1, const std::string& word2) override;
    void onStateChange(rkDriver* driver, int state) override;
    void onConnected(int device) override;
    void onDisconnected(int device) override;
    void onDatabaseChange(int device, int database, int index) override;

    /*
     * 0, or the exit code for a command line whose switches were refused: the
     * window then registered nothing and the program ends without showing it.
     */
    int refusedCommandLineExitCode() const { return refusedExitCode; }

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void doEnable(int state);
    void slotValueChanged(int value);
    void mptValueChanged(int value);
    void ttValueChanged(int value);
    void msValueChanged(int value);

private:
    bool readSwitches(const QStringList& arguments);
    void applySwitches();
    void failStartup(const QString& message);
    void closeSoon();
    void watchKiv();
    void endWithKiv();
    void connectControls();
    void startGenerating();
    void stopGenerating();
    void tick();
    void sendRandomCommand(trafficFigures::clock::time_point due);
    void showFiguresEverySecond();
    void showFigures();
    void writeSecondLines(const std::vector<std::string>& lines);
    void reportRun();

    void updateSlotValues();
    void updateMptValues();
    void updateTtValues();
    void updateMsValues();

    Ui::skerrowDriverClass ui;
    rkDriver* driver;
    unsigned int device;
    int tickTimer;
    int closeTimer;
    /* Written by the update helpers before any tick reads them. */
    int ttMinValue = 0, ttMaxValue = 0, ttRange = 0;
    int tickTime = 0;
    int msMinValue = 0, msMaxValue = 0, msRange = 0;
    int mptMinValue = 0, mptMaxValue = 0, mptRange = 0;
    int messagesThisTick = 0;
    int sMinValue = 0, sMaxValue = 0, sRange = 0;

    runSwitches switches;
    int refusedExitCode = 0;
    trafficFigures figures;
    QLabel* figuresLabel = nullptr;
    bool runReported = false;
};

#endif /* SKERROWDRIVER_H */
