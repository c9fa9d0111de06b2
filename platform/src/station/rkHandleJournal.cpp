#include "station/rkHandleJournal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

/* A name as hexadecimal bytes, "-" when empty: names may hold spaces and line ends. */
void addName(std::string& text, const std::string& name)
{
    static const char digits[] = "0123456789abcdef";
    text += ' ';
    if (name.empty())
        text += '-';
    for (unsigned char byte : name) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
}

bool readName(const char* hex, std::string& name)
{
    name.clear();
    if (std::strcmp(hex, "-") == 0)
        return true;
    for (; hex[0] && hex[1]; hex += 2) {
        const char pair[3] = {hex[0], hex[1], '\0'};
        char* end = nullptr;
        const unsigned long byte = std::strtoul(pair, &end, 16);
        if (*end != '\0')
            return false;
        name += static_cast<char>(byte);
    }
    return *hex == '\0';
}

void addHeld(std::string& text, uint32_t handle, pid_t pid, const WindowRecord& record)
{
    addLine(text, '+', handle, pid);
    char line[64];
    int length = std::snprintf(line, sizeof line, "= %08x %llu %d", handle,
                               static_cast<unsigned long long>(record.started), record.topLevel ? 1 : 0);
    text.append(line, static_cast<size_t>(length));
    addName(text, record.className);
    addName(text, record.windowName);
    text += '\n';
}

/*
 * "= handle started top class name" follows the "+" line of a handle: what
 * keeps the window findable while its owner has not claimed it again. A
 * station that does not know such lines passes over them.
 */
void applyRecord(const char* line, std::map<uint32_t, HeldHandle>& held)
{
    unsigned int handle = 0;
    unsigned long long started = 0;
    int top = 0;
    char className[8200], windowName[8200];
    if (std::sscanf(line, "= %8x %llu %d %8199s %8199s", &handle, &started, &top, className, windowName) != 5)
        return;
    auto entry = held.find(handle & 0xffff);
    WindowRecord record;
    record.started = started;
    record.topLevel = top == 1;
    if (entry == held.end() || entry->second.handle != handle || !readName(className, record.className) ||
        !readName(windowName, record.windowName))
        return;
    entry->second.record = std::move(record);
}

/* Applies one line to the handles held, by slot; a line cut short or garbled changes nothing. */
void applyLine(const char* line, std::map<uint32_t, HeldHandle>& held)
{
    if (line[0] == '=') {
        if (std::strchr(line, '\n'))
            applyRecord(line, held);
        return;
    }
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
    char* line = nullptr;
    size_t capacity = 0;
    while (getline(&line, &capacity, file) >= 0)
        applyLine(line, held);
    std::free(line);
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
        addHeld(text, entry.handle, entry.pid, entry.record);
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
        if (change.held)
            addHeld(text, change.handle, change.pid, change.record);
        else
            addLine(text, '-', change.handle, change.pid);
        held_ = change.held ? held_ + 1 : held_ - (held_ > 0);
    }
    lines_ += changes.size();
    return fd_ >= 0 && writeAll(fd_, text);
}

} // namespace rkstation
