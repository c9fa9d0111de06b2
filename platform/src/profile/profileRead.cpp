// GetPrivateProfileStringA and GetPrivateProfileIntA with Win32's results.
#include "profile/profileFile.h"
#include "profile/profileText.h"
#include "rkwin.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

using rkprofile::ProfileText;

namespace {

// Win32 drops trailing spaces of the default and one pair of matching
// quotes around whatever it returns.
std::string_view withoutTrailingSpaces(std::string_view text)
{
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text;
}

std::string_view withoutQuotes(std::string_view text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

// At most size - 1 characters and a terminator; the count copied.
DWORD copyText(std::string_view text, LPSTR buffer, DWORD size)
{
    const size_t count = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

// Names one after the other, each with its terminator, and one more
// terminator at the end. When they do not fit, the last one is cut and the
// list still ends in two terminators; the result is then size - 2.
DWORD copyNameList(const std::vector<std::string_view>& names, LPSTR buffer, DWORD size)
{
    std::string list;
    for (std::string_view name : names) {
        list.append(name);
        list += '\0';
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = '\0';
    buffer[size - 1] = '\0';
    return size - 2;
}

ProfileText loadedProfile(LPCSTR fileName)
{
    std::optional<std::string> bytes = rkprofile::readProfileFile(rkprofile::profileHostPath(fileName));
    return ProfileText(bytes ? std::move(*bytes) : std::string());
}

// The value of one digit in any radix up to 36; 36 for anything else.
UINT digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<UINT>(c - '0');
    if (c >= 'a' && c <= 'z')
        return static_cast<UINT>(c - 'a') + 10u;
    if (c >= 'A' && c <= 'Z')
        return static_cast<UINT>(c - 'A') + 10u;
    return 36u;
}

// A number as Win32 reads one: leading blanks skipped, an optional sign, a
// "0x", "0o" or "0b" prefix naming the radix (decimal without one), then
// digits up to the first that does not belong; overflow wraps.
UINT leadingInteger(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && static_cast<unsigned char>(text[at]) <= ' ')
        ++at;
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+'))
        ++at;
    UINT radix = 10;
    if (at + 1 < text.size() && text[at] == '0') {
        const char prefix = text[at + 1];
        radix = prefix == 'x' ? 16u : prefix == 'o' ? 8u : prefix == 'b' ? 2u : 10u;
        if (radix != 10)
            at += 2;
    }
    UINT value = 0;
    for (UINT digit; at < text.size() && (digit = digitValue(text[at])) < radix; ++at)
        value = value * radix + digit;
    return negative ? 0u - value : value;
}

// The text Windows takes a number from: what the string function gives with
// an empty default, which is the first name of a list when no section or no
// key is named; nothing when that would be empty.
std::optional<std::string_view> integerText(const ProfileText& profile, LPCSTR section, LPCSTR key)
{
    if (section == nullptr) {
        const std::vector<std::string_view> names = profile.sectionNames();
        return names.empty() ? std::nullopt : std::optional<std::string_view>(names.front());
    }
    const std::string_view sectionName = rkprofile::trimmed(section);
    if (key == nullptr) {
        const std::vector<std::string_view> keys = profile.keyNames(sectionName);
        return keys.empty() ? std::nullopt : std::optional<std::string_view>(keys.front());
    }
    const std::optional<std::string_view> value = profile.value(sectionName, rkprofile::trimmed(key));
    if (!value || withoutQuotes(*value).empty())
        return std::nullopt;
    return withoutQuotes(*value);
}

} // namespace

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR buffer, DWORD size,
                                      LPCSTR fileName)
{
    if (buffer == nullptr || size == 0)
        return 0;
    const std::string_view fallback = withoutTrailingSpaces(defaultValue != nullptr ? defaultValue : "");
    const ProfileText profile = loadedProfile(fileName);
    if (section == nullptr)
        return copyNameList(profile.sectionNames(), buffer, size);
    const std::string_view sectionName = rkprofile::trimmed(section);
    if (key == nullptr) {
        const std::vector<std::string_view> keys = profile.keyNames(sectionName);
        return keys.empty() ? copyText(withoutQuotes(fallback), buffer, size) : copyNameList(keys, buffer, size);
    }
    const std::optional<std::string_view> value = profile.value(sectionName, rkprofile::trimmed(key));
    return copyText(withoutQuotes(value ? *value : fallback), buffer, size);
}

UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName)
{
    const ProfileText profile = loadedProfile(fileName);
    const std::optional<std::string_view> text = integerText(profile, section, key);
    return text ? leadingInteger(*text) : static_cast<UINT>(defaultValue);
}
