// An in-process driver of device 5 in connection mode 1, registered at a
// stand-in KIV window of the same process on a private desktop, for
// feeding the driver's message window foreign WM_COPYDATA. KIV's window
// records what reaches it; the driver's callback records what it is told.
#ifndef RK_FUZZ_RELAY_HARNESS_H
#define RK_FUZZ_RELAY_HARNESS_H

#include "rkDriver.h"
#include "rkwin.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace rkfuzz {

struct copyArrival {
    ULONG_PTR dwData = 0;
    std::string bytes;
};

class recordingCallback : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver* driver, const char* text) override;
    void onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                     const std::string& word2) override;
    void onStateChange(rkDriver* driver, int state) override;
    void onDisconnected(int device) override;
    void onDatabaseChange(int device, int database, int index) override;

    std::vector<std::string> events;
};

class standInKiv {
public:
    standInKiv();
    standInKiv(const standInKiv&) = delete;
    standInKiv& operator=(const standInKiv&) = delete;

    HWND handle() const { return window_; }

    std::vector<copyArrival> copies; // every WM_COPYDATA, as it came
    size_t otherMessages = 0;        // every other message above WM_USER

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};

class relayHarness {
public:
    // The one harness of the process, connected on first use.
    static relayHarness& instance();

    rkDriver& driver() { return *driver_; }
    standInKiv& kiv() { return *kiv_; }
    recordingCallback& callback() { return callback_; }
    HWND driverWindow() const { return driverWindow_; }

private:
    relayHarness();

    recordingCallback callback_;
    std::unique_ptr<standInKiv> kiv_;
    std::unique_ptr<rkDriver> driver_;
    HWND driverWindow_ = nullptr;
};

} // namespace rkfuzz

#endif
