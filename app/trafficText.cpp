#include "trafficText.h"

#include "randomSource.h"

namespace {
constexpr int firstPrintable = 32; /* the space */
constexpr int printableCount = 95; /* the space to the tilde */
constexpr char apostrophe = '\'';
constexpr char percent = '%';

char randomCharacter()
{
    char c = static_cast<char>(firstPrintable + drawRandom() % printableCount);
    if (c == apostrophe)
        c = apostrophe + 1;
    if (c == percent)
        c = percent + 1;
    return c;
}
}

int drawInRange(int minimum, int range)
{
    const int r = drawRandom();
    if (range == 0)
        return minimum;
    return minimum + r % range;
}

double meanOfRange(int minimum, int range)
{
    const int width = range < 0 ? -range : range;
    return width == 0 ? minimum : minimum + (width - 1) / 2.0;
}

std::string randomText(int size)
{
    std::string text;
    text.reserve(size > 0 ? static_cast<std::size_t>(size) : 0);
    for (int i = 0; i < size; ++i)
        text += randomCharacter();
    return text;
}

std::string irCommandText(unsigned int device, int slot, const std::string& text)
{
    return "IR " + std::to_string(static_cast<int>(device)) + " " + std::to_string(slot) + " '" +
           text + "' 0";
}
