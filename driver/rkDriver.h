/*
 * rkDriver: makes a program the driver of one device number at KIV, the
 * local hub process. All traffic with KIV passes through a hidden
 * message-only window that the object owns.
 *
 * Results of connection operations and of the checks are true on failure
 * and false on success. Nothing throws.
 */
#ifndef RKDRIVER_H
#define RKDRIVER_H

#include "rkCheck.h"
#include "rkwin.h"

#include <deque>
#include <string>

class rkDriver;

/*
 * What the driver tells its owner. Every call is skipped while the driver
 * has no callback; text arguments live only for the duration of the call.
 * Nobody deletes a driver's owner through this face, hence the protected
 * destructor.
 */
class IrkDriverCallback {
public:
    virtual void onTextMessage(rkDriver* driver, const char* text) = 0;
    virtual void onNSMessage(int /*workstation*/, int /*device*/, const std::string& /*text*/,
                             const std::string& /*word1*/, const std::string& /*word2*/) {}
    virtual void onStateChange(rkDriver* /*driver*/, int /*state*/) {}
    virtual void onConnected(int /*device*/) {}
    virtual void onDisconnected(int /*device*/) {}
    virtual void onDatabaseChange(int device, int database, int index) = 0;

protected:
    ~IrkDriverCallback() = default;
};

/* One incoming text message waiting for delivery from the message loop. */
struct rkDriverPost {
    int message = 0;  /* 2121 or 2189 */
    int wParam = 0;   /* the wParam of 2189; 0 for 2121 */
    std::string text; /* copy of the received text */
};

class rkDriver : public rkCheck {
public:
    rkDriver(IrkDriverCallback* callback, const std::string& checkName);
    virtual ~rkDriver();
    rkDriver(const rkDriver&) = delete;
    rkDriver& operator=(const rkDriver&) = delete;

    /* Registration (connectionMode 1: relay, 2: telmif32). */
    bool connect(unsigned int device, int connectionMode, int option);
    bool disconnect();
    bool isConnected() const;
    int getDevice() const;
    int getState() const;
    void setCallback(IrkDriverCallback* callback);
    void setState(int state, bool flag);
    void setPreference(int preference, bool apply);

    /* Outgoing commands, values and queries. */
    int sendCommand(int value, const char* command);
    bool sendNS(int workstation, int device, const std::string& text, const std::string& word1,
                const std::string& word2);
    bool sendRM(int device, int valueA, int valueB, const std::string& text, bool flag);
    bool sendRD(int device, int valueA, int valueB, const std::string& text);
    int sendDeviceValue(unsigned int value);
    int pingKiv();
    int getMaxDevices();
    int getSlotLimitA();
    int getSlotLimitB();
    int getMaxDatabases();
    bool getCounters(int& sent, int& received);
    void resetCounters();

    /* What the object holds, for its owner's diagnostics and for tests. */
    HWND getMessageWindow() const;
    HWND getKivWindow() const;
    int getConnectionMode() const;
    int getPreference() const;

private:
    static LRESULT CALLBACK messageWindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam);
    static LRESULT deliverCarried(HWND window, WPARAM wParam, LPARAM lParam);
    LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT answerState(UINT message);
    LRESULT queuePost(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void deliverPosts();
    void deliverNS(const std::string& text);
    void reportDatabaseChange(WPARAM wParam, LPARAM lParam);
    void reportWideDatabaseChange(HWND window, LPARAM lParam);

    void createMessageWindow();
    void findKiv();
    void askDravik();
    int registerDevice();
    bool reportRegistration(int reply);
    void askState();

    int sendToKiv(int message, WPARAM wParam, const void* data, int length, int replyLength,
                  int textMode);
    int sendText(int message, WPARAM wParam, const char* text, size_t length);
    int askLimit(UINT message, int fallback);

    std::string windowClassName;
    IrkDriverCallback* callback;
    HWND kivWindow;
    HWND messageWindow;
    int connectionMode;
    int option;
    int workstation;
    unsigned int device;
    int sentCount;
    int receivedCount;
    int lastSentCount;
    int lastReceivedCount;
    int state;
    int preference;
    std::deque<rkDriverPost> posts;
    bool searching; /* KIV's answer to the broadcast is taken only meanwhile */
    /* KIV took the device for this driver: only then is there one to unregister. */
    bool accepted = false;
};

#endif /* RKDRIVER_H */
