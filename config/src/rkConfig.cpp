/*
 * The settings object: one section of one file, cached at construction and
 * consulted by every lookup; single values are written straight through the
 * platform's profile write.
 */
#include "rkConfig.h"

#include "configText.h"

#include <rkwin.h>

namespace {

const char* const noEncryptionNotice =
    "rkConfig: Call to setStringEncrypted with no encryption compiler settings enabled";

} // namespace

rkConfig::rkConfig() = default;

rkConfig::rkConfig(const std::string& fileName, const std::string& section)
    : filePath(getConfigFilePath(fileName)), section(section)
{
    readSection(filePath, section, settings);
}

rkConfig::rkConfig(int device, const std::string& section)
    : filePath(getDeviceFilePath(device)), section(section)
{
    readSection(filePath, section, settings);
}

rkConfig::~rkConfig() = default;

std::string rkConfig::getString(const std::string& key, const std::string& defaultValue,
                                bool writeBack)
{
    if (callerName(key).empty())
        return defaultValue;
    const auto entry = findKey(key);
    if (entry != settings.end())
        return entry->second;
    if (writeBack)
        writeValue(key.c_str(), defaultValue.c_str());
    return defaultValue;
}

std::string rkConfig::getStringEncrypted(const std::string& key, const std::string& defaultValue,
                                         bool writeBack)
{
    OutputDebugStringA(noEncryptionNotice);
    return getString(key, defaultValue, writeBack);
}

/*
 * A key not cached yet is added under the name the file will hold, so a later
 * read with write-back keeps this value.
 */
void rkConfig::setString(const std::string& key, const std::string& value)
{
    const auto entry = findKey(key);
    if (entry != settings.end())
        entry->second = value;
    else
        settings.emplace(callerName(key), value);
    writeValue(key.c_str(), value.c_str());
}

void rkConfig::setStringEncrypted(const std::string& key, const std::string& value)
{
    OutputDebugStringA(noEncryptionNotice);
    setString(key, value);
}

int rkConfig::getInt(const std::string& key, int defaultValue, bool writeBack)
{
    const auto entry = findKey(key);
    if (entry != settings.end())
        return parseLeadingInt(entry->second);
    if (writeBack)
        writeValue(key.c_str(), std::to_string(defaultValue).c_str());
    return defaultValue;
}

void rkConfig::deleteKey(const std::string& key)
{
    writeValue(key.c_str(), nullptr);
}

SettingsMap::iterator rkConfig::findKey(const std::string& key)
{
    const std::string_view name = callerName(key);
    for (auto entry = settings.begin(); entry != settings.end(); ++entry) {
        if (equalsIgnoringCase(entry->first, name))
            return entry;
    }
    return settings.end();
}

/* An object bound to no file has nowhere to write. */
void rkConfig::writeValue(const char* key, const char* value) const
{
    if (filePath.empty())
        return;
    WritePrivateProfileStringA(section.c_str(), key, value, filePath.c_str());
}
