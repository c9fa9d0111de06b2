/*
 * What the host adds beyond Win32, for code that must run on both hosts.
 *
 * On Windows everything here is an inline no-op or identity, so the
 * platform layer compiles to nothing there.
 */
#ifndef RKHOST_H
#define RKHOST_H

#include <string>

#ifdef _WIN32

/* Paths of the system reach the file system as they stand. */
inline std::string rkHostPath(const std::string& path) { return path; }

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
 * without blocking. The descriptor stays the same for the life of the
 * process; -1 when the desktop cannot be reached.
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

#endif /* _WIN32 */
#endif /* RKHOST_H */
