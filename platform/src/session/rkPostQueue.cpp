#include "session/rkPostQueue.h"

#include <algorithm>

#include "session/rkWindowTable.h"

namespace rkwin {

void PostQueue::purge(uint32_t handle)
{
    messages_.erase(std::remove_if(messages_.begin(), messages_.end(),
                                   [handle](const MSG& message) { return handleValue(message.hwnd) == handle; }),
                    messages_.end());
}

bool PostQueue::take(const std::function<bool(const MSG&)>& passes, MSG& message, bool remove)
{
    const auto found = std::find_if(messages_.begin(), messages_.end(), passes);
    if (found == messages_.end())
        return false;
    message = *found;
    if (remove)
        messages_.erase(found);
    return true;
}

bool PostQueue::popFront(MSG& message)
{
    if (messages_.empty())
        return false;
    message = messages_.front();
    messages_.pop_front();
    return true;
}

} // namespace rkwin
