/*
 * The test process's own desktop, for the tests that create windows in the
 * test process itself. Set up before the first window of the run and
 * removed with its station at the end.
 */
#ifndef LOCALDESKTOP_H
#define LOCALDESKTOP_H

#include <gtest/gtest.h>
#include <deque>
#include <string>
#include <vector>

#include "rkwin.h"

/* What a window procedure of the local tests was told, in order. */
struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class LocalWindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /* A fresh class served by the recording procedure. */
    const char* registerRecordingClass(int extraBytes = 0);
    HWND createRecordingWindow(HWND parent = HWND_MESSAGE, LPVOID param = nullptr);
    std::vector<UINT> receivedMessages() const;

    static std::vector<Received> log;
    /* What WM_NCCREATE and WM_CREATE answer */
    static LRESULT ncCreateAnswer;
    static LRESULT createAnswer;
    static LPVOID createParamSeen;

private:
    static LRESULT CALLBACK recordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    std::deque<std::string> classNames_; /* stable: callers keep the names */
    std::vector<HWND> windows_;
};

#endif
