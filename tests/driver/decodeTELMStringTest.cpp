#include "decodeTELMString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> fieldsOf(const char* text, int quote = '\'')
{
    const decodeTELMString decoded(text, quote);
    std::vector<std::string> fields;
    for (int i = 0; i < decoded.getCount(); ++i)
        fields.emplace_back(decoded.getField(i));
    return fields;
}

using fieldList = std::vector<std::string>;

TEST(decodeTELMString, splitsAnNSTextIntoSevenFieldsKeepingTheQuotedSpace)
{
    EXPECT_EQ(fieldsOf("NS 5 3 'hello world' 0 a b"), (fieldList{"NS", "5", "3", "hello world", "0", "a", "b"}));
}

TEST(decodeTELMString, turnsAnEmptyPairOfQuotesIntoAnEmptyField)
{
    EXPECT_EQ(fieldsOf("IR 12 7 '' 0"), (fieldList{"IR", "12", "7", "", "0"}));
}

TEST(decodeTELMString, givesAnEmptyFirstFieldForALeadingSpace)
{
    EXPECT_EQ(fieldsOf("  a b"), (fieldList{"", "a", "b"}));
}

TEST(decodeTELMString, givesAnEmptyFirstFieldForALeadingQuote)
{
    EXPECT_EQ(fieldsOf("'x y' z"), (fieldList{"", "x y", "z"}));
}

TEST(decodeTELMString, separatesByRunsOfSpacesWithoutEmptyFields)
{
    EXPECT_EQ(fieldsOf("a   b "), (fieldList{"a", "b"}));
}

TEST(decodeTELMString, countsNoFieldsForNullOrEmptyTextAndReadsEveryFieldAsEmpty)
{
    const decodeTELMString none(nullptr, '\'');
    const decodeTELMString empty("", '\'');
    EXPECT_EQ(none.getCount(), 0);
    EXPECT_EQ(empty.getCount(), 0);
    for (int i = 0; i < decodeTELMString::maxFields; ++i) {
        EXPECT_STREQ(none.getField(i), "");
        EXPECT_STREQ(empty.getField(i), "");
    }
}

TEST(decodeTELMString, keepsAtMostThirtyTwoFieldsTheLastBeingTheThirtySecondWord)
{
    std::string text;
    for (int i = 0; i < 40; ++i)
        text += std::string(1, static_cast<char>('a' + i % 26)) + " ";
    const decodeTELMString decoded(text.c_str(), '\'');
    ASSERT_EQ(decoded.getCount(), 32);
    EXPECT_STREQ(decoded.getField(31), "f"); // word 32 is the 32nd letter, wrapped: 'a' + 31 % 26
    EXPECT_STREQ(decoded.getField(32), "");
}

TEST(decodeTELMString, takesTheRestOfTheTextAsOneFieldAfterAnUnclosedQuote)
{
    EXPECT_EQ(fieldsOf("x 'unterminated text"), (fieldList{"x", "unterminated text"}));
}

TEST(decodeTELMString, endsAWordAtAQuoteInsideItAndOpensAQuotedField)
{
    EXPECT_EQ(fieldsOf("ab'c d' e"), (fieldList{"ab", "c d", "e"}));
}

TEST(decodeTELMString, closesAQuotedTextAtTheNextQuoteWithoutEscapes)
{
    EXPECT_EQ(fieldsOf("'it''s' x"), (fieldList{"", "it", "s", "x"}));
}

TEST(decodeTELMString, takesOtherWhiteSpaceAsPartOfAWord)
{
    EXPECT_EQ(fieldsOf("a\tb c"), (fieldList{"a\tb", "c"}));
}

TEST(decodeTELMString, usesTheLowByteOfTheQuoteArgument)
{
    EXPECT_EQ(fieldsOf("a \"b c\" d", 0x100 + '"'), (fieldList{"a", "b c", "d"}));
}

TEST(decodeTELMString, comparesAQuoteAboveSevenBitsByteForByte)
{
    EXPECT_EQ(fieldsOf("a \xa7x y\xa7 z", 0xa7), (fieldList{"a", "x y", "z"}));
}

TEST(decodeTELMString, readsIndexesOutsideTheFieldsAsEmpty)
{
    const decodeTELMString decoded("a b", '\'');
    EXPECT_STREQ(decoded.getField(-1), "");
    EXPECT_STREQ(decoded.getField(2), "");
    EXPECT_STREQ(decoded.getField(1000), "");
}

TEST(decodeTELMString, leavesTheCallersTextUntouched)
{
    const char text[] = "NS 5 3 'hello world' 0 a b";
    const std::string before = text;
    const decodeTELMString decoded(text, '\'');
    EXPECT_EQ(before, text);
}

} // namespace
