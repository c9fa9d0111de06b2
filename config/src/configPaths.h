/*
 * Path forms used inside the library beyond its public interface.
 */
#ifndef RKCONFIG_CONFIGPATHS_H
#define RKCONFIG_CONFIGPATHS_H

#include <string>

/* The system settings file: D\system\name rooted, D\name flat. */
std::string getSystemFilePath(const std::string& fileName);

#endif /* RKCONFIG_CONFIGPATHS_H */
