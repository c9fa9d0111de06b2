#include "iniFile.h"

#include <rkhost.h>
#include <rkwin.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

/* Binary mode: every byte reaches the engine, and copied lines stay byte for byte. */
bool readFileBytes(const std::string& hostPath, std::string& bytes)
{
    std::FILE* file = std::fopen(hostPath.c_str(), "rb");
    if (file == nullptr)
        return false;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    const bool complete = !std::ferror(file);
    std::fclose(file);
    return complete;
}

size_t lineEndLength(const std::string& bytes, size_t at)
{
    if (bytes[at] == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n')
        return 2;
    return 1;
}

std::vector<IniLine> splitLines(const std::string& bytes)
{
    std::vector<IniLine> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back({bytes.substr(start), ""});
            break;
        }
        const size_t endLength = lineEndLength(bytes, end);
        lines.push_back({bytes.substr(start, end - start), bytes.substr(end, endLength)});
        start = end + endLength;
    }
    return lines;
}

#ifdef _WIN32
/* Win32's profile functions replace no file the library could share: it replaces files itself. */

/* Unique among the processes and calls that may write beside the same file. */
std::string temporaryPathFor(const std::string& hostPath)
{
    static std::atomic<unsigned long> callCount{0};
    return hostPath + ".tmp." + std::to_string(GetCurrentProcessId()) + "." +
           std::to_string(++callCount);
}

bool writeNewFile(const std::string& hostPath, const std::string& contents)
{
    std::FILE* file = std::fopen(hostPath.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return written && flushed && closed;
}

void copyPermissions(const std::string& from, const std::string& to)
{
    std::error_code ignored;
    const fs::file_status status = fs::status(fs::path(from), ignored);
    if (!ignored)
        fs::permissions(fs::path(to), status.permissions(), ignored);
}
#endif

} // namespace

bool readIniLines(const std::string& path, std::vector<IniLine>& lines)
{
    std::string bytes;
    if (!readFileBytes(rkHostPath(path), bytes))
        return false;
    lines = splitLines(bytes);
    return true;
}

bool replaceFileContents(const std::string& path, const std::string& contents)
{
#ifdef _WIN32
    const std::string hostPath = rkHostPath(path);
    const std::string temporaryPath = temporaryPathFor(hostPath);
    std::error_code failure;
    if (writeNewFile(temporaryPath, contents)) {
        copyPermissions(hostPath, temporaryPath);
        fs::rename(fs::path(temporaryPath), fs::path(hostPath), failure);
        if (!failure)
            return true;
    }
    fs::remove(fs::path(temporaryPath), failure);
    return false;
#else
    return rkReplaceFileContents(path, contents);
#endif
}
