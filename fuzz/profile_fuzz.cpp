// The platform's profile functions on a fuzzed file, with fuzzed sections,
// keys and values to write, remove or read in a private directory.
// Oracles: a write is refused exactly when its texts would change the
// file's structure, and a refused one leaves every byte; a value written
// reads back as the functions' rules make it (blanks at both ends dropped,
// then one pair of matching quotes); a removed key or section reads as
// missing; no other key of any section changes; reads into short buffers
// cut as documented.
#include "fuzzCheck.h"
#include "fuzzInput.h"
#include "fuzzScratch.h"
#include "profile/profileText.h"
#include "profileView.h"
#include "rkwin.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

using rkfuzz::FuzzInput;
using rkfuzz::ProfileView;

namespace {

// Defaults that a stored value could equal: a key reads as missing only when
// each of two different defaults comes back.
const char missing[] = "\x01missing";
const char alsoMissing[] = "\x02missing";

const std::string& profilePath()
{
    static const std::string path = rkfuzz::scratchDirectory("rk-profile-fuzz-") + "/fuzz.ini";
    return path;
}

struct profileEdit {
    enum Kind { setValue, removeKey, removeSection } kind = setValue;
    std::string section;
    std::string key;
    std::string value;

    const char* keyText() const { return kind == removeSection ? nullptr : key.c_str(); }
    const char* valueText() const { return kind == setValue ? value.c_str() : nullptr; }
};

// The functions take C strings: a name ends at its first NUL.
std::string cString(const std::string& bytes)
{
    return std::string(bytes.c_str());
}

profileEdit editFrom(FuzzInput& input)
{
    profileEdit edit;
    edit.kind = static_cast<profileEdit::Kind>(input.byte() % 3);
    edit.section = cString(input.text());
    edit.key = cString(input.text());
    edit.value = cString(input.text());
    return edit;
}

bool hasLineBreak(const char* text)
{
    return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

bool isWritable(const profileEdit& edit)
{
    if (hasLineBreak(edit.section.c_str()) || hasLineBreak(edit.keyText()) || hasLineBreak(edit.valueText()))
        return false;
    if (edit.section.find(']') != std::string::npos)
        return false;
    if (edit.keyText() == nullptr)
        return true;
    const std::string_view key = rkprofile::trimmed(edit.key);
    return key.find('=') == std::string_view::npos && (key.empty() || key.front() != '[');
}

std::string_view withoutQuotes(std::string_view text)
{
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        return text.substr(1, text.size() - 2);
    return text;
}

std::string readString(const char* section, const char* key, DWORD size = 70000, const char* fallback = missing)
{
    std::vector<char> buffer(size, '\x7f');
    const DWORD count = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, profilePath().c_str());
    FUZZ_CHECK(count < size, "a read claims more than its buffer");
    return std::string(buffer.data(), count);
}

bool readsAsMissing(const char* section, const char* key)
{
    return readString(section, key) == missing && readString(section, key, 70000, alsoMissing) == alsoMissing;
}

// Every key outside the edited one reads as before.
void checkOthersKept(const ProfileView& before, const ProfileView& after, const profileEdit& edit)
{
    const std::string section = rkfuzz::lowerName(rkprofile::trimmed(edit.section));
    const std::string key = rkfuzz::lowerName(rkprofile::trimmed(edit.key));
    for (const auto& [name, keys] : before) {
        if (name != section) {
            FUZZ_CHECK(after.count(name) == 1 && after.at(name) == keys, "another section changed");
            continue;
        }
        if (edit.kind == profileEdit::removeSection)
            continue;
        for (const auto& [entry, value] : keys)
            if (entry != key)
                FUZZ_CHECK(after.count(name) == 1 && after.at(name).count(entry) == 1 &&
                               after.at(name).at(entry) == value,
                           "another key of the section changed");
    }
    for (const auto& [name, keys] : after) {
        FUZZ_CHECK(before.count(name) == 1 || name == section, "a section appeared that nobody wrote");
        for (const auto& entry : keys)
            FUZZ_CHECK((before.count(name) == 1 && before.at(name).count(entry.first) == 1) || entry.first == key,
                       "a key appeared that nobody wrote");
    }
}

void checkEditResult(const profileEdit& edit)
{
    const std::string section = std::string(rkprofile::trimmed(edit.section));
    switch (edit.kind) {
    case profileEdit::setValue: {
        const std::string expected(withoutQuotes(rkprofile::trimmed(edit.value)));
        FUZZ_CHECK(readString(edit.section.c_str(), edit.key.c_str()) == expected, "a written value reads back otherwise");
        break;
    }
    case profileEdit::removeKey:
        FUZZ_CHECK(readsAsMissing(edit.section.c_str(), edit.key.c_str()), "a removed key still reads");
        break;
    case profileEdit::removeSection:
        FUZZ_CHECK(rkfuzz::profileView(rkfuzz::fileBytes(profilePath())).count(rkfuzz::lowerName(section)) == 0,
                   "a removed section still has a header");
        FUZZ_CHECK(readsAsMissing(edit.section.c_str(), nullptr), "a removed section still has keys");
        break;
    }
}

void applyEdit(const profileEdit& edit)
{
    const std::string bytesBefore = rkfuzz::fileBytes(profilePath());
    const ProfileView before = rkfuzz::profileView(bytesBefore);
    SetLastError(0);
    const BOOL written =
        WritePrivateProfileStringA(edit.section.c_str(), edit.keyText(), edit.valueText(), profilePath().c_str());
    if (!isWritable(edit)) {
        FUZZ_CHECK(!written && GetLastError() == ERROR_INVALID_PARAMETER, "a structure-changing write was taken");
        FUZZ_CHECK(rkfuzz::fileBytes(profilePath()) == bytesBefore, "a refused write changed the file");
        return;
    }
    FUZZ_CHECK(written, "a harmless write failed");
    checkEditResult(edit);
    checkOthersKept(before, rkfuzz::profileView(rkfuzz::fileBytes(profilePath())), edit);
}

// A short buffer holds a cut value, or a name list cut to end in two NULs.
void checkShortBuffers(const std::string& section, const std::string& key, DWORD size)
{
    const std::string value = readString(section.c_str(), key.c_str());
    const std::string cut = readString(section.c_str(), key.c_str(), size);
    FUZZ_CHECK(cut == value.substr(0, size - 1), "a value in a short buffer is not its beginning");
    const std::string list = readString(nullptr, nullptr);
    std::vector<char> buffer(size, '\x7f');
    const DWORD count = GetPrivateProfileStringA(nullptr, nullptr, "", buffer.data(), size, profilePath().c_str());
    if (list.size() + 1 <= size) {
        FUZZ_CHECK(count == list.size() && buffer[count] == '\0', "a fitting name list");
        return;
    }
    if (size < 2)
        return;
    FUZZ_CHECK(count == size - 2 && buffer[size - 2] == '\0' && buffer[size - 1] == '\0', "a cut name list's end");
    FUZZ_CHECK(std::memcmp(buffer.data(), list.data(), size - 2) == 0, "a cut name list's beginning");
}

// Plain decimal values read as the same number.
void checkInteger(const std::string& section, const std::string& key)
{
    const std::string value = readString(section.c_str(), key.c_str());
    const UINT number = GetPrivateProfileIntA(section.c_str(), key.c_str(), 77, profilePath().c_str());
    if (readsAsMissing(section.c_str(), key.c_str()) || value.empty()) {
        FUZZ_CHECK(number == 77, "a missing or empty value does not give the default");
        return;
    }
    if (value.size() <= 9 && value.find_first_not_of("0123456789") == std::string::npos)
        FUZZ_CHECK(number == static_cast<UINT>(std::stoul(value)), "a decimal value reads as another number");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const unsigned edits = input.byte() % 4 + 1;
    std::vector<profileEdit> planned;
    for (unsigned i = 0; i < edits; ++i)
        planned.push_back(editFrom(input));
    const DWORD shortSize = input.byte() % 12 + 1;
    rkfuzz::writeFileBytes(profilePath(), input.rest());
    for (const profileEdit& edit : planned) {
        applyEdit(edit);
        checkShortBuffers(edit.section, edit.key, shortSize);
        checkInteger(edit.section, edit.key);
    }
    return 0;
}
