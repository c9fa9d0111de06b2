// decodeTELMString on fuzzed texts and quote characters. Oracles: the
// fields equal those of the plain reading in fieldReference.h; indexes
// outside the count read as ""; the caller's text stays as it was; and an
// NS command formatted as the driver formats one decodes back into the
// values it was made of.
#include "decodeTELMString.h"
#include "fieldReference.h"
#include "fuzzCheck.h"
#include "fuzzInput.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using rkfuzz::FuzzInput;

namespace {

std::vector<std::string> decodedFields(const decodeTELMString& decoded)
{
    std::vector<std::string> fields;
    for (int i = 0; i < decoded.getCount(); ++i)
        fields.emplace_back(decoded.getField(i));
    return fields;
}

void checkAgainstReference(const std::string& text, int quote)
{
    const std::string before = text;
    const decodeTELMString decoded(text.c_str(), quote);
    FUZZ_CHECK(text == before, "the caller's text was changed");
    FUZZ_CHECK(decoded.getCount() >= 0 && decoded.getCount() <= decodeTELMString::maxFields, "field count");
    FUZZ_CHECK(decodedFields(decoded) == rkfuzz::referenceFields(text, static_cast<char>(quote)),
               "fields differ from the plain reading");
    for (int index : {-1, decoded.getCount(), decodeTELMString::maxFields, 1 << 20})
        FUZZ_CHECK(*decoded.getField(index) == '\0', "a field outside the count is not empty");
}

// A word of a command: no blank, quote or NUL; never empty.
std::string word(std::string text)
{
    std::string kept;
    for (char c : text)
        if (c != ' ' && c != '\'' && c != '\0')
            kept += c;
    return kept.empty() ? "w" : kept;
}

std::string quotedText(std::string text)
{
    std::string kept;
    for (char c : text)
        if (c != '\'' && c != '\0')
            kept += c;
    return kept;
}

void checkRoundTrip(FuzzInput& input)
{
    const int device = static_cast<int>(input.number(4));
    const int from = static_cast<int>(input.number(4));
    const int workstation = static_cast<int>(input.number(4));
    const std::string text = quotedText(input.text());
    const std::string first = word(input.text());
    const std::string second = word(input.text());
    char command[1024];
    std::snprintf(command, sizeof command, "NS %d %d '%s' %d %s %s", device, from, text.c_str(), workstation,
                  first.c_str(), second.c_str());
    const decodeTELMString decoded(command, '\'');
    const std::vector<std::string> expected = {
        "NS", std::to_string(device), std::to_string(from), text, std::to_string(workstation), first, second};
    FUZZ_CHECK(decodedFields(decoded) == expected, "an NS command does not decode into its parts");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    if (input.byte() % 2 == 1) {
        checkRoundTrip(input);
        return 0;
    }
    const int quote = static_cast<int>(static_cast<int16_t>(input.number(2)));
    const std::string bytes = input.rest();
    checkAgainstReference(std::string(bytes.c_str()), quote);
    return 0;
}
