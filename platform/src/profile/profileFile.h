// Reading and replacing profile files on the host's file system.
#ifndef RK_PROFILE_FILE_H
#define RK_PROFILE_FILE_H

#include "profile/profileText.h"

#include <functional>
#include <optional>
#include <string>

namespace rkprofile {

// The host path of a profile file name: a bare name lies in the Windows
// directory, as Win32 places it, and no name at all is win.ini there; every
// other name maps as rkHostPath maps it.
std::string profileHostPath(const char* fileName);

// The whole file, or nothing when it does not exist or cannot be read.
std::optional<std::string> readProfileFile(const std::string& hostPath);

// Read-modify-write under an exclusive lock, so concurrent writers of one
// file (threads or processes) each see the other's changes. The file is
// replaced atomically, and only when the edit changed something: by a new
// copy beside it under a name no other writer uses, which has the old
// file's mode before it holds a byte and is synced before the rename, the
// directory after it. Through a symbolic link the file it points to is
// replaced. A missing file is created only when createIfMissing is set.
// Returns false with the last error set when the file cannot be read or
// replaced.
bool updateProfileFile(const std::string& hostPath, bool createIfMissing,
                       const std::function<bool(ProfileText&)>& edit);

// Takes the exclusive lock updateProfileFile holds while it rewrites the
// file at a host path: a descriptor to close to release it, or -1 with errno
// set when the file's directory cannot be opened or locked. Whoever takes it
// removes the copies of the file that writers killed mid-write left behind.
int lockProfileUpdates(const std::string& hostPath);

} // namespace rkprofile

#endif
