// Command line of the stand-in hub.
#ifndef HUB_OPTIONS_H
#define HUB_OPTIONS_H

#include <map>
#include <optional>
#include <string>

struct hubOptions {
    unsigned long deviceLimit = 4094;
    bool driverModeOff = false;
    std::optional<long> registerReply;
    bool failIdentity = false;
    bool noBroadcast = false;
    std::optional<long> state;
    std::map<unsigned, long> answers;
    std::optional<double> seconds;
    bool closeOnRegister = false;
    double graceSeconds = 5.0;
    std::string summaryFile;
    std::string captureFile;
    std::string seriesFile;
    std::string readyFile;
    bool quiet = false;
    bool help = false;
};

// Fills options from the arguments after the program name. Returns an empty
// text on success, else what is wrong with the command line.
std::string parseHubOptions(int argc, const char* const* argv, hubOptions& options);

const char* hubHelpText();

#endif
