/* This thread's queue of posted messages, and the quit request that waits behind them. */
#ifndef RKPOSTQUEUE_H
#define RKPOSTQUEUE_H

#include <cstdint>
#include <deque>
#include <functional>

#include "rkwin.h"

namespace rkwin {

class PostQueue {
public:
    bool empty() const { return messages_.empty(); }
    std::size_t size() const { return messages_.size(); }
    void push(const MSG& message) { messages_.push_back(message); }
    /* Drops what waits for a window. */
    void purge(uint32_t handle);
    /* Takes (or, with remove false, copies) the first message that passes. */
    bool take(const std::function<bool(const MSG&)>& passes, MSG& message, bool remove);
    bool popFront(MSG& message);

    void requestQuit(int code)
    {
        quitPending_ = true;
        quitCode_ = code;
    }
    bool quitPending() const { return quitPending_; }
    int quitCode() const { return quitCode_; }
    void clearQuit() { quitPending_ = false; }

private:
    std::deque<MSG> messages_;
    bool quitPending_ = false;
    int quitCode_ = 0;
};

} // namespace rkwin

#endif
