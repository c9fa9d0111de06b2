/*
 * What the test suites need from their host beyond Win32, for suites that
 * run on both hosts: scratch directories, environment variables, the path
 * of a program built beside the test and waiting for window messages.
 */
#ifndef TEST_HOST_H
#define TEST_HOST_H

#include <functional>
#include <string>

// A new, empty directory under the host's temporary directory; its path.
std::string makeScratchDirectory(const std::string& stem);

// True when the Win32 functions are Wine's: where Wine is known to stray
// from Windows, a test can say so instead of failing.
bool runningOnWine();

// Changes this process's environment, which the processes it starts inherit.
void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);

// The file of the running test executable.
std::string ownProgramPath();

// The bytes of that file.
std::string ownProgramImage();

// A program built into the directory of the running test executable, by
// its name without the host's suffix (".exe").
std::string testProgramPath(const std::string& name);

// Returns once this thread has window messages to dispatch, or after the
// bound; dispatches nothing.
void waitForMessages(int milliseconds);

// Dispatches every message waiting for this thread, sent ones included.
void dispatchPendingMessages();

// Dispatches this thread's messages until done() holds or the bound
// passes; returns done()'s last value.
bool pumpMessagesUntil(const std::function<bool()>& done, int milliseconds = 10000);

#endif
