#include "recordingDriver.h"

namespace {
driverRecord record;
}

driverRecord& recordedDriver()
{
    return record;
}

void resetDriverRecord()
{
    record = driverRecord();
}

rkDriver::rkDriver(IrkDriverCallback* callback_, const std::string& checkName)
    : rkCheck(checkName.c_str()), callback(callback_), kivWindow(nullptr), messageWindow(nullptr),
      connectionMode(0), option(0), workstation(0), device(0), sentCount(0), receivedCount(0),
      lastSentCount(-1), lastReceivedCount(-1), state(0), preference(1)
{
    ++record.constructed;
    record.checkName = checkName;
    record.callback = callback_;
}

/* Like the real driver: a registered driver says goodbye to its callback while it goes. */
rkDriver::~rkDriver()
{
    if (state != 0 && callback) {
        ++record.disconnectsAtDestruction;
        callback->onDisconnected(static_cast<int>(device));
    }
    ++record.destroyed;
}

bool rkDriver::connect(unsigned int device_, int connectionMode_, int option_)
{
    device = device_;
    connectionMode = connectionMode_;
    option = option_;
    record.connectedDevices.push_back(device_);
    record.connectionMode = connectionMode_;
    record.option = option_;
    if (record.refuseConnect)
        return true;
    state = 2;
    return false;
}

/* KIV's window never goes here: a registered driver stays connected. */
bool rkDriver::isConnected() const
{
    return state != 0;
}

int rkDriver::sendCommand(int value, const char* command)
{
    ++sentCount;
    record.commandValues.push_back(value);
    record.commands.emplace_back(command);
    return record.commandAnswer;
}
