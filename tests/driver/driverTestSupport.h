// Test support for the driver library: a private desktop per test, the
// debug output as lines, message pumping, a callback that records what it
// is told and an in-process stand-in for KIV's window.
#ifndef DRIVER_TEST_SUPPORT_H
#define DRIVER_TEST_SUPPORT_H

#include "rkDriver.h"
#include "rkwin.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// A fresh RK_DESKTOP for this test, removed again afterwards.
class scopedDesktop {
public:
    scopedDesktop();
    ~scopedDesktop();
    scopedDesktop(const scopedDesktop&) = delete;
    scopedDesktop& operator=(const scopedDesktop&) = delete;
    const std::string& directory() const { return path; }
    std::string file(const std::string& name) const { return path + "/" + name; }

private:
    std::string path;
};

// While the object lives, the configuration the drivers read: RK_ROOT at
// the desktop, system "sys", workstation 12. Processes started meanwhile
// inherit it.
class scopedConfiguration {
public:
    explicit scopedConfiguration(const scopedDesktop& desktop);
    ~scopedConfiguration();
    scopedConfiguration(const scopedConfiguration&) = delete;
    scopedConfiguration& operator=(const scopedConfiguration&) = delete;
};

// Every text written with OutputDebugStringA while the object lives.
class debugCapture {
public:
    debugCapture();
    ~debugCapture();
    debugCapture(const debugCapture&) = delete;
    debugCapture& operator=(const debugCapture&) = delete;
    const std::vector<std::string>& texts() const { return captured; }
    int count(const std::string& text) const;
    bool contains(const std::string& text) const { return count(text) > 0; }
    void clear() { captured.clear(); }

private:
    static void collect(const char* text, void* context);
    std::vector<std::string> captured;
};

// Dispatches this thread's messages until done() holds or the bound
// passes; returns done()'s last value.
bool pumpUntil(const std::function<bool()>& done, int milliseconds = 10000);
// Dispatches whatever is waiting now.
void pumpPending();

// Writes every notification as one line.
class recordingCallback : public IrkDriverCallback {
public:
    void onTextMessage(rkDriver* driver, const char* text) override;
    void onNSMessage(int workstation, int device, const std::string& text, const std::string& word1,
                     const std::string& word2) override;
    void onStateChange(rkDriver* driver, int state) override;
    void onConnected(int device) override;
    void onDisconnected(int device) override;
    void onDatabaseChange(int device, int database, int index) override;

    std::vector<std::string> events;
    std::function<void()> whenCalled; // runs after each notification is recorded
};

// One message as the stand-in KIV saw it.
struct kivMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    enum carrier { direct, relay, telmif } via = direct;
    std::string text;
    std::vector<char> bytes; // the payload as it came, for binary records
};

// A top-level window in the test process that answers like KIV: the
// broadcasts, the identity check, relay requests and telmif32 frames.
class fakeKiv {
public:
    fakeKiv();
    ~fakeKiv();
    fakeKiv(const fakeKiv&) = delete;
    fakeKiv& operator=(const fakeKiv&) = delete;

    HWND handle() const { return window; }
    std::vector<kivMessage> received(UINT message) const;
    const std::vector<kivMessage>& all() const { return seen; }

    std::map<UINT, LRESULT> answers; // by message; registration answers 0 unless set
    bool answerBroadcast = true;
    bool answerIdentity = true;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT onCopyData(WPARAM wParam, const COPYDATASTRUCT* copyData);
    LRESULT record(UINT message, WPARAM wParam, LPARAM lParam, kivMessage::carrier via, std::string text,
                   std::vector<char> bytes = {});

    HWND window = nullptr;
    std::vector<kivMessage> seen;
    kivMessage::carrier delivering = kivMessage::direct;
};

// A driver of this process connected to a stand-in KIV of this process, in
// a private desktop with the test configuration; for test fixtures.
class connectedDriver {
protected:
    // Creates KIV and the driver and connects device in mode; on success
    // forgets what the connection wrote and notified. True on success.
    bool connectDriver(int device, int mode);

    scopedDesktop desktop;
    scopedConfiguration configuration{desktop};
    debugCapture debug;
    recordingCallback callback;
    std::unique_ptr<fakeKiv> kiv;
    std::unique_ptr<rkDriver> driver;
};

#endif
