/*
 * The station's answers to one client that the client has not taken yet.
 * The station appends and moves on; the bytes go out as the socket takes
 * them, so one client that does not read never holds up the others.
 */
#ifndef RKANSWERQUEUE_H
#define RKANSWERQUEUE_H

#include <cstddef>
#include <vector>

#include "wire/rkFrame.h"

namespace rkstation {

class AnswerQueue {
public:
    void append(const rkwire::FrameHeader& header, const std::vector<char>& payload);
    /* Bytes not written yet. */
    size_t size() const { return bytes_.size() - sent_; }
    bool empty() const { return size() == 0; }
    const char* front() const { return bytes_.data() + sent_; }
    /* Forgets the first count bytes, which the socket took. */
    void consume(size_t count);

private:
    std::vector<char> bytes_;
    size_t sent_ = 0;
};

} // namespace rkstation

#endif
