// Everything the profile functions can see in a profile file: each
// section's keys and their values, names in lower case as the functions
// compare them. Two views are equal when no reader could tell the files apart.
#ifndef RK_FUZZ_PROFILE_VIEW_H
#define RK_FUZZ_PROFILE_VIEW_H

#include "profile/profileText.h"

#include <map>
#include <string>

namespace rkfuzz {

using KeyValues = std::map<std::string, std::string>;
using ProfileView = std::map<std::string, KeyValues>;

inline std::string lowerName(std::string_view name)
{
    std::string lowered(name);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

inline ProfileView profileView(const std::string& bytes)
{
    const rkprofile::ProfileText text(bytes);
    ProfileView view;
    for (std::string_view section : text.sectionNames()) {
        KeyValues& keys = view[lowerName(section)];
        for (std::string_view key : text.keyNames(section))
            keys[lowerName(key)] = std::string(text.value(section, key).value_or("\x01missing"));
    }
    return view;
}

} // namespace rkfuzz

#endif
