// WritePrivateProfileStringA: set a key, remove a key, remove a section.
#include "profile/profileFile.h"
#include "profile/profileText.h"
#include "rkwin.h"

#include <cstring>
#include <string_view>

using rkprofile::ProfileText;

namespace {

bool hasLineBreak(const char* text)
{
    return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

// Texts that would change the file's structure instead of one value: a line
// break would start new lines, "=" in a key would move part of it into the
// value, "]" in a section name would end the header early, and a key
// starting with "[" would read back as a header.
bool isWritable(LPCSTR section, LPCSTR key, LPCSTR value)
{
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        return false;
    if (std::strchr(section, ']') != nullptr)
        return false;
    if (key == nullptr)
        return true;
    const std::string_view name = rkprofile::trimmed(key);
    return name.find('=') == std::string_view::npos && (name.empty() || name.front() != '[');
}

std::string_view withoutLeadingBlanks(std::string_view text)
{
    while (!text.empty() && rkprofile::isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

} // namespace

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR fileName)
{
    if (section == nullptr && key == nullptr && value == nullptr)
        return FALSE; // the Win32 request to flush a cache, which this layer does not keep
    if (section == nullptr) {
        SetLastError(ERROR_FILE_NOT_FOUND); // what Windows answers: there is no section to find
        return FALSE;
    }
    if (!isWritable(section, key, value)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string_view sectionName = rkprofile::trimmed(section);
    const std::string path = rkprofile::profileHostPath(fileName);
    if (key == nullptr)
        return rkprofile::updateProfileFile(path, false,
                                            [&](ProfileText& text) { return text.removeSection(sectionName); });
    const std::string_view keyName = rkprofile::trimmed(key);
    if (value == nullptr)
        return rkprofile::updateProfileFile(path, false,
                                            [&](ProfileText& text) { return text.removeKey(sectionName, keyName); });
    const std::string_view newValue = withoutLeadingBlanks(value);
    return rkprofile::updateProfileFile(
        path, true, [&](ProfileText& text) { return text.setValue(sectionName, keyName, newValue); });
}
