// FrameReader against the plain reading of the same byte stream: the
// stream goes through a socketpair in chunks the fuzzer picks, with fills
// and takes interleaved as it picks them. Every frame taken must be the
// next frame the reference finds, whole and unchanged; nothing may be taken
// once the reader calls the bytes corrupt; once every byte has been read,
// the reader must have given every frame and noticed a bad header.
#include "frameReference.h"
#include "frameStream.h"
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "wire/rkFrame.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

using rkfuzz::FuzzInput;
using rkwire::Frame;
using rkwire::FrameReader;

namespace {

class SocketPair {
public:
    SocketPair()
    {
        FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds_) == 0, "socketpair");
    }
    ~SocketPair()
    {
        closeWriter();
        close(fds_[1]);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    int writer() const { return fds_[0]; }
    int reader() const { return fds_[1]; }
    void closeWriter()
    {
        if (fds_[0] >= 0)
            close(fds_[0]);
        fds_[0] = -1;
    }

private:
    int fds_[2] = {-1, -1};
};

class ReaderRun {
public:
    explicit ReaderRun(std::string stream) : stream_(std::move(stream)), expected_(rkfuzz::referenceFrames(stream_)) {}

    void write(size_t count);
    void fillOnce();
    void takeOne();
    void drain();
    void finish();

private:
    bool fillUntilBlocked();
    bool take();
    void checkCorruption() const;
    void checkEverythingTaken() const;
    size_t consumed() const { return taken_ == 0 ? 0 : expected_.ends[taken_ - 1]; }

    std::string stream_;
    rkfuzz::ReferenceFrames expected_;
    SocketPair sockets_;
    FrameReader reader_;
    size_t written_ = 0;
    size_t taken_ = 0;
    bool closed_ = false;
};

// A full socket is drained by the reader first; a reader that takes no more
// (corrupt bytes) leaves the rest of the stream unwritten.
void ReaderRun::write(size_t count)
{
    count = std::min(count, stream_.size() - written_);
    while (count > 0) {
        const ssize_t sent = send(sockets_.writer(), stream_.data() + written_, count, MSG_NOSIGNAL);
        if (sent > 0) {
            written_ += static_cast<size_t>(sent);
            count -= static_cast<size_t>(sent);
            continue;
        }
        FUZZ_CHECK(sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK), "send on the socketpair");
        if (!fillUntilBlocked())
            return;
        while (take()) {
        }
    }
}

void ReaderRun::fillOnce()
{
    const FrameReader::Fill fill = reader_.fill(sockets_.reader());
    FUZZ_CHECK(fill != FrameReader::Fill::Closed || closed_, "fill reports a close that never happened");
    checkCorruption();
}

void ReaderRun::takeOne()
{
    take();
}

// True when anything was read.
bool ReaderRun::fillUntilBlocked()
{
    bool progress = false;
    for (;;) {
        const FrameReader::Fill fill = reader_.fill(sockets_.reader());
        FUZZ_CHECK(fill != FrameReader::Fill::Closed || closed_, "fill reports a close that never happened");
        checkCorruption();
        if (fill != FrameReader::Fill::Progress)
            return progress;
        progress = true;
    }
}

bool ReaderRun::take()
{
    Frame frame;
    const bool corruptBefore = reader_.isCorrupt();
    if (!reader_.take(frame)) {
        checkCorruption();
        return false;
    }
    FUZZ_CHECK(!corruptBefore, "a frame was taken from corrupt bytes");
    FUZZ_CHECK(taken_ < expected_.frames.size(), "a frame was taken that the stream does not hold");
    FUZZ_CHECK(expected_.ends[taken_] <= written_, "a frame was taken before all of it was sent");
    const Frame& want = expected_.frames[taken_];
    FUZZ_CHECK(std::memcmp(&frame.header, &want.header, sizeof frame.header) == 0, "the header differs");
    FUZZ_CHECK(frame.payload == want.payload, "the payload differs");
    ++taken_;
    checkCorruption();
    return true;
}

// Corruption is only ever the bad header right behind the last good frame.
void ReaderRun::checkCorruption() const
{
    if (!reader_.isCorrupt())
        return;
    FUZZ_CHECK(expected_.corrupt, "the reader calls a valid stream corrupt");
    FUZZ_CHECK(taken_ == expected_.frames.size(), "the reader calls the bytes corrupt before their last good frame");
    FUZZ_CHECK(expected_.badHeaderAt + sizeof(rkwire::FrameHeader) <= written_,
               "the reader judged a header it had not received whole");
    FUZZ_CHECK(reader_.hasBufferedBytes(), "corrupt bytes that are not buffered");
}

void ReaderRun::drain()
{
    for (;;) {
        fillUntilBlocked();
        bool tookAny = false;
        while (take())
            tookAny = true;
        if (!tookAny)
            break;
    }
    checkEverythingTaken();
}

// Once the socket is empty, every frame sent whole has been taken, and a bad
// header sent whole has been noticed.
void ReaderRun::checkEverythingTaken() const
{
    if (reader_.isCorrupt())
        return;
    size_t whole = 0;
    while (whole < expected_.ends.size() && expected_.ends[whole] <= written_)
        ++whole;
    FUZZ_CHECK(taken_ == whole, "a frame that arrived whole was not taken");
    const bool badHeaderArrived =
        expected_.corrupt && expected_.badHeaderAt + sizeof(rkwire::FrameHeader) <= written_;
    FUZZ_CHECK(!badHeaderArrived || taken_ < expected_.frames.size(), "a bad header went unnoticed");
    FUZZ_CHECK(reader_.hasBufferedBytes() == (consumed() < written_), "buffered bytes miscounted");
}

void ReaderRun::finish()
{
    write(stream_.size());
    drain();
    if (reader_.isCorrupt())
        return;
    FUZZ_CHECK(written_ == stream_.size(), "a reader that is not corrupt stopped reading");
    sockets_.closeWriter();
    closed_ = true;
    FrameReader::Fill fill;
    while ((fill = reader_.fill(sockets_.reader())) == FrameReader::Fill::Progress) {
    }
    FUZZ_CHECK(fill == FrameReader::Fill::Closed, "the close of the writer went unnoticed");
    checkEverythingTaken();
}

// One schedule byte: the low two bits choose the step, the rest its size.
void runStep(ReaderRun& run, uint8_t step)
{
    const size_t amount = static_cast<size_t>(step >> 2) + 1;
    switch (step & 3) {
    case 0:
        run.write(amount);
        break;
    case 1:
        run.write(amount * 4093);
        break;
    case 2:
        run.fillOnce();
        break;
    default:
        if (amount % 2 == 0)
            run.drain();
        else
            run.takeOne();
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string schedule = input.text();
    ReaderRun run(rkfuzz::streamFrom(input));
    for (char step : schedule)
        runStep(run, static_cast<uint8_t>(step));
    run.finish();
    return 0;
}
