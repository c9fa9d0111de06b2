/*
 * The section engine: reads one section into a map, lists section names and
 * replaces a section of a file with the contents of a map.
 *
 * Lines mean here what they mean to the platform's profile functions: blanks
 * around a line, a header's name, a key and a value do not count, a UTF-8
 * mark at the start of the file is not text, names and values end at a NUL
 * byte, and the section asked for counts without blanks around it, as the
 * profile functions take it. So the settings object never misses a value that
 * a profile write would then overwrite, and reader and writer agree on every
 * header.
 */
#include "rkConfig.h"

#include "configPaths.h"
#include "configText.h"
#include "iniFile.h"

#include <rkhost.h>

namespace {

const std::string_view utf8Mark = "\xEF\xBB\xBF";

struct LineMeaning
{
    enum class Kind { Other, Header, UnnamedHeader, Entry };
    Kind kind = Kind::Other;
    std::string name; /* the section of a header, the key of an entry */
    std::string value;
};

std::string untilNul(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

bool hasMark(std::string_view text) { return text.substr(0, utf8Mark.size()) == utf8Mark; }

std::string_view significantText(std::string_view text, bool startsFile)
{
    if (startsFile && hasMark(text))
        text.remove_prefix(utf8Mark.size());
    return trimBlanks(text);
}

LineMeaning meaningOf(const std::string& text, bool startsFile)
{
    const std::string_view content = significantText(text, startsFile);
    LineMeaning meaning;
    if (!content.empty() && content[0] == '[') {
        const size_t close = content.find(']');
        meaning.kind = close == std::string_view::npos ? LineMeaning::Kind::UnnamedHeader
                                                       : LineMeaning::Kind::Header;
        if (close != std::string_view::npos)
            meaning.name = untilNul(trimBlanks(content.substr(1, close - 1)));
        return meaning;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos)
        return meaning;
    meaning.kind = LineMeaning::Kind::Entry;
    meaning.name = untilNul(trimBlanks(content.substr(0, equals)));
    meaning.value = untilNul(trimBlanks(content.substr(equals + 1)));
    return meaning;
}

std::vector<LineMeaning> meaningsOf(const std::vector<IniLine>& lines)
{
    std::vector<LineMeaning> meanings;
    meanings.reserve(lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        meanings.push_back(meaningOf(lines[i].text, i == 0));
    return meanings;
}

bool isAnyHeader(const LineMeaning& meaning)
{
    return meaning.kind == LineMeaning::Kind::Header ||
           meaning.kind == LineMeaning::Kind::UnnamedHeader;
}

bool isHeaderOf(const LineMeaning& meaning, std::string_view section)
{
    return meaning.kind == LineMeaning::Kind::Header && equalsIgnoringCase(meaning.name, section);
}

/* A name the reader would not find again under a header written for it. */
bool isStorableSectionName(const std::string& section)
{
    return section.find_first_of(std::string("]\r\n\0", 4)) == std::string::npos &&
           trimBlanks(section) == section;
}

/*
 * An entry that the reader would not find again as itself (a line end, a
 * key holding "=" or reading as a header) is left out: writing it would
 * invent lines or sections.
 */
bool isStorable(const std::string& key, const std::string& value)
{
    const std::string_view trimmedKey = trimBlanks(key);
    const bool keyBreaksLine = key.find_first_of(std::string("\r\n=\0", 4)) != std::string::npos ||
                               (!trimmedKey.empty() && trimmedKey[0] == '[');
    return !keyBreaksLine && value.find_first_of("\r\n") == std::string::npos;
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

/*
 * New lines follow the file's own line ends; where it has none yet they end
 * in CR LF, as text mode writes them on Windows, so the bytes are the same
 * on both hosts.
 */
std::string lineEndOf(const std::vector<IniLine>& lines)
{
    return lines.empty() || lines.front().ending.empty() ? "\r\n" : lines.front().ending;
}

std::string replacedContents(const std::vector<IniLine>& lines, const std::string& section,
                             const SettingsMap& settings)
{
    const std::vector<LineMeaning> meanings = meaningsOf(lines);
    const std::string lineEnd = lineEndOf(lines);
    std::string contents;
    bool found = false;
    bool skipping = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (isAnyHeader(meanings[i])) {
            skipping = isHeaderOf(meanings[i], section);
            if (skipping) {
                if (i == 0 && hasMark(lines[i].text))
                    contents += utf8Mark;
                contents += sectionText(section, settings, lineEnd) + lineEnd;
                found = true;
                continue;
            }
        }
        if (!skipping)
            contents += lines[i].text + lines[i].ending;
    }
    if (!found)
        contents += lineEnd + sectionText(section, settings, lineEnd);
    return contents;
}

bool readMeanings(const std::string& path, std::vector<LineMeaning>& meanings)
{
    std::vector<IniLine> lines;
    if (!readIniLines(path, lines))
        return false;
    meanings = meaningsOf(lines);
    return true;
}

} // namespace

void readSection(const std::string& path, const std::string& section, SettingsMap& settings)
{
    std::vector<LineMeaning> meanings;
    if (!readMeanings(path, meanings))
        return;
    const std::string_view wanted = callerName(section);
    bool inSection = false;
    for (const LineMeaning& meaning : meanings) {
        if (isAnyHeader(meaning))
            inSection = isHeaderOf(meaning, wanted);
        else if (inSection && meaning.kind == LineMeaning::Kind::Entry)
            settings.emplace(meaning.name, meaning.value);
    }
}

void listSections(const std::string& path, SectionList& sections)
{
    std::vector<LineMeaning> meanings;
    if (!readMeanings(path, meanings))
        return;
    for (const LineMeaning& meaning : meanings) {
        if (meaning.kind == LineMeaning::Kind::Header)
            sections.push_back(meaning.name);
    }
}

namespace {

/* The caller holds the file's rkFileUpdateLock from its read to here. */
void rewriteSection(const std::string& path, const std::string& section, const SettingsMap& settings)
{
    std::vector<IniLine> lines;
    if (!isStorableSectionName(section) || !readIniLines(path, lines))
        return;
    replaceFileContents(path, replacedContents(lines, section, settings));
}

} // namespace

/* Under the profile writes' lock, so a key they add meanwhile is not lost. */
void writeSection(const std::string& path, const std::string& section, const SettingsMap& settings)
{
    const rkFileUpdateLock lock(path);
    rewriteSection(path, section, settings);
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
    const std::string path = getConfigFilePath(fileName);
    const rkFileUpdateLock lock(path);
    SettingsMap settings;
    readSection(path, section, settings);
    for (auto entry = settings.begin(); entry != settings.end();) {
        if (toLowerCopy(entry->first) == lower)
            entry = settings.erase(entry);
        else
            ++entry;
    }
    rewriteSection(path, section, settings);
}
