#include "configText.h"

#include "rkConfig.h"

#include <climits>
#include <cstdlib>

namespace {

bool isAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }

char lowerAscii(char c) { return isAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }

bool isConversionSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/* The profile functions also take CR, VT, FF and ^Z (a DOS end of file) as blanks. */
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

} // namespace

std::optional<std::string> readEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> readNonEmptyEnvironment(const char* name)
{
    std::optional<std::string> value = readEnvironment(name);
    if (value && value->empty())
        return std::nullopt;
    return value;
}

int parseLeadingInt(const std::string& text)
{
    size_t at = 0;
    while (at < text.size() && isConversionSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude >= limit) {
            magnitude = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

bool equalsIgnoringCase(std::string_view left, std::string_view right)
{
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (lowerAscii(left[i]) != lowerAscii(right[i]))
            return false;
    }
    return true;
}

std::string_view trimBlanks(std::string_view text)
{
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string_view callerName(std::string_view name)
{
    return trimBlanks(name.substr(0, name.find('\0')));
}

char* toLower(char* text)
{
    if (text == nullptr)
        return nullptr;
    for (char* c = text; *c != '\0'; ++c)
        *c = lowerAscii(*c);
    return text;
}

std::string toLowerCopy(const std::string& text)
{
    std::string lower(text);
    for (char& c : lower)
        c = lowerAscii(c);
    return lower;
}
