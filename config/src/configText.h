/*
 * Text helpers shared by the configuration library's sources.
 */
#ifndef RKCONFIG_CONFIGTEXT_H
#define RKCONFIG_CONFIGTEXT_H

#include <optional>
#include <string>
#include <string_view>

/* An environment variable; unset is distinct from set to "". */
std::optional<std::string> readEnvironment(const char* name);

/* A set, non-empty environment variable, else nothing. */
std::optional<std::string> readNonEmptyEnvironment(const char* name);

/*
 * Decimal conversion as the C runtime's atoi: leading white space and a
 * sign accepted, stops at the first non-digit, no digits give 0. Values out
 * of range saturate instead of overflowing.
 */
int parseLeadingInt(const std::string& text);

/* Compares A to Z without regard to letter case, every other byte exactly. */
bool equalsIgnoringCase(std::string_view left, std::string_view right);

/* Removes blanks (space, tab, CR, VT, FF, ^Z) at both ends. */
std::string_view trimBlanks(std::string_view text);

/*
 * A section name or key as the profile functions take it from their caller:
 * a C string, so up to its first NUL, without blanks at either end. Matched
 * against a name read from a file, it finds what a profile write would find.
 */
std::string_view callerName(std::string_view name);

#endif /* RKCONFIG_CONFIGTEXT_H */
