// The test driver's loop: window messages and lines of standard input.
#ifndef TEST_DRIVER_LOOP_H
#define TEST_DRIVER_LOOP_H

#include <functional>
#include <string>

// Dispatches this thread's window messages and hands each line of standard
// input to onLine; returns when onLine returns false or the input ends.
void runCommandLoop(const std::function<bool(const std::string&)>& onLine);

#endif
