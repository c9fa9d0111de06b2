// Debugger output on a host without a debugger: one stderr line per call.
#include "rkhost.h"
#include "rkwin.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <unistd.h>

namespace {

struct DebugSink {
    std::recursive_mutex lock; // a sink may itself write debug output
    rkDebugSink sink = nullptr;
    void* context = nullptr;
};

DebugSink& debugSink()
{
    static DebugSink instance;
    return instance;
}

// One write() per line: lines of processes sharing stderr stay whole.
void writeLineToStderr(const char* text)
{
    std::string line(text);
    if (line.empty() || line.back() != '\n')
        line += '\n';
    const char* next = line.data();
    size_t left = line.size();
    while (left > 0) {
        const ssize_t written = write(STDERR_FILENO, next, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        next += written;
        left -= static_cast<size_t>(written);
    }
}

} // namespace

void rkSetDebugSink(rkDebugSink sink, void* context)
{
    DebugSink& current = debugSink();
    std::lock_guard<std::recursive_mutex> guard(current.lock);
    current.sink = sink;
    current.context = context;
}

void WINAPI OutputDebugStringA(LPCSTR text)
{
    if (text == nullptr)
        return;
    DebugSink& current = debugSink();
    std::lock_guard<std::recursive_mutex> guard(current.lock);
    if (current.sink != nullptr)
        current.sink(text, current.context);
    else
        writeLineToStderr(text);
}
