/*
 * The desktop: one user's private runtime directory with the window
 * station's socket, its locks, and one socket per client process.
 */
#ifndef RKDESKTOP_H
#define RKDESKTOP_H

#include <functional>
#include <string>
#include <sys/types.h>

#include "wire/rkFrame.h"

namespace rkwire {

/*
 * The directory of this user's desktop, created mode 0700 when missing.
 * Empty (with a line on stderr) when it is not a directory of ours with
 * mode 0700, or is a symbolic link.
 */
std::string desktopDirectory();

std::string stationSocketPath(const std::string& desktop);
std::string stationLockPath(const std::string& desktop);
std::string stationStartLockPath(const std::string& desktop);
std::string stationPidPath(const std::string& desktop);
std::string peerSocketPath(const std::string& desktop, pid_t pid);

/* Non-blocking, close-on-exec stream sockets; -1 on failure. */
int connectUnix(const std::string& path);
int listenUnix(const std::string& path);

/* The peer's process id when it runs as our user, else -1. */
pid_t sameUserPeer(int fd);

/*
 * Takes every connection waiting on a non-blocking listener: hands each
 * one of our user's to take (which then owns the descriptor) and closes
 * the others.
 */
void acceptSameUserPeers(int listener, const std::function<void(int fd, pid_t pid)>& take);

/*
 * Writes one whole frame. When the socket is full, waitWritable is called
 * and must return false to give up (the frame is then lost and the
 * connection unusable).
 */
bool writeFrame(int fd, const FrameHeader& header, const void* payload,
                const std::function<bool(int fd)>& waitWritable);

/* Waits up to timeoutMs for fd to become writable. */
bool waitWritableFor(int fd, int timeoutMs);

/* Reads one whole frame from a non-blocking socket, waiting up to timeoutMs in all. */
bool readFrameWithin(int fd, FrameReader& reader, Frame& frame, int timeoutMs);

/*
 * A process's bell: an eventfd it watches, which peers write to wake it
 * when frames wait in its rings. -1 when none can be made.
 */
int makeBell();
/*
 * A bell a peer handed over: kept when it is an eventfd, made non-blocking
 * so that ringing it never waits; anything else is closed. The descriptor
 * to ring, or -1.
 */
int adoptBell(int descriptor);

/*
 * Connects to the desktop's window station, starting it when none runs.
 * Two processes that race here leave exactly one station. -1 on failure.
 */
int connectToStation(const std::string& desktop);

} // namespace rkwire

#endif
