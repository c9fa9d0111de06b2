// Private scratch directories for fuzz targets that need files or a
// desktop of their own; each is removed when the process exits normally.
#ifndef RK_FUZZ_SCRATCH_H
#define RK_FUZZ_SCRATCH_H

#include <string>

namespace rkfuzz {

// A new directory of mode 0700, in memory (/dev/shm) when the host has it,
// since the profile writes make every file durable. Aborts when none can be made.
std::string scratchDirectory(const char* stem);

// The whole file, or "" when it cannot be read.
std::string fileBytes(const std::string& path);
// Replaces the file with exactly these bytes; aborts when it cannot.
void writeFileBytes(const std::string& path, const std::string& bytes);

} // namespace rkfuzz

#endif
