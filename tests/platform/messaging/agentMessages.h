/* What the messaging agent's windows answer, shared by the agent and the tests. */
#ifndef AGENTMESSAGES_H
#define AGENTMESSAGES_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace agent {

enum : unsigned {
    msgAdd = 0x8001,          /* answers wParam + lParam */
    msgCallBack = 0x8002,     /* sends msgAdd(lParam, 1) to window wParam, answers that + 1000 */
    msgNest = 0x8003,         /* lParam > 0: sends msgNest(self, lParam - 1) to window wParam, answers that + 1 */
    msgHold = 0x8004,         /* says "holding", waits for "release" on stdin, answers 7 */
    msgPostThenSend = 0x8005, /* posts msgPosted, then sends msgSent, to window wParam */
    msgPosted = 0x8006,
    msgSent = 0x8007,
    msgForward = 0x8009,      /* sends msgCallBack(wParam, 20) to window lParam */
    msgCount = 0x800A,        /* counted quietly: the agent's "count" command tells how many came */
    msgAskOrigin = 0x800B,    /* says "insend FLAGS BOOL" from InSendMessageEx and InSendMessage, answers FLAGS */
    msgAskThrough = 0x800C,   /* sends msgAskOrigin to window wParam, then says "after FLAGS BOOL"; answers that send */
    msgInOrder = 0x800D,      /* counted like msgCount; wParam numbers it from 0, and "count" tells how many came out of turn */
    msgReplyThenHold = 0x800E, /* answers 5 through ReplyMessage, says "replied BOOL FLAGS" (its result, InSendMessageEx), holds like msgHold, returns 7 */
    msgRegistered = 0xC123,   /* a registered message: broadcast */
};

inline uint32_t hashBytes(const void* data, size_t size)
{
    uint32_t hash = 2166136261u;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

inline std::vector<unsigned char> patternBytes(size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + size) & 0xff);
    return bytes;
}

} // namespace agent

#endif
