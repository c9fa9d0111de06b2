/*
 * Whole-file access for the INI engine: a file as a list of lines that keep
 * their own line ends, and replacing a file's contents atomically.
 */
#ifndef RKCONFIG_INIFILE_H
#define RKCONFIG_INIFILE_H

#include <string>
#include <vector>

struct IniLine
{
    std::string text;   /* without its line end */
    std::string ending; /* "\n", "\r\n", "\r", or "" for a last line without one */
};

/*
 * Reads the file at a Windows path into lines. LF, CR LF and a lone CR all
 * end a line. False, with the list untouched, when the file cannot be read.
 */
bool readIniLines(const std::string& path, std::vector<IniLine>& lines);

/*
 * Replaces the contents of the file at a Windows path: writes a uniquely
 * named temporary file beside it, then renames it over the file, so the file
 * is never missing or half written. On any failure the file stays as it was
 * and the temporary file is removed. On Linux it is the profile writes' own
 * replacement (rkReplaceFileContents): the same durability, and a file
 * reached through a symbolic link is replaced where the link points.
 */
bool replaceFileContents(const std::string& path, const std::string& contents);

#endif /* RKCONFIG_INIFILE_H */
