#ifndef RECORDINGDRIVER_H
#define RECORDINGDRIVER_H

/*
 * A stand-in for the driver library, linked into the window's tests in its
 * place: rkDriver's members that the window calls are defined here and
 * record what the window asked for.
 */
#include "rkDriver.h"

#include <string>
#include <vector>

struct driverRecord {
    int constructed = 0;
    int destroyed = 0;
    std::string checkName;
    IrkDriverCallback* callback = nullptr;
    std::vector<unsigned int> connectedDevices;
    int connectionMode = -1;
    int option = -1;
    std::vector<int> commandValues;
    std::vector<std::string> commands;
    int disconnectsAtDestruction = 0;

    /* What the next connect answers: true refuses the registration. */
    bool refuseConnect = false;
    /* What sendCommand answers: KIV's 0 is a failed send. */
    int commandAnswer = 1;
};

/* The record of this process; tests reset it with resetDriverRecord(). */
driverRecord& recordedDriver();
void resetDriverRecord();

#endif /* RECORDINGDRIVER_H */
