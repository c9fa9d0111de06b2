// The lines of a profile (INI) file, as the profile functions see them.
//
// Reading follows the Win32 rules: blanks around names and values do not
// count (inside the brackets of a header neither), names match without
// regard to letter case, lines without "=" carry no data. Where the section
// engine of the configuration library reads differently, this reads as the
// engine does, so both find the same values: a section that occurs more
// than once contributes the keys of every occurrence (the first key of a
// name wins), a header ends at its first "]", and a header without "]" ends
// the section before it. Editing changes only the lines it must; every other
// byte of the file stays as it was. Written lines end as the file's lines
// already do, and with CR LF in a file that has no line end yet.
#ifndef RK_PROFILE_TEXT_H
#define RK_PROFILE_TEXT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rkprofile {

bool isBlank(char c);
std::string_view trimmed(std::string_view text);
bool namesEqual(std::string_view a, std::string_view b);

class ProfileText {
public:
    explicit ProfileText(std::string bytes);

    const std::string& bytes() const { return bytes_; }

    std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
    std::vector<std::string_view> sectionNames() const;
    std::vector<std::string_view> keyNames(std::string_view section) const;

    // Each edit returns whether the text changed.
    bool setValue(std::string_view section, std::string_view key, std::string_view value);
    bool removeKey(std::string_view section, std::string_view key);
    bool removeSection(std::string_view section);

private:
    enum class Kind { Other, Header, BrokenHeader, Entry };
    static constexpr size_t noHeader = static_cast<size_t>(-1);

    struct Line {
        size_t start = 0;
        size_t length = 0; // without the line end
        size_t ending = 0; // bytes of the line end: 0, 1 or 2
        Kind kind = Kind::Other;
        size_t header = noHeader; // the header line this line lies under
        std::string_view name;    // section name or key
        std::string_view value;   // value of an entry
    };

    void parse();
    Line parsedLine(size_t start, size_t length, size_t ending) const;
    bool isHeaderOf(const Line& line, std::string_view section) const;
    bool liesIn(const Line& line, std::string_view section) const;
    bool isEntryOf(const Line& line, std::string_view section, std::string_view key) const;
    std::string_view text(const Line& line) const;
    std::string_view lineEnd() const;
    size_t insertionLineFor(std::string_view section) const;
    void replaceBytes(size_t start, size_t length, const std::string& replacement);
    // Drops every line for which doomed holds; whether any was dropped.
    template <typename Predicate>
    bool removeLinesWhere(Predicate doomed);
    std::string terminatedTail() const;
    void removeTrailingBlankLines();

    std::string bytes_;
    std::vector<Line> lines_;
};

} // namespace rkprofile

#endif
