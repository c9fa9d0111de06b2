/*
 * One-call access to single values of named and device settings files,
 * straight through the platform's profile functions.
 */
#include "rkConfig.h"

#include <rkwin.h>

namespace {

/* Values are read as the family always has: at most 1023 characters. */
const DWORD valueBufferSize = 1024;

std::string readString(const std::string& path, const std::string& section,
                       const std::string& key, const std::string& defaultValue, bool writeBack)
{
    char value[valueBufferSize];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), value,
                             valueBufferSize, path.c_str());
    value[valueBufferSize - 1] = '\0';
    const std::string text(value);
    if (writeBack && text == defaultValue)
        WritePrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), path.c_str());
    return text;
}

int readInt(const std::string& path, const std::string& section, const std::string& key,
            int defaultValue, bool writeBack)
{
    const int value = static_cast<int>(
        GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str()));
    if (writeBack && value == defaultValue) {
        WritePrivateProfileStringA(section.c_str(), key.c_str(),
                                   std::to_string(defaultValue).c_str(), path.c_str());
    }
    return value;
}

void writeString(const std::string& path, const std::string& section, const std::string& key,
                 const std::string& value)
{
    WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), path.c_str());
}

} // namespace

std::string getConfigString(const std::string& fileName, const std::string& section,
                            const std::string& key, const std::string& defaultValue,
                            bool writeBack)
{
    return readString(getConfigFilePath(fileName), section, key, defaultValue, writeBack);
}

std::string getDeviceString(int device, const std::string& section, const std::string& key,
                            const std::string& defaultValue, bool writeBack)
{
    return readString(getDeviceFilePath(device), section, key, defaultValue, writeBack);
}

void setConfigString(const std::string& fileName, const std::string& section,
                     const std::string& key, const std::string& value)
{
    writeString(getConfigFilePath(fileName), section, key, value);
}

void setDeviceString(int device, const std::string& section, const std::string& key,
                     const std::string& value)
{
    writeString(getDeviceFilePath(device), section, key, value);
}

int getConfigInt(const std::string& fileName, const std::string& section, const std::string& key,
                 int defaultValue, bool writeBack)
{
    return readInt(getConfigFilePath(fileName), section, key, defaultValue, writeBack);
}

int getDeviceInt(int device, const std::string& section, const std::string& key,
                 int defaultValue, bool writeBack)
{
    return readInt(getDeviceFilePath(device), section, key, defaultValue, writeBack);
}

void deleteConfigSection(const std::string& fileName, const std::string& section)
{
    WritePrivateProfileStringA(section.c_str(), nullptr, nullptr, getConfigFilePath(fileName).c_str());
}
