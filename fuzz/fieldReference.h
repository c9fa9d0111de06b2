// The fields of a command text, read the plain way: the text is cut at
// every quote character and at every space outside quotes. The first piece
// is always a field, even when empty; a later piece is a field when it holds
// something or when it is the inside of a pair of quotes; at most 32.
#ifndef RK_FUZZ_FIELD_REFERENCE_H
#define RK_FUZZ_FIELD_REFERENCE_H

#include <string>
#include <vector>

namespace rkfuzz {

constexpr size_t referenceMaxFields = 32;

class FieldCutter {
public:
    explicit FieldCutter(char quote) : quote_(quote) {}

    std::vector<std::string> fields(const std::string& text)
    {
        if (text.empty())
            return {};
        for (char c : text) {
            if (c == quote_) {
                cut(quoted_);
                quoted_ = !quoted_;
            } else if (c == ' ' && !quoted_) {
                cut(false);
            } else {
                piece_ += c;
            }
        }
        cut(false);
        if (fields_.size() > referenceMaxFields)
            fields_.resize(referenceMaxFields);
        return fields_;
    }

private:
    void cut(bool closesQuote)
    {
        if (fields_.empty() && !started_)
            fields_.push_back(piece_);
        else if (!piece_.empty() || closesQuote)
            fields_.push_back(piece_);
        started_ = true;
        piece_.clear();
    }

    char quote_;
    bool quoted_ = false;
    bool started_ = false;
    std::string piece_;
    std::vector<std::string> fields_;
};

inline std::vector<std::string> referenceFields(const std::string& text, char quote)
{
    return FieldCutter(quote).fields(text);
}

} // namespace rkfuzz

#endif
