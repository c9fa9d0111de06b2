/*
 * Where the layer looks for what it starts and loads: the window station
 * and the libraries asked for by name. A build tree keeps everything beside
 * the executables; an installed kit keeps programs and libraries in their
 * own directories, found from where the executable or this layer lies, so
 * that no environment variable is needed.
 */
#ifndef RKINSTALLLAYOUT_H
#define RKINSTALLLAYOUT_H

#include <string>
#include <vector>

namespace rkwire {

/* The directory of the running executable, "" when it cannot be read. */
std::string executableDirectory();

/* Where a helper program may lie, the likeliest first. */
std::vector<std::string> programDirectories();

/* Where a library asked for by name alone may lie, before the loader's own search. */
std::vector<std::string> libraryDirectories();

} // namespace rkwire

#endif
