#include "host/rkInstallLayout.h"

#include <climits>
#include <dlfcn.h>
#include <unistd.h>

/*
 * The build gives the installed layout: RK_BINDIR_FROM_LIBDIR and
 * RK_LIBDIR_FROM_BINDIR relative to each other, so that a kit installed
 * under another prefix than the one it was built for still finds its parts,
 * and RK_INSTALL_FULL_BINDIR, where it was built to go.
 */

namespace rkwire {
namespace {

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

/*
 * The file that holds this code: a shared library of the kit, or the
 * executable when the layer is linked in statically.
 */
std::string layerDirectory()
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&layerDirectory), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) == nullptr)
        return std::string();
    return directoryOf(resolved);
}

void addOnce(std::vector<std::string>& directories, const std::string& directory)
{
    for (const std::string& known : directories)
        if (known == directory)
            return;
    directories.push_back(directory);
}

} // namespace

std::string executableDirectory()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return std::string();
    path.resize(static_cast<size_t>(length));
    return directoryOf(path);
}

std::vector<std::string> programDirectories()
{
    std::vector<std::string> directories;
    const std::string executable = executableDirectory();
    if (!executable.empty())
        addOnce(directories, executable);
    const std::string layer = layerDirectory();
    if (!layer.empty() && layer != executable)
        addOnce(directories, layer + "/" RK_BINDIR_FROM_LIBDIR);
    addOnce(directories, RK_INSTALL_FULL_BINDIR);
    return directories;
}

std::vector<std::string> libraryDirectories()
{
    std::vector<std::string> directories;
    const std::string executable = executableDirectory();
    if (!executable.empty()) {
        addOnce(directories, executable);
        addOnce(directories, executable + "/" RK_LIBDIR_FROM_BINDIR);
    }
    const std::string layer = layerDirectory();
    if (!layer.empty())
        addOnce(directories, layer);
    return directories;
}

} // namespace rkwire
