/*
 * The configuration library of the TELM family: where a system's
 * configuration lives, the workstation number, single values of settings
 * files, a small INI engine that works on whole sections, and the settings
 * object rkConfig that caches one section.
 *
 * Paths are Windows paths (backslash separators, joined by plain
 * concatenation). Nothing here reports an error: a missing file, section or
 * key yields the caller's default.
 */
#ifndef RKCONFIG_H
#define RKCONFIG_H

#include <list>
#include <map>
#include <string>

/* Keys in plain byte order: letter case matters for order and uniqueness. */
using SettingsMap = std::map<std::string, std::string>;
/* Section names in file order, duplicates kept. */
using SectionList = std::list<std::string>;

/* ---- Locations and workstation identity ---- */

/* True when RK_ROOT and RK_SYSTEM are both set and non-empty. */
bool hasSystemEnvironment();
/* True in the flat layout when c:\telm_config.ini gives a ConfigPath. */
bool hasConfigPathFile();
/* The configuration directory of the layout in force. */
std::string getConfigRoot();
/* RK_ROOT\RK_SYSTEM in the rooted layout, "" in the flat one. */
std::string getSystemRoot();
/* The named settings file: configuration directory, "\", name. */
std::string getConfigFilePath(const std::string& fileName);
/* The device settings file dev_NNN.ini of a device. */
std::string getDeviceFilePath(int device);
/* This workstation's number, 0 when none is configured. */
int getWorkstation();
/* True when RK_DEVELOPER reads "true" in any letter case. */
bool isDeveloper();
/* Path of a log file; creates the folder level in the rooted layout. */
std::string getLogPath(const std::string& folder, const std::string& leaf);

/* ---- Single values of settings files ---- */

std::string getConfigString(const std::string& fileName, const std::string& section,
                            const std::string& key, const std::string& defaultValue,
                            bool writeBack);
std::string getDeviceString(int device, const std::string& section, const std::string& key,
                            const std::string& defaultValue, bool writeBack);
void setConfigString(const std::string& fileName, const std::string& section,
                     const std::string& key, const std::string& value);
void setDeviceString(int device, const std::string& section, const std::string& key,
                     const std::string& value);
int getConfigInt(const std::string& fileName, const std::string& section, const std::string& key,
                 int defaultValue, bool writeBack);
int getDeviceInt(int device, const std::string& section, const std::string& key,
                 int defaultValue, bool writeBack);
void deleteConfigSection(const std::string& fileName, const std::string& section);

/* ---- Whole sections ---- */

/*
 * Adds the section's key lines to the map; keys already held stay. Lines are
 * read as the profile functions read them: blanks around a line, a section
 * name, a key and a value do not count, nor around the section asked for.
 */
void readSection(const std::string& path, const std::string& section, SettingsMap& settings);
/* Replaces every occurrence of the section (appends it when missing). */
void writeSection(const std::string& path, const std::string& section,
                  const SettingsMap& settings);
/* Appends the file's section names, in file order, to the list. */
void listSections(const std::string& path, SectionList& sections);

void readSystemSection(const std::string& fileName, const std::string& section,
                       SettingsMap& settings);
void readConfigSection(const std::string& fileName, const std::string& section,
                       SettingsMap& settings);
void readDeviceSection(int device, const std::string& section, SettingsMap& settings);

void writeSystemSection(const std::string& fileName, const std::string& section,
                        const SettingsMap& settings);
void writeConfigSection(const std::string& fileName, const std::string& section,
                        const SettingsMap& settings);
void writeDeviceSection(int device, const std::string& section, const SettingsMap& settings);

void listSystemSections(const std::string& fileName, SectionList& sections);
void listConfigSections(const std::string& fileName, SectionList& sections);
void listDeviceSections(int device, SectionList& sections);

/* Removes every letter-case variant of the key from the section. */
void deleteConfigKey(const std::string& fileName, const std::string& section,
                     const std::string& key);

/* Lower-cases A to Z in place; null gives null. */
char* toLower(char* text);
std::string toLowerCopy(const std::string& text);

/* ---- The settings object ---- */

class rkConfig
{
public:
    /* Bound to nothing: lookups give defaults and writes go nowhere. */
    rkConfig();
    rkConfig(const std::string& fileName, const std::string& section);
    rkConfig(int device, const std::string& section);
    virtual ~rkConfig();

    std::string getString(const std::string& key, const std::string& defaultValue, bool writeBack);
    std::string getStringEncrypted(const std::string& key, const std::string& defaultValue,
                                   bool writeBack);
    void setString(const std::string& key, const std::string& value);
    void setStringEncrypted(const std::string& key, const std::string& value);
    int getInt(const std::string& key, int defaultValue, bool writeBack);
    /* Removes the key from the file; the cached value stays. */
    void deleteKey(const std::string& key);
    /* The cached entry whose key the profile functions would take for this
     * one (without regard to case, blanks around it not counting), else end. */
    SettingsMap::iterator findKey(const std::string& key);

private:
    void writeValue(const char* key, const char* value) const;

    SettingsMap settings;
    std::string filePath;
    std::string section;
};

#endif /* RKCONFIG_H */
