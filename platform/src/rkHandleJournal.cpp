#include "rkHandleJournal.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace rkstation {

namespace {

void addLine(std::string& text, char change, uint32_t handle, pid_t pid)
{
    char line[40];
    int length = std::snprintf(line, sizeof line, "%c %08x %d\n", change, handle, static_cast<int>(pid));
    text.append(line, static_cast<size_t>(length));
}

/* Applies one line to the handles held, by slot; a line cut short or garbled changes nothing. */
void applyLine(const char* line, std::map<uint32_t, HeldHandle>& held)
{
    char change = 0;
    unsigned int handle = 0;
    int pid = 0;
    char end = 0;
    if (std::sscanf(line, "%c %8x %d%c", &change, &handle, &pid, &end) != 4 || end != '\n')
        return;
    uint32_t slot = handle & 0xffff;
    if (change == '+')
        held[slot] = {handle, pid};
    else if (change == '-' && held.count(slot) && held[slot].handle == handle)
        held.erase(slot);
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace

std::string handleJournalPath(const std::string& desktop) { return desktop + "/winstation.handles"; }

HandleJournal::~HandleJournal()
{
    if (fd_ >= 0)
        close(fd_);
}

std::vector<HeldHandle> HandleJournal::load() const
{
    std::map<uint32_t, HeldHandle> held;
    FILE* file = std::fopen(path_.c_str(), "re");
    if (!file)
        return {};
    char line[64];
    while (std::fgets(line, sizeof line, file))
        applyLine(line, held);
    std::fclose(file);
    std::vector<HeldHandle> handles;
    for (const auto& entry : held)
        handles.push_back(entry.second);
    return handles;
}

bool HandleJournal::rewrite(const std::vector<HeldHandle>& held)
{
    std::string text;
    for (const HeldHandle& entry : held)
        addLine(text, '+', entry.handle, entry.pid);
    std::string temporary = path_ + ".new";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    bool written = writeAll(fd, text);
    if (close(fd) != 0 || !written || std::rename(temporary.c_str(), path_.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    if (fd_ >= 0)
        close(fd_);
    fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    lines_ = held_ = held.size();
    return fd_ >= 0;
}

bool HandleJournal::append(const std::vector<HandleChange>& changes)
{
    std::string text;
    for (const HandleChange& change : changes) {
        addLine(text, change.held ? '+' : '-', change.handle, change.pid);
        held_ = change.held ? held_ + 1 : held_ - (held_ > 0);
    }
    lines_ += changes.size();
    return fd_ >= 0 && writeAll(fd_, text);
}

} // namespace rkstation
