#include "markup/markup_query.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "markup/markup.h"
#include "markup/markup_test_support.h"

namespace {

class MarkupQuery : public ::testing::Test {
protected:
    void SetUp() override { reset_markup_state(); }
};

std::string text_of(const char* path) {
    const char* text = markup_query(path);
    return text ? text : "(null)";
}

TEST_F(MarkupQuery, StepsAreMatchedUpperCased) {
    ASSERT_EQ(parse("<config><window><width>800</width><size>7</size></window></config>"), 0);
    EXPECT_EQ(text_of("config>window>width"), "800");
    EXPECT_EQ(text_of("CONFIG>Window>WIDTH"), "800");
    EXPECT_EQ(markup_query_int("config>window>width"), 800);
    EXPECT_EQ(markup_query_real("config>window>width"), 800.0);
    EXPECT_EQ(text_of("config>window>size"), "7");  // z is a letter
    EXPECT_EQ(ErrorList.count, 0);
    // The result is the pooled string itself, and the document is unchanged.
    EXPECT_EQ(markup_query("config>window>width"), MarkupDocument.nodes[3].text);
    EXPECT_EQ(MarkupDocument.node_count, 6u);
}

TEST_F(MarkupQuery, IndexGroupsPickTheNthMatch) {
    std::string doc = "<config><window><halign>2</halign></window></config><channel>";
    for (int i = 0; i < 14; ++i)
        doc += "<part><offset>" + std::to_string(100 + i) + "</offset></part>";
    ASSERT_EQ(parse(doc + "</channel>"), 0);

    EXPECT_EQ(text_of("channel>part<0>offset"), "100");
    EXPECT_EQ(text_of("channel>part<1>offset"), "101");
    EXPECT_EQ(text_of("channel>part<12>offset"), "112");
    EXPECT_EQ(text_of("config<0>window>halign"), "2");
    // The opening character can be anything but '>', and anything may stand
    // around the digits.
    EXPECT_EQ(text_of("channel>part[ 3 ]>offset"), "103");
    EXPECT_EQ(text_of("channel>part.x13y>offset"), "113");
    EXPECT_EQ(ErrorList.count, 0);

    // No digit: everything after the group's opener is skipped, index 0.
    ASSERT_EQ(parse("<part>P</part>"), 0);
    EXPECT_EQ(text_of("part<>offset"), "P");
    // A digit right after the name opens the group and is itself skipped.
    EXPECT_EQ(text_of("part1>x"), "P");
    EXPECT_EQ(ErrorList.count, 0);

    EXPECT_EQ(markup_query("channel>part<14>offset"), nullptr);
    EXPECT_EQ(error_messages(), "node `PART[14]` not found");
}

TEST_F(MarkupQuery, FailuresPushOneMessageAndGiveZero) {
    ASSERT_EQ(parse("<config><audio><enabled>1</enabled><okkie></okkie></audio></config>"), 0);
    EXPECT_EQ(markup_query_int("config>audio>volume"), 0);
    EXPECT_EQ(error_messages(), "node `VOLUME[0]` not found");

    // The query stops at the first missing step.
    reset_markup_state();
    ASSERT_EQ(parse("<config><audio><okkie></okkie></audio></config>"), 0);
    EXPECT_EQ(markup_query_real("config>video>x>y"), 0.0);
    EXPECT_EQ(error_messages(), "node `VIDEO[0]` not found");

    // An empty element is named, as a missing one is.
    reset_markup_state();
    ASSERT_EQ(parse("<config><audio><okkie></okkie></audio></config>"), 0);
    EXPECT_EQ(markup_query_int("config>audio>okkie"), 0);
    EXPECT_EQ(error_messages(), "node `OKKIE[0]` is empty");

    // Matching ignores the kind, so a step can land on a text node.
    reset_markup_state();
    ASSERT_EQ(parse("<a>B</a>"), 0);
    EXPECT_EQ(markup_query("a>b"), nullptr);
    EXPECT_EQ(error_messages(), "no id255 found for parent 255 ");

    // The empty path asks for a top-level text.
    reset_markup_state();
    EXPECT_EQ(markup_query(""), nullptr);
    EXPECT_EQ(error_messages(), "no id255 found for parent 0 ");
    ASSERT_EQ(parse("top<a></a>"), 0);
    EXPECT_EQ(text_of(""), "top");
}

TEST_F(MarkupQuery, OnlyTheEarliestTextCounts) {
    ASSERT_EQ(parse("<a>x<b>1</b>y</a><c d='e'></c><f g>h</f>"), 0);
    EXPECT_EQ(text_of("a"), "x");
    EXPECT_EQ(markup_query("c"), nullptr);  // the rest of a tag is not a value
    EXPECT_EQ(text_of("f"), "h");
    EXPECT_EQ(error_messages(), "node `C[0]` is empty");
}

TEST_F(MarkupQuery, ConversionsActAsAtoiAndAtof) {
    ASSERT_EQ(parse("<i>  -42px</i><j>wide</j><r>1.5e2x</r><k>99999999999</k><n>nan</n>"), 0);
    EXPECT_EQ(markup_query_int("i"), -42);
    EXPECT_EQ(markup_query_int("j"), 0);
    EXPECT_EQ(markup_query_real("r"), 150.0);
    EXPECT_EQ(markup_query_real("j"), 0.0);
    EXPECT_EQ(markup_query_int("r"), 1);
    // Out of range saturates at the 32-bit limits.
    EXPECT_EQ(markup_query_int("k"), INT32_MAX);
    EXPECT_TRUE(std::isnan(markup_query_real("n")));
    EXPECT_EQ(ErrorList.count, 0);  // text that is not a number is no failure
}

TEST_F(MarkupQuery, PathsAreReadUpTo255Characters) {
    ASSERT_EQ(parse("<a><b>1</b></a>"), 0);
    // Filler inside an index group puts the 'b' at character 255: still read.
    std::string path = "a<0" + std::string(250, ' ') + ">b";
    ASSERT_EQ(path.size(), 255u);
    EXPECT_EQ(text_of(path.c_str()), "1");
    // One more character of filler pushes the 'b' past the limit.
    path = "a<0" + std::string(251, ' ') + ">b";
    EXPECT_EQ(text_of(path.c_str()), "(null)");
    EXPECT_EQ(error_messages(), "node `A[0]` holds no text");

    // A huge index wraps instead of overflowing; a negative one takes the first.
    reset_markup_state();
    ASSERT_EQ(parse("<a>1</a><a>2</a>"), 0);
    EXPECT_EQ(text_of("a<4294967295>"), "1");
    EXPECT_EQ(text_of("a<4294967297>"), "2");
    EXPECT_EQ(ErrorList.count, 0);

    EXPECT_TRUE(is_digit('0'));
    EXPECT_TRUE(is_digit('9'));
    EXPECT_FALSE(is_digit('/'));
    EXPECT_FALSE(is_digit(':'));
    EXPECT_FALSE(is_digit(static_cast<char>(0xb9)));  // superscript one in Latin-1
}

}  // namespace
