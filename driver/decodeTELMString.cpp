#include "decodeTELMString.h"

#include <cstring>

namespace {
const char emptyField[] = "";
}

decodeTELMString::decodeTELMString(const char* text, int quote)
    : count(0), quote(quote)
{
    decode(text);
}

decodeTELMString::~decodeTELMString() = default;

int decodeTELMString::getCount() const
{
    return count;
}

const char* decodeTELMString::getField(int index) const
{
    if (index < 0 || index >= count)
        return emptyField;
    return fields[index];
}

/* Moves on to a new field at position; false once all fields are taken,
   which leaves the rest of the text unsplit. */
bool decodeTELMString::startField(int& current, size_t position)
{
    if (current == maxFields - 1)
        return false;
    ++current;
    fields[current] = buffer.data() + position;
    return true;
}

void decodeTELMString::decode(const char* text)
{
    count = 0;
    for (const char*& field : fields)
        field = emptyField;
    buffer.clear();
    if (text == nullptr || *text == '\0')
        return;

    const size_t length = std::strlen(text);
    buffer.assign(text, text + length);
    buffer.push_back('\0');
    fields[0] = buffer.data();

    const char quoteChar = static_cast<char>(quote);
    int current = 0;
    bool quoted = false;
    for (size_t i = 0; i < length; ++i) {
        char& b = buffer[i];
        const bool afterSeparator = i > 0 && buffer[i - 1] == '\0';
        if (b == quoteChar) {
            b = '\0';
            // An empty pair of quotes still stands for a field.
            if (quoted && afterSeparator && !startField(current, i))
                break;
            quoted = !quoted;
        } else if (!quoted && b == ' ') {
            b = '\0';
        } else if (afterSeparator && !startField(current, i)) {
            break;
        }
    }
    count = current + 1;
}
