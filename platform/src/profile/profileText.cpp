#include "profile/profileText.h"

#include <algorithm>

namespace rkprofile {

namespace {

const std::string_view utf8Mark = "\xEF\xBB\xBF";

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A NUL byte ends a name or value: callers see C strings.
std::string_view untilNul(std::string_view text)
{
    return text.substr(0, text.find('\0'));
}

} // namespace

bool isBlank(char c)
{
    // Carriage return and ^Z (a DOS end of file) count as blanks too.
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\x1a';
}

std::string_view trimmed(std::string_view text)
{
    size_t first = 0;
    while (first < text.size() && isBlank(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && isBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

bool namesEqual(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lowered(x) == lowered(y); });
}

ProfileText::ProfileText(std::string bytes) : bytes_(std::move(bytes)) { parse(); }

void ProfileText::parse()
{
    lines_.clear();
    size_t header = noHeader;
    size_t start = 0;
    while (start < bytes_.size()) {
        size_t end = start;
        while (end < bytes_.size() && bytes_[end] != '\n' && bytes_[end] != '\r')
            ++end;
        size_t ending = 0;
        if (end < bytes_.size())
            ending = (bytes_[end] == '\r' && end + 1 < bytes_.size() && bytes_[end + 1] == '\n') ? 2 : 1;
        Line line = parsedLine(start, end - start, ending);
        if (line.kind == Kind::Header || line.kind == Kind::BrokenHeader)
            header = lines_.size();
        else
            line.header = header;
        lines_.push_back(line);
        start = end + ending;
    }
}

ProfileText::Line ProfileText::parsedLine(size_t start, size_t length, size_t ending) const
{
    Line line;
    line.start = start;
    line.length = length;
    line.ending = ending;
    std::string_view content = std::string_view(bytes_).substr(start, length);
    if (start == 0 && content.substr(0, utf8Mark.size()) == utf8Mark)
        content.remove_prefix(utf8Mark.size());
    content = trimmed(content);
    if (!content.empty() && content.front() == '[') {
        const size_t close = content.find(']');
        line.kind = close == std::string_view::npos ? Kind::BrokenHeader : Kind::Header;
        if (close != std::string_view::npos)
            line.name = untilNul(trimmed(content.substr(1, close - 1)));
        return line;
    }
    const size_t equals = content.find('=');
    if (equals == std::string_view::npos)
        return line;
    line.kind = Kind::Entry;
    line.name = untilNul(trimmed(content.substr(0, equals)));
    line.value = untilNul(trimmed(content.substr(equals + 1)));
    return line;
}

bool ProfileText::isHeaderOf(const Line& line, std::string_view section) const
{
    return line.kind == Kind::Header && namesEqual(line.name, section);
}

bool ProfileText::liesIn(const Line& line, std::string_view section) const
{
    return line.header != noHeader && isHeaderOf(lines_[line.header], section);
}

bool ProfileText::isEntryOf(const Line& line, std::string_view section, std::string_view key) const
{
    return line.kind == Kind::Entry && namesEqual(line.name, key) && liesIn(line, section);
}

std::string_view ProfileText::text(const Line& line) const
{
    return std::string_view(bytes_).substr(line.start, line.length);
}

std::optional<std::string_view> ProfileText::value(std::string_view section, std::string_view key) const
{
    for (const Line& line : lines_) {
        if (isEntryOf(line, section, key))
            return line.value;
    }
    return std::nullopt;
}

std::vector<std::string_view> ProfileText::sectionNames() const
{
    std::vector<std::string_view> names;
    for (const Line& line : lines_) {
        if (line.kind == Kind::Header)
            names.push_back(line.name);
    }
    return names;
}

std::vector<std::string_view> ProfileText::keyNames(std::string_view section) const
{
    std::vector<std::string_view> names;
    for (const Line& line : lines_) {
        // Win32 leaves empty names and names of remark lines out of the list.
        if (line.kind != Kind::Entry || line.name.empty() || line.name.front() == ';' || !liesIn(line, section))
            continue;
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](std::string_view name) { return namesEqual(name, line.name); });
        if (!seen)
            names.push_back(line.name);
    }
    return names;
}

// New lines follow the line end the file already uses; a file without one
// gets CR LF, as Windows writes it, so a file reads the same on both hosts.
std::string_view ProfileText::lineEnd() const
{
    for (const Line& line : lines_) {
        if (line.ending != 0)
            return std::string_view(bytes_).substr(line.start + line.length, line.ending);
    }
    return "\r\n";
}

// A new key goes after the last non-blank line of the section's first
// occurrence, so blank lines that separate it from the next section stay.
size_t ProfileText::insertionLineFor(std::string_view section) const
{
    size_t header = noHeader;
    size_t last = noHeader;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (header == noHeader) {
            if (isHeaderOf(lines_[i], section))
                header = last = i;
            continue;
        }
        if (lines_[i].header != header)
            break;
        if (!trimmed(text(lines_[i])).empty())
            last = i;
    }
    return last;
}

void ProfileText::replaceBytes(size_t start, size_t length, const std::string& replacement)
{
    bytes_.replace(start, length, replacement);
    parse();
}

// What a new last line needs in front of it: a line end after the old one.
std::string ProfileText::terminatedTail() const
{
    if (lines_.empty() || lines_.back().ending != 0)
        return std::string();
    return std::string(lineEnd());
}

bool ProfileText::setValue(std::string_view section, std::string_view key, std::string_view value)
{
    const std::string end(lineEnd());
    for (const Line& line : lines_) {
        if (!isEntryOf(line, section, key))
            continue;
        if (line.value == value)
            return false;
        replaceBytes(line.start, line.length, std::string(line.name) + "=" + std::string(value));
        return true;
    }
    const std::string entry = std::string(key) + "=" + std::string(value);
    const size_t after = insertionLineFor(section);
    if (after != noHeader) {
        // Before the line's own line end, which then ends the new entry.
        const Line& line = lines_[after];
        replaceBytes(line.start + line.length, 0, end + entry);
        return true;
    }
    // A new section follows the last line directly, as Windows appends one.
    replaceBytes(bytes_.size(), 0, terminatedTail() + "[" + std::string(section) + "]" + end + entry + end);
    return true;
}

template <typename Predicate>
bool ProfileText::removeLinesWhere(Predicate doomed)
{
    std::string kept;
    kept.reserve(bytes_.size());
    bool removed = false;
    for (const Line& line : lines_) {
        if (doomed(line))
            removed = true;
        else
            kept.append(bytes_, line.start, line.length + line.ending);
    }
    if (removed) {
        bytes_ = std::move(kept);
        parse();
    }
    return removed;
}

bool ProfileText::removeKey(std::string_view section, std::string_view key)
{
    return removeLinesWhere([&](const Line& line) { return isEntryOf(line, section, key); });
}

// Blank lines that set the last section apart from the one before it go
// with it: a file does not end in blank lines a deletion left.
bool ProfileText::removeSection(std::string_view section)
{
    const bool lastRemoved = !lines_.empty() && (isHeaderOf(lines_.back(), section) || liesIn(lines_.back(), section));
    if (!removeLinesWhere([&](const Line& line) { return isHeaderOf(line, section) || liesIn(line, section); }))
        return false;
    if (lastRemoved)
        removeTrailingBlankLines();
    return true;
}

void ProfileText::removeTrailingBlankLines()
{
    size_t kept = lines_.size();
    while (kept > 0 && lines_[kept - 1].kind == Kind::Other && trimmed(text(lines_[kept - 1])).empty())
        --kept;
    if (kept < lines_.size())
        replaceBytes(lines_[kept].start, bytes_.size() - lines_[kept].start, std::string());
}

} // namespace rkprofile
