// The stand-in hub's event loop: window messages, standard input, signals
// and a tick at least four times a second. One version per host.
#ifndef HUB_LOOP_H
#define HUB_LOOP_H

class kivStandin;

// Runs until the hub has finished; returns the exit code.
int runHubLoop(kivStandin& hub);

#endif
