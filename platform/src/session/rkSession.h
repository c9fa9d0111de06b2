/*
 * This process's part of the desktop: its window classes and windows, its
 * queue of posted messages, its connections to the window station and to
 * other processes, and the loop that waits on all of them.
 *
 * Everything runs on the thread that owns the windows; nothing here takes a
 * lock or starts a thread.
 */
#ifndef RKSESSION_H
#define RKSESSION_H

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <sys/types.h>
#include <time.h>
#include <vector>

#include "wire/rkChannel.h"
#include "wire/rkFrame.h"
#include "rkwin.h"

namespace rkwin {

struct WindowClass {
    std::string name;
    WNDPROC procedure = nullptr;
    int extraBytes = 0;
    ATOM atom = 0;
    int windows = 0;
};

struct Window {
    uint32_t handle = 0;
    std::shared_ptr<WindowClass> windowClass;
    std::vector<unsigned char> extra;
    LONG_PTR userData = 0;
    bool topLevel = false;
    bool destroying = false;
    std::string name;
};

struct Connection {
    Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    uint64_t id = 0;
    int fd = -1;
    pid_t pid = -1;
    bool accepted = false; /* the peer connected to us */
    rkwire::FrameReader reader;
    std::string unsent; /* posts that did not fit into the socket yet */
    bool watchingWrites = false;
    bool closed = false;

    /*
     * The shared-memory channel. Once it is offered (or adopted) every frame
     * carries a serial, and frames are handled in serial order whether they
     * came through a ring or the socket.
     */
    int offeredSegment = -1; /* a memfd that came over the socket, not yet looked at */
    std::unique_ptr<Channel> channel;
    bool ordered = false;
    uint32_t sendSerial = 1;
    uint32_t expectSerial = 1;
};

/* Where a handle leads: a window of ours, or one in another process. */
struct Target {
    Window* local = nullptr;
    uint32_t handle = 0;
    pid_t pid = -1;
    bool fromCache = false;
};

struct SendOutcome {
    bool delivered = false;
    bool noWindow = false;
    bool refused = false; /* the receiver would not hand the message to its procedure */
    LRESULT result = 0;
};

/* Time on the monotonic clock since start. */
long nanosecondsSince(const timespec& start);

/* The numeric value of a window handle; 0 for values that are no handle. */
uint32_t handleValue(HWND window);
HWND toHwnd(uint32_t handle);
/* Class names compare without regard to case. */
std::string classKey(const char* name);
inline uint32_t slotOf(uint32_t handle) { return handle & 0xffff; }
/* A handle given by its slot alone: high 16 bits 0 or 0xffff. */
inline bool isSlotOnly(uint32_t handle) { return (handle >> 16) == 0 || (handle >> 16) == 0xffff; }

constexpr uint32_t broadcastHandle = 0xffff;

/*
 * Calls the procedure of a window of this process. Until it returns,
 * InSendMessageEx answers sendFlags: ISMEX_SEND for a message that another
 * process sent, ISMEX_NOSEND for one of this thread. Calls nest; each
 * leaves the outer one's answer as it found it.
 */
LRESULT callProcedure(const Window& window, UINT message, WPARAM wParam, LPARAM lParam, DWORD sendFlags);

class Session {
public:
    static Session& instance();

    /* Window classes and windows of this process */
    std::map<std::string, std::shared_ptr<WindowClass>> classes; /* keyed by lower-case name */
    std::map<uint32_t, std::unique_ptr<Window>> windows;         /* keyed by slot */
    ATOM nextAtom = 0xC000;

    std::shared_ptr<WindowClass> findClass(LPCSTR nameOrAtom);
    Window* localWindow(uint32_t handle);
    Window* exactLocalWindow(uint32_t handle);

    /* The window station */
    bool stationRequest(rkwire::Kind kind, uint32_t window, uint16_t flags, const std::vector<char>& payload,
                        rkwire::Frame& reply);
    bool resolve(uint32_t handle, bool useCache, Target& target);
    void forget(uint32_t handle);

    /* Messages to other processes */
    SendOutcome sendRemote(const Target& target, UINT message, WPARAM wParam, LPARAM lParam);
    /* Never waits for the receiver; false with the last error set when the post is lost. */
    bool postRemote(const Target& target, UINT message, WPARAM wParam, LPARAM lParam);

    /* How the message that the innermost procedure call handles came */
    DWORD sendFlags = ISMEX_NOSEND;
    /*
     * Answers the send of another process that the innermost procedure call
     * handles, before the procedure returns; false for any other message or
     * one answered already.
     */
    bool replyEarly(LRESULT result);

    /* The posted-message queue and the quit flag */
    std::deque<MSG> posted;
    bool quitPending = false;
    int quitCode = 0;
    void enqueue(const MSG& message);
    void purgePosted(uint32_t handle);

    /* Event sources */
    int eventFd();
    /*
     * Handles what has arrived; waits up to timeoutMs (-1: until something
     * does). Answers how many sources were ready.
     */
    int pumpIncoming(int timeoutMs);
    /* Handles everything that has arrived, without waiting. */
    void drainIncoming();
    /* Keeps the event descriptor readable exactly while posted messages or buffered frames wait. */
    void refreshWakeup();
    /*
     * After recent ring traffic: watches the rings briefly and answers
     * whether more came, so that a foreign loop can go on serving them
     * without a wake-up through its descriptor.
     */
    bool awaitRingTraffic() { return recentRingTraffic_ && spinForRings(); }
    /*
     * Before control goes back to code that may wait on anything: writers
     * wake this process through its sockets from now on, and ring frames
     * that wait already keep the event descriptor readable.
     */
    void sleepOnSockets();

    bool joinDesktop();

private:
    Session() = default;
    ~Session() = delete;

    bool ensureEventSources();
    bool connectStation();
    bool stationExchange(rkwire::FrameHeader header, const std::vector<char>& payload, rkwire::Frame& reply);
    bool reclaimWindows();
    void dropStation();
    void scheduleStationRetry(bool wanted, long afterMs);
    void onStationRetry();

    std::shared_ptr<Connection> connectionTo(pid_t pid);
    std::shared_ptr<Connection> addConnection(int fd, pid_t pid, bool accepted);
    void offerChannel(const std::shared_ptr<Connection>& connection);
    void adoptChannel(const std::shared_ptr<Connection>& connection, const rkwire::Frame& offer);
    void acceptChannel(const std::shared_ptr<Connection>& connection);
    enum class Ring { Carried, NotCarried, Failed };
    Ring putOnRing(const std::shared_ptr<Connection>& connection, rkwire::FrameHeader& header, const void* payload,
                   Lane lane);
    void ringBell(const std::shared_ptr<Connection>& connection);
    static uint32_t takeSerial(Connection& connection);
    void closeConnection(const std::shared_ptr<Connection>& connection);
    bool writeToPeer(const std::shared_ptr<Connection>& connection, const rkwire::FrameHeader& header,
                     const void* payload);
    bool flushUnsent(const std::shared_ptr<Connection>& connection, bool wait);
    void watchWrites(Connection& connection, bool wanted);
    bool waitWritableBuffering(int fd);

    void acceptPeers();
    void readConnection(const std::shared_ptr<Connection>& connection);
    void takeChannelFrames(const std::shared_ptr<Connection>& connection);
    bool processBuffered(const std::shared_ptr<Connection>& connection);
    bool takeNext(const std::shared_ptr<Connection>& connection, rkwire::Frame& frame);
    static bool isDue(const Connection& connection, const rkwire::FrameHeader& header);
    static void noteTaken(Connection& connection, const rkwire::FrameHeader& header);
    int handleSocketEvents(int timeoutMs);
    bool processUnparsed();
    bool processChannels();
    bool spinForRings();
    const std::vector<Channel*>& channels();
    bool fallAsleep();
    static bool anyRingHasBytes(const std::vector<Channel*>& channels);
    void handleFrame(const std::shared_ptr<Connection>& connection, rkwire::Frame& frame);
    void answerSend(const std::shared_ptr<Connection>& connection, rkwire::Frame& frame);
    void queueReply(const std::shared_ptr<Connection>& connection, const rkwire::FrameHeader& answer);
    static bool queueUnsent(Connection& connection, rkwire::FrameHeader header);
    void acceptPost(const rkwire::Frame& frame);
    void acceptReply(const std::shared_ptr<Connection>& connection, const rkwire::Frame& frame);
    void onStationReadable();

    /* A send of another process whose procedure runs */
    struct IncomingSend {
        std::shared_ptr<Connection> connection;
        rkwire::FrameHeader answer;
        bool replied = false;
    };
    IncomingSend* incoming_ = nullptr; /* the innermost one */
    void replyWith(IncomingSend& incoming, LRESULT result);

    struct PendingSend {
        uint64_t sequence;
        uint64_t connection;
        bool answered = false;
        bool failed = false;
        rkwire::Status status = rkwire::Status::Ok;
        LRESULT result = 0;
    };

    int outerEpoll_ = -1; /* the descriptor foreign loops watch */
    int innerEpoll_ = -1; /* sockets only: what a waiting send watches */
    int wakeFd_ = -1;
    bool wakeSignalled_ = false;

    std::string desktop_;
    int listener_ = -1;
    int station_ = -1;
    int retryTimer_ = -1; /* armed while windows wait to be registered with a station */
    rkwire::FrameReader stationReader_{rkwire::maxStationFrameBytes};
    uint64_t stationSequence_ = 0;

    std::map<uint64_t, std::shared_ptr<Connection>> connections_;
    std::map<pid_t, uint64_t> connectionByPid_;
    std::set<uint64_t> unparsed_;
    uint64_t nextConnectionId_ = 16;
    bool recentRingTraffic_ = false; /* worth a spin before the next blocking wait */
    std::vector<Channel*> channels_; /* of the open connections */
    bool channelsStale_ = false;
    unsigned drainsWithoutSocketLook_ = 0;

    struct RemoteWindow {
        uint32_t handle;
        pid_t pid;
    };
    std::map<uint32_t, RemoteWindow> remoteCache_; /* keyed by slot */

    std::vector<PendingSend*> pending_;
    uint64_t nextSequence_ = 1;
};

} // namespace rkwin

#endif
