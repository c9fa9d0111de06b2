// The reading rules that the INI engine and the profile functions share,
// written out once more for the fuzz targets' oracles: blanks (space, tab,
// CR, VT, FF, ^Z) around names and values do not count, a name or value
// ends at a NUL, A to Z compare without regard to case, and a value read
// through the profile functions loses one pair of matching quotes.
#ifndef RK_FUZZ_INI_RULES_H
#define RK_FUZZ_INI_RULES_H

#include <string>
#include <string_view>

namespace rkfuzz {

inline bool isIniBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

inline std::string trimmedText(std::string_view text)
{
    while (!text.empty() && isIniBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isIniBlank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

inline std::string untilNul(const std::string& text)
{
    return text.substr(0, text.find('\0'));
}

inline bool sameName(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

inline std::string unquoted(const std::string& text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

} // namespace rkfuzz

#endif
