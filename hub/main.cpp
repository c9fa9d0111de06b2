// kivstandin: a stand-in for the KIV hub, for testing drivers without a live
// system.
#include "hubLoop.h"
#include "hubOptions.h"
#include "kivStandin.h"

#include <cstdio>

int main(int argc, char** argv)
{
    hubOptions options;
    const std::string error = parseHubOptions(argc - 1, argv + 1, options);
    if (!error.empty()) {
        std::fprintf(stderr, "kivstandin: %s (see kivstandin --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(hubHelpText(), stdout);
        return 0;
    }
    kivStandin hub(options);
    if (!hub.start())
        return 1;
    const int result = runHubLoop(hub);
    hub.writeSummary();
    return result;
}
