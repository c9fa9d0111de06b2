/*
 * The handles a station has handed out, kept in the desktop directory so
 * that a station started after this one was killed knows which slots
 * windows still hold. One line per change, appended:
 *
 *     + 0003a001 4711      handle 0x0003a001 is held by process 4711
 *     = 0003a001 T 1 C N   which started at T (clock ticks since boot), is
 *                          top-level (1) and has class C and name N (bytes in
 *                          hexadecimal, "-" for none)
 *     - 0003a001 4711      it is given up
 *
 * When the lines far outnumber the handles held, the file is written anew
 * beside the old one and renamed over it, so a reader never sees half of
 * it. Nothing is synced to disk: the desktop lives no longer than the
 * machine's processes do, and a killed process loses no written byte.
 */
#ifndef RKHANDLEJOURNAL_H
#define RKHANDLEJOURNAL_H

#include <cstddef>
#include <string>
#include <vector>

#include "station/rkStation.h"

namespace rkstation {

std::string handleJournalPath(const std::string& desktop);

class HandleJournal {
public:
    explicit HandleJournal(std::string path) : path_(std::move(path)) {}
    ~HandleJournal();
    HandleJournal(const HandleJournal&) = delete;
    HandleJournal& operator=(const HandleJournal&) = delete;

    /* The handles the file says are held. */
    std::vector<HeldHandle> load() const;
    /* Replaces the file by one that lists exactly these handles. */
    bool rewrite(const std::vector<HeldHandle>& held);
    /* Adds the changes in one write. */
    bool append(const std::vector<HandleChange>& changes);
    /* True when the file has grown well past what it describes. */
    bool wantsRewrite() const { return lines_ > 4 * held_ + 4096; }

private:
    std::string path_;
    int fd_ = -1;
    size_t lines_ = 0;
    size_t held_ = 0;
};

} // namespace rkstation

#endif
