// The configuration library's INI engine on a fuzzed file: list the
// sections, read each, then replace one with a fuzzed map. Oracles: the
// section written reads back as the map (each storable entry as the rules
// in iniRules.h read it; entries that would invent lines are left out);
// every other section reads as before; the section list only gains the
// section when it was missing; a name the engine refuses leaves every byte.
// Before and after the write, the platform's profile functions must find
// the same sections and values as the engine, as both promise.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "fuzzScratch.h"
#include "iniRules.h"
#include "rkConfig.h"
#include "rkwin.h"

#include <algorithm>
#include <string>
#include <vector>

using rkfuzz::FuzzInput;

namespace {

const std::string& iniPath()
{
    static const std::string path = rkfuzz::scratchDirectory("rk-ini-fuzz-") + "/fuzz.ini";
    return path;
}

std::vector<std::string> sectionList()
{
    SectionList sections;
    listSections(iniPath(), sections);
    return std::vector<std::string>(sections.begin(), sections.end());
}

SettingsMap sectionMap(const std::string& section)
{
    SettingsMap settings;
    readSection(iniPath(), section, settings);
    return settings;
}

bool isStorableSection(const std::string& section)
{
    return section.find_first_of(std::string("]\r\n\0", 4)) == std::string::npos &&
           rkfuzz::trimmedText(section) == section;
}

bool isStorableEntry(const std::string& key, const std::string& value)
{
    const std::string name = rkfuzz::trimmedText(key);
    return key.find_first_of(std::string("\r\n=\0", 4)) == std::string::npos && (name.empty() || name[0] != '[') &&
           value.find_first_of("\r\n") == std::string::npos;
}

SettingsMap expectedReadBack(const SettingsMap& written)
{
    SettingsMap expected;
    for (const auto& [key, value] : written)
        if (isStorableEntry(key, value))
            expected.emplace(rkfuzz::trimmedText(key), rkfuzz::untilNul(rkfuzz::trimmedText(value)));
    return expected;
}

std::string profileString(const char* section, const char* key)
{
    std::vector<char> buffer(70000);
    const DWORD count = GetPrivateProfileStringA(section, key, "\x01missing", buffer.data(),
                                                 static_cast<DWORD>(buffer.size()), iniPath().c_str());
    return std::string(buffer.data(), count);
}

bool hasCaseVariant(const SettingsMap& settings, const std::string& key)
{
    return std::count_if(settings.begin(), settings.end(),
                         [&](const auto& entry) { return rkfuzz::sameName(entry.first, key); }) > 1;
}

// A name that the profile functions can ask for: they drop blanks around it.
/* A caller's name ends at its first NUL and loses its blanks: only such names can be asked for. */
bool isAskable(const std::string& name)
{
    return name.find('\0') == std::string::npos && rkfuzz::trimmedText(name) == name;
}

void checkProfileAgrees(const std::vector<std::string>& sections)
{
    const bool listable = std::none_of(sections.begin(), sections.end(), [](const std::string& s) { return s.empty(); });
    if (listable) {
        std::string joined;
        for (const std::string& section : sections)
            joined += section + '\0';
        FUZZ_CHECK(profileString(nullptr, nullptr) == joined,
                   "the profile functions list other sections than the engine");
    }
    for (const std::string& section : sections) {
        if (!isAskable(section))
            continue;
        const SettingsMap settings = sectionMap(section);
        for (const auto& [key, value] : settings)
            if (isAskable(key) && !hasCaseVariant(settings, key))
                FUZZ_CHECK(profileString(section.c_str(), key.c_str()) == rkfuzz::unquoted(value),
                           "the profile functions read another value than the engine");
    }
}

std::vector<std::string> expectedSections(const std::vector<std::string>& before, const std::string& section)
{
    std::vector<std::string> expected = before;
    bool found = false;
    for (std::string& name : expected)
        if (rkfuzz::sameName(name, section)) {
            name = section;
            found = true;
        }
    if (!found)
        expected.push_back(section);
    return expected;
}

void checkWrite(const std::string& section, const SettingsMap& written)
{
    const std::string bytesBefore = rkfuzz::fileBytes(iniPath());
    const std::vector<std::string> before = sectionList();
    std::vector<SettingsMap> contents;
    for (const std::string& name : before)
        contents.push_back(sectionMap(name));
    writeSection(iniPath(), section, written);
    if (!isStorableSection(section)) {
        FUZZ_CHECK(rkfuzz::fileBytes(iniPath()) == bytesBefore, "a refused section name changed the file");
        return;
    }
    FUZZ_CHECK(sectionMap(section) == expectedReadBack(written), "a written section reads back otherwise");
    const std::vector<std::string> after = sectionList();
    FUZZ_CHECK(after == expectedSections(before, section), "the section list changed beyond the written section");
    for (size_t i = 0; i < before.size(); ++i)
        if (isAskable(before[i]) && !rkfuzz::sameName(before[i], section))
            FUZZ_CHECK(sectionMap(before[i]) == contents[i], "another section changed");
    checkProfileAgrees(after);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::string section = input.text();
    SettingsMap written;
    const unsigned entries = input.byte() % 6;
    for (unsigned i = 0; i < entries; ++i) {
        std::string key = input.text();
        written[key] = input.text();
    }
    rkfuzz::writeFileBytes(iniPath(), input.rest());
    checkProfileAgrees(sectionList());
    checkWrite(section, written);
    return 0;
}
