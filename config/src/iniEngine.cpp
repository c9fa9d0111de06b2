/*
 * The section engine: reads one section into a map, lists section names and
 * replaces a section of a file with the contents of a map.
 *
 * Reader and writer agree on what a header of a section is (the line up to
 * its first "]", compared without regard to letter case), so a section just
 * written is the one the reader finds.
 */
#include "rkConfig.h"

#include "configPaths.h"
#include "configText.h"
#include "iniFile.h"

namespace {

bool isHeader(const std::string& line) { return !line.empty() && line[0] == '['; }

/* The header up to and including its first "]"; text behind it is a remark. */
std::string headerOf(const std::string& line)
{
    const size_t close = line.find(']');
    return close == std::string::npos ? line : line.substr(0, close + 1);
}

bool headerNames(const std::string& line, const std::string& section)
{
    return equalsIgnoringCase(headerOf(line), "[" + section + "]");
}

void addKeyLine(const std::string& line, SettingsMap& settings)
{
    const size_t equals = line.find('=');
    if (equals == std::string::npos)
        return;
    settings.emplace(trimBlanks(line.substr(0, equals)), trimBlanks(line.substr(equals + 1)));
}

/*
 * An entry whose key or value would break the line form (a line end, a key
 * holding "=" or starting a header) cannot be stored as itself; writing it
 * would invent lines or sections, so it is left out.
 */
bool isStorable(const std::string& key, const std::string& value)
{
    const bool keyBreaksLine = key.find_first_of("\r\n=") != std::string::npos || isHeader(key);
    return !keyBreaksLine && value.find_first_of("\r\n") == std::string::npos;
}

/* A name holding "]" or a line end would give a header the reader never finds. */
bool isStorableSectionName(const std::string& section)
{
    return section.find_first_of("]\r\n") == std::string::npos;
}

std::string sectionText(const std::string& section, const SettingsMap& settings,
                        const std::string& lineEnd)
{
    std::string text = "[" + section + "]" + lineEnd;
    for (const auto& [key, value] : settings) {
        if (isStorable(key, value))
            text += key + "=" + value + lineEnd;
    }
    return text;
}

/* New lines follow the file's own line ends. */
std::string lineEndOf(const std::vector<IniLine>& lines)
{
    return lines.empty() || lines.front().ending.empty() ? "\n" : lines.front().ending;
}

std::string replacedContents(const std::vector<IniLine>& lines, const std::string& section,
                             const SettingsMap& settings)
{
    const std::string lineEnd = lineEndOf(lines);
    std::string contents;
    bool found = false;
    bool skipping = false;
    for (const IniLine& line : lines) {
        if (isHeader(line.text)) {
            skipping = headerNames(line.text, section);
            if (skipping) {
                contents += sectionText(section, settings, lineEnd) + lineEnd;
                found = true;
                continue;
            }
        }
        if (!skipping)
            contents += line.text + line.ending;
    }
    if (!found)
        contents += lineEnd + sectionText(section, settings, lineEnd);
    return contents;
}

} // namespace

void readSection(const std::string& path, const std::string& section, SettingsMap& settings)
{
    std::vector<IniLine> lines;
    if (!readIniLines(path, lines))
        return;
    bool inSection = false;
    for (const IniLine& line : lines) {
        if (isHeader(line.text))
            inSection = headerNames(line.text, section);
        else if (inSection)
            addKeyLine(line.text, settings);
    }
}

void listSections(const std::string& path, SectionList& sections)
{
    std::vector<IniLine> lines;
    if (!readIniLines(path, lines))
        return;
    for (const IniLine& line : lines) {
        const size_t close = line.text.find(']');
        if (isHeader(line.text) && close != std::string::npos)
            sections.push_back(line.text.substr(1, close - 1));
    }
}

void writeSection(const std::string& path, const std::string& section, const SettingsMap& settings)
{
    std::vector<IniLine> lines;
    if (!isStorableSectionName(section) || !readIniLines(path, lines))
        return;
    replaceFileContents(path, replacedContents(lines, section, settings));
}

void readSystemSection(const std::string& fileName, const std::string& section,
                       SettingsMap& settings)
{
    readSection(getSystemFilePath(fileName), section, settings);
}

void readConfigSection(const std::string& fileName, const std::string& section,
                       SettingsMap& settings)
{
    readSection(getConfigFilePath(fileName), section, settings);
}

void readDeviceSection(int device, const std::string& section, SettingsMap& settings)
{
    readSection(getDeviceFilePath(device), section, settings);
}

void writeSystemSection(const std::string& fileName, const std::string& section,
                        const SettingsMap& settings)
{
    writeSection(getSystemFilePath(fileName), section, settings);
}

void writeConfigSection(const std::string& fileName, const std::string& section,
                        const SettingsMap& settings)
{
    writeSection(getConfigFilePath(fileName), section, settings);
}

void writeDeviceSection(int device, const std::string& section, const SettingsMap& settings)
{
    writeSection(getDeviceFilePath(device), section, settings);
}

void listSystemSections(const std::string& fileName, SectionList& sections)
{
    listSections(getSystemFilePath(fileName), sections);
}

void listConfigSections(const std::string& fileName, SectionList& sections)
{
    listSections(getConfigFilePath(fileName), sections);
}

void listDeviceSections(int device, SectionList& sections)
{
    listSections(getDeviceFilePath(device), sections);
}

void deleteConfigKey(const std::string& fileName, const std::string& section,
                     const std::string& key)
{
    const std::string lower = toLowerCopy(key);
    SettingsMap settings;
    readConfigSection(fileName, section, settings);
    for (auto entry = settings.begin(); entry != settings.end();) {
        if (toLowerCopy(entry->first) == lower)
            entry = settings.erase(entry);
        else
            ++entry;
    }
    writeConfigSection(fileName, section, settings);
}
