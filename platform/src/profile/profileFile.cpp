#include "profile/profileFile.h"

#include "rkhost.h"
#include "rkwin.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <signal.h>
#include <string_view>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rkprofile {

namespace {

constexpr DWORD errorPathNotFound = 3;
constexpr DWORD errorAccessDenied = 5;
constexpr DWORD errorWriteFault = 29;
constexpr DWORD errorDiskFull = 112;
constexpr DWORD errorFilenameTooLong = 206;

DWORD win32ErrorFrom(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return errorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return errorAccessDenied;
    case ENOSPC:
    case EDQUOT:
        return errorDiskFull;
    case ENAMETOOLONG:
        return errorFilenameTooLong;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return errorWriteFault;
    }
}

bool failWithErrno()
{
    SetLastError(win32ErrorFrom(errno));
    return false;
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

bool isBareName(const std::string& name)
{
    return name.find_first_of("\\/:") == std::string::npos;
}

std::string windowsDirectory()
{
    const char* configured = std::getenv("WINDIR");
    return configured != nullptr && *configured != '\0' ? configured : "C:\\Windows";
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A link to a profile file stays a link: the file it points to is replaced.
std::string resolvedTarget(const std::string& path)
{
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
        return path;
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr)
        return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool writeAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        done += static_cast<size_t>(written);
    }
    return true;
}

// The new copy of a file <directory>/<leaf> is <directory>/.<leaf>.rkwrite.
// <pid>.<random>: the leaf ties it to its file, the pid tells whether its
// writer still lives, and the random part keeps it apart from every other
// copy, one that a dead process of the same pid left included. A very long
// leaf is cut so that the name still fits the 255 bytes a name may have.
constexpr size_t leafPartLimit = 200;
constexpr std::string_view copyMark = ".rkwrite.";
constexpr size_t randomDigits = 12;

std::string leafOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string copyPrefixFor(const std::string& path)
{
    return "." + leafOf(path).substr(0, leafPartLimit) + std::string(copyMark);
}

// The exclusive open below settles any clash, so a weak source only costs a
// retry.
std::string randomPart()
{
    std::uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
        static std::atomic<std::uint64_t> calls{0};
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        bits = (now ^ (++calls << 40) ^ static_cast<std::uint64_t>(getpid())) * 0x9e3779b97f4a7c15ull;
    }
    char digits[randomDigits + 1];
    std::snprintf(digits, sizeof digits, "%012llx",
                  static_cast<unsigned long long>(bits & 0xffffffffffffull));
    return digits;
}

// Creates the new copy of a file, exclusively; its descriptor and name, or
// -1 with errno set. The mode is given at creation (the umask can only
// narrow it), so no one opens the copy whom the old file would refuse.
int createCopyOf(const std::string& path, mode_t mode, std::string& name)
{
    const std::string stem = directoryOf(path) + "/" + copyPrefixFor(path) + std::to_string(getpid()) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = stem + randomPart();
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The writer's pid when name is a copy of a file whose copies begin with
// prefix.
std::optional<pid_t> writerOfCopy(std::string_view name, std::string_view prefix)
{
    if (name.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    name.remove_prefix(prefix.size());
    const size_t dot = name.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > 9 || name.size() - dot - 1 != randomDigits)
        return std::nullopt;
    pid_t pid = 0;
    for (const char c : name.substr(0, dot)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    for (const char c : name.substr(dot + 1)) {
        if ((c < '0' || c > '9') && (c < 'a' || c > 'f'))
            return std::nullopt;
    }
    return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

bool isAlive(pid_t pid)
{
    return kill(pid, 0) == 0 || errno != ESRCH;
}

// Removes the copies of a file that writers left when they died before
// renaming them. A copy whose writer lives is left alone: the lock is
// advisory, and that writer may still rename it.
void removeDeadWritersCopies(int directoryFd, const std::string& path)
{
    const int listing = openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listing < 0)
        return;
    DIR* entries = fdopendir(listing);
    if (entries == nullptr) {
        close(listing);
        return;
    }
    const std::string prefix = copyPrefixFor(path);
    std::vector<std::string> stale;
    while (const dirent* entry = readdir(entries)) {
        const std::optional<pid_t> writer = writerOfCopy(entry->d_name, prefix);
        if (writer && !isAlive(*writer))
            stale.emplace_back(entry->d_name);
    }
    closedir(entries);
    for (const std::string& name : stale) {
        struct stat status {};
        if (fstatat(directoryFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode))
            unlinkat(directoryFd, name.c_str(), 0);
    }
}

// Fills the new copy and makes its contents durable; false with errno set.
// The copy of an existing file gets that file's whole mode back (the bits
// the umask took, set-id and sticky bits) before it holds a byte.
bool writeDurably(Descriptor& file, const std::string& bytes, const struct stat* replaced)
{
    if (replaced != nullptr && fchmod(file.get(), replaced->st_mode & 07777) != 0)
        return false;
    if (!writeAll(file.get(), bytes) || fsync(file.get()) != 0)
        return false;
    return close(file.release()) == 0;
}

// Writes the new contents beside the file and renames them over it, so the
// file is always either wholly old or wholly new, even after a crash.
bool replaceFile(const std::string& path, const std::string& bytes, int directoryFd)
{
    struct stat old {};
    const struct stat* replaced = stat(path.c_str(), &old) == 0 ? &old : nullptr;
    std::string copy;
    Descriptor file(createCopyOf(path, replaced != nullptr ? old.st_mode & 0777 : 0666, copy));
    if (!file.valid())
        return failWithErrno();
    if (!writeDurably(file, bytes, replaced) || rename(copy.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(copy.c_str());
        SetLastError(win32ErrorFrom(error));
        return false;
    }
    fsync(directoryFd); // makes the rename itself durable
    return true;
}

// Opens the directory of a file and takes the exclusive lock that every
// read-modify-write of a file in it holds. The lock sits on the directory:
// the file itself is replaced by every write, so a lock on it would not
// outlive the write that took it. Holding it, it removes what dead writers
// of the file left. The descriptor, or -1 with errno set.
int lockDirectoryOf(const std::string& path)
{
    Descriptor directory(open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid())
        return -1;
    while (flock(directory.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return -1;
    }
    removeDeadWritersCopies(directory.get(), path);
    return directory.release();
}

} // namespace

std::string profileHostPath(const char* fileName)
{
    const std::string name(fileName != nullptr ? fileName : "win.ini");
    return rkHostPath(isBareName(name) ? windowsDirectory() + "\\" + name : name);
}

std::optional<std::string> readProfileFile(const std::string& hostPath)
{
    Descriptor file(open(hostPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid())
        return std::nullopt;
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t count = read(file.get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            return bytes;
        bytes.append(chunk, static_cast<size_t>(count));
    }
}

bool updateProfileFile(const std::string& hostPath, bool createIfMissing,
                       const std::function<bool(ProfileText&)>& edit)
{
    const std::string path = resolvedTarget(hostPath);
    Descriptor directory(lockDirectoryOf(path));
    if (!directory.valid())
        return failWithErrno();
    if (access(path.c_str(), F_OK) == 0 && access(path.c_str(), W_OK) != 0)
        return failWithErrno();
    std::optional<std::string> old = readProfileFile(path);
    if (!old && errno != ENOENT)
        return failWithErrno();
    if (!old && !createIfMissing)
        return true;
    ProfileText text(old ? std::move(*old) : std::string());
    if (!edit(text))
        return true;
    return replaceFile(path, text.bytes(), directory.get());
}

int lockProfileUpdates(const std::string& hostPath)
{
    return lockDirectoryOf(resolvedTarget(hostPath));
}

} // namespace rkprofile

bool rkReplaceFileContents(const std::string& path, const std::string& contents)
{
    const std::string target = rkprofile::resolvedTarget(rkHostPath(path));
    rkprofile::Descriptor directory(open(rkprofile::directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return directory.valid() && rkprofile::replaceFile(target, contents, directory.get());
}

// Without its lock the writer goes on alone: a directory that cannot be
// opened holds no file for it to rewrite anyway.
rkFileUpdateLock::rkFileUpdateLock(const std::string& path)
    : directory_(rkprofile::lockProfileUpdates(rkHostPath(path)))
{
}

rkFileUpdateLock::~rkFileUpdateLock()
{
    if (directory_ >= 0)
        close(directory_); // closing the last descriptor releases the lock
}
