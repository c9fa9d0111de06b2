#include "profileFile.h"

#include "rkhost.h"
#include "rkwin.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string temporaryNameIn(const std::string& directory)
{
    static std::atomic<unsigned> counter{0};
    return directory + "/.rkprofile-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

// Fills a new file and makes its contents durable; false with errno set.
// The file takes the mode of the file it replaces, when there is one.
bool writeDurably(const std::string& path, const std::string& bytes, const struct stat* replaced)
{
    Descriptor file(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.valid())
        return false;
    const bool keepsMode = replaced == nullptr || fchmod(file.get(), replaced->st_mode & 07777) == 0;
    if (!writeAll(file.get(), bytes) || !keepsMode || fsync(file.get()) != 0)
        return false;
    return close(file.release()) == 0;
}

// Writes the new contents beside the file and renames them over it, so the
// file is always either wholly old or wholly new, even after a crash.
bool replaceFile(const std::string& path, const std::string& bytes, int directoryFd)
{
    struct stat old {};
    const struct stat* replaced = stat(path.c_str(), &old) == 0 ? &old : nullptr;
    const std::string temporary = temporaryNameIn(directoryOf(path));
    if (!writeDurably(temporary, bytes, replaced) || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        SetLastError(win32ErrorFrom(error));
        return false;
    }
    fsync(directoryFd); // makes the rename itself durable
    return true;
}

// Opens the directory of a file and takes the exclusive lock that every
// read-modify-write of a file in it holds. The lock sits on the directory:
// the file itself is replaced by every write, so a lock on it would not
// outlive the write that took it. The descriptor, or -1 with errno set.
int lockDirectoryOf(const std::string& path)
{
    Descriptor directory(open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!directory.valid())
        return -1;
    while (flock(directory.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return directory.release();
}

} // namespace

std::string profileHostPath(const char* fileName)
{
    const std::string name(fileName);
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
