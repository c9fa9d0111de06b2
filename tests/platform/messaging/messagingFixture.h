/* A fresh desktop per test and the agents on it. */
#ifndef MESSAGINGFIXTURE_H
#define MESSAGINGFIXTURE_H

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "agentMessages.h"
#include "agentProcess.h"

class DesktopTest : public ::testing::Test {
protected:
    /* An agent running the foreign event loop, ready for commands. */
    agent::AgentProcess& startAgent()
    {
        agents_.push_back(desktop_.start());
        EXPECT_FALSE(agents_.back()->waitFor("ready").empty()) << "agent did not start";
        return *agents_.back();
    }

    /* An agent with one top-level window of the class, running a GetMessageA loop. */
    agent::AgentProcess& startGetMessageAgent(const std::string& className, long long& window)
    {
        agents_.push_back(desktop_.start({"--getmessage", className}));
        window = agent::numberIn(agents_.back()->waitFor("window"));
        return *agents_.back();
    }

    static long long createWindow(agent::AgentProcess& owner, const std::string& className, bool topLevel = true)
    {
        return owner.askNumber("create " + className + (topLevel ? " top" : " msg"), "window");
    }

    static long long send(agent::AgentProcess& sender, long long window, unsigned message, long long wParam,
                          long long lParam)
    {
        return sender.askNumber(command("send", window, message, wParam, lParam), "result");
    }

    static std::string command(const char* verb, long long window, unsigned message, long long wParam,
                               long long lParam)
    {
        return std::string(verb) + " " + std::to_string(window) + " " + std::to_string(message) + " " +
               std::to_string(wParam) + " " + std::to_string(lParam);
    }

    /* What an agent says when its window receives a message. */
    static std::string received(long long window, unsigned message, long long wParam, long long lParam)
    {
        return command("recv", window, message, wParam, lParam);
    }

    agent::PrivateDesktop desktop_;
    std::vector<std::unique_ptr<agent::AgentProcess>> agents_;
};

#endif
