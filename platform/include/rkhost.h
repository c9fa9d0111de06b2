/*
 * What the host adds beyond Win32, for code that must run on both hosts.
 *
 * On Windows everything here is inline and built on Win32 itself, so the
 * platform layer compiles to nothing there.
 */
#ifndef RKHOST_H
#define RKHOST_H

#include <string>

#ifdef _WIN32

#include "rkwin.h"

/* Paths of the system reach the file system as they stand. */
inline std::string rkHostPath(const std::string& path) { return path; }

/*
 * Tests read debug output through a sink: while one is installed,
 * OutputDebugStringA passes each text to it exactly as given, and no
 * debugger sees it. OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the
 * text; a vectored handler sees that exception before anyone else.
 */
using rkDebugSink = void (*)(const char* text, void* context);

namespace rkHostDebug {
inline rkDebugSink sink = nullptr;
inline void* sinkContext = nullptr;

inline LONG CALLBACK catchDebugText(EXCEPTION_POINTERS* exception) {
    const DWORD printException = 0x40010006; /* DBG_PRINTEXCEPTION_C */
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (!sink || record->ExceptionCode != printException || record->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    sink(reinterpret_cast<const char*>(record->ExceptionInformation[1]), sinkContext);
    return EXCEPTION_CONTINUE_EXECUTION;
}
} // namespace rkHostDebug

inline void rkSetDebugSink(rkDebugSink sink, void* context) {
    static PVOID handler = AddVectoredExceptionHandler(1, rkHostDebug::catchDebugText);
    (void)handler;
    rkHostDebug::sinkContext = context;
    rkHostDebug::sink = sink;
}

/* Win32's profile functions offer no lock another writer could share. */
class rkFileUpdateLock
{
public:
    explicit rkFileUpdateLock(const std::string&) {}
    ~rkFileUpdateLock() {}
    rkFileUpdateLock(const rkFileUpdateLock&) = delete;
    rkFileUpdateLock& operator=(const rkFileUpdateLock&) = delete;
};

#else

/*
 * Maps a Windows path to this host's file system: "X:\a\b" lies under the
 * directory of drive X ($RK_DRIVE_X, else ~/.telm/drive_x) and backslashes
 * become slashes. Other paths keep their meaning.
 */
std::string rkHostPath(const std::string& path);

/*
 * Foreign event loops: the descriptor becomes readable whenever this thread
 * has messages to dispatch; rkDispatchPendingMessages dispatches all of them
 * without blocking (answering sends, dispatching the posts queued when it is
 * called; a WM_QUIT from PostQuitMessage stays for GetMessageA/PeekMessageA).
 * The descriptor stays the same for the life of the process; -1 only when
 * it cannot be made. Without a reachable desktop it still serves the posts
 * of this process.
 */
int rkMessageEventFd();
void rkDispatchPendingMessages();

/*
 * Tests read debug output through a sink: while one is installed,
 * OutputDebugStringA passes each text to it exactly as given, instead of
 * writing it to stderr. Null restores stderr.
 */
using rkDebugSink = void (*)(const char* text, void* context);
void rkSetDebugSink(rkDebugSink sink, void* context);

/*
 * Code that rewrites a whole file itself holds this lock from its read to its
 * replace: it is the lock WritePrivateProfileStringA and its kin hold while
 * they rewrite a file (one per directory, among threads and processes), so
 * neither loses the other's change. The path is a Windows path, mapped as
 * rkHostPath maps it. Never call a profile write while holding it: the write
 * would wait on it forever.
 */
class rkFileUpdateLock
{
public:
    explicit rkFileUpdateLock(const std::string& path);
    ~rkFileUpdateLock();
    rkFileUpdateLock(const rkFileUpdateLock&) = delete;
    rkFileUpdateLock& operator=(const rkFileUpdateLock&) = delete;

private:
    int directory_;
};

/*
 * Replaces the contents of the file at a Windows path (mapped as rkHostPath
 * maps it) as WritePrivateProfileStringA replaces a file, for code that
 * holds the file's rkFileUpdateLock: through a symbolic link, the file it
 * points to; by a new copy beside it that has the old file's mode before it
 * holds a byte, is synced and renamed over it, and the directory synced
 * then. False, with the file as it was and no copy left, when it cannot.
 */
bool rkReplaceFileContents(const std::string& path, const std::string& contents);

#endif /* _WIN32 */
#endif /* RKHOST_H */
