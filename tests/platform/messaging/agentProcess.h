/*
 * The tests' side of the messaging agents: each agent is a real process on
 * the test's own desktop, driven through its stdin and read through its
 * stdout.
 */
#ifndef AGENTPROCESS_H
#define AGENTPROCESS_H

#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace agent {

constexpr std::chrono::seconds patience{10};

class AgentProcess {
public:
    /* Starts messaging_agent with arguments on the desktop directory given. */
    AgentProcess(const std::string& desktop, const std::vector<std::string>& arguments);
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    void write(const std::string& line);
    /* The first unread line that starts with prefix; "" after the patience runs out. */
    std::string waitFor(const std::string& prefix, std::chrono::milliseconds within = patience);
    /* Writes a command and waits for its answer. */
    std::string ask(const std::string& command, const std::string& answerPrefix);
    /* The number in the answer: "window 65537" gives 65537; -1 when none came. */
    long long askNumber(const std::string& command, const std::string& answerPrefix);
    /* Every line read so far, in order. */
    const std::vector<std::string>& transcript() const { return transcript_; }
    /* Reads until the agent answers a ping, so that everything it said before is in the transcript. */
    bool settle();
    bool said(const std::string& line) const;

    pid_t pid() const { return pid_; }
    void kill(int signal);
    /* True when the process has exited within the patience. */
    bool exited();

private:
    bool readMore(std::chrono::steady_clock::time_point deadline);

    pid_t pid_ = -1;
    int toAgent_ = -1;
    int fromAgent_ = -1;
    std::string partial_;
    std::deque<std::string> unread_;
    std::vector<std::string> transcript_;
    bool reaped_ = false;
};

/* A private desktop directory for one test; the station it got is stopped and the directory removed. */
class PrivateDesktop {
public:
    PrivateDesktop();
    ~PrivateDesktop();
    const std::string& path() const { return path_; }
    /* The running station's process id, or -1. */
    pid_t stationPid() const;
    /* Stops the station and waits until it is gone. */
    bool stopStation(int signal);
    bool stationRunning() const;
    /* True when the station has left within the patience. */
    bool waitForStationToLeave() const;
    std::unique_ptr<AgentProcess> start(const std::vector<std::string>& arguments = {});

private:
    std::string path_;
};

std::string binaryDirectory();
long long numberIn(const std::string& line, int field = 1);

} // namespace agent

#endif
