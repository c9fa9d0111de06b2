/*
 * decodeTELMString: splits one command text of the hub protocol into at
 * most 32 fields: words separated by spaces, with a quote character that
 * encloses a field holding spaces. It decodes once, at construction, into a
 * private copy of the text. Fields past the count read as the empty string.
 */
#ifndef DECODETELMSTRING_H
#define DECODETELMSTRING_H

#include <cstddef>
#include <vector>

class decodeTELMString {
public:
    static const int maxFields = 32;

    decodeTELMString(const char* text, int quote);
    virtual ~decodeTELMString();
    /* The fields point into the object's own buffer; a copy would have to
       re-point all of them, and nothing needs one. */
    decodeTELMString(const decodeTELMString&) = delete;
    decodeTELMString& operator=(const decodeTELMString&) = delete;

    int getCount() const;
    /* The field at index; the empty string for any index outside 0..count-1. */
    const char* getField(int index) const;

private:
    void decode(const char* text);
    bool startField(int& current, std::size_t position);

    const char* fields[maxFields];
    int count;
    std::vector<char> buffer;
    int quote;
};

#endif /* DECODETELMSTRING_H */
