#include "markup/markup.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "markup/markup_test_support.h"

namespace {

// The table as "id:parent:text" records, in order.
std::string nodes() {
    std::string all;
    for (uint32_t i = 0; i < MarkupDocument.node_count; ++i) {
        const MarkupNode& node = MarkupDocument.nodes[i];
        if (i) all += ' ';
        all += std::to_string(node.id) + ':' + std::to_string(node.parent) + ':' + node.text;
    }
    return all;
}

class MarkupParse : public ::testing::Test {
protected:
    void SetUp() override { reset_markup_state(); }
};

TEST_F(MarkupParse, BuildsElementsAndTextInDocumentOrder) {
    EXPECT_EQ(parse(""), 0);
    EXPECT_EQ(MarkupDocument.node_count, 0u);

    EXPECT_EQ(parse("<a>x</a>"), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:x");
    EXPECT_EQ(MarkupDocument.current, 0);

    markup_reset();
    EXPECT_EQ(parse("<config><window><width>800</width></window></config>"), 0);
    EXPECT_EQ(nodes(), "1:0:CONFIG 2:1:WINDOW 3:2:WIDTH 255:3:800");
    EXPECT_EQ(MarkupDocument.pool_length, 24u);

    // Text takes a table place too, so the element after it gets id 2.
    markup_reset();
    EXPECT_EQ(parse("one<a>b</a>"), 0);
    EXPECT_EQ(nodes(), "255:0:one 2:0:A 255:2:b");

    // A parse appends, inside whatever is open.
    markup_reset();
    EXPECT_EQ(parse("<a>"), 1);
    EXPECT_EQ(parse("x</a>"), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:x");
}

TEST_F(MarkupParse, QuotesSwallowBracketsUntilTheirMatch) {
    EXPECT_EQ(parse("<caption>'x < y'</caption>"), 0);
    EXPECT_EQ(nodes(), "1:0:CAPTION 255:1:'x < y'");

    // An apostrophe in text runs to the end: A stays open.
    markup_reset();
    EXPECT_EQ(parse("<a>don't</a>"), 1);
    EXPECT_EQ(nodes(), "1:0:A");
    EXPECT_EQ(ErrorList.count, 0);

    // ... or until the swallowed token passes 254 characters.
    markup_reset();
    EXPECT_EQ(parse("<a>don't</a>" + std::string(300, ' ')), 2);

    // Inside double quotes an apostrophe is a plain character, and back.
    markup_reset();
    EXPECT_EQ(parse("<a>\"it's\"</a><b>'say \"hi'</b>"), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:\"it's\" 3:0:B 255:3:'say \"hi'");

    // Quotes in a tag hide its brackets as well.
    markup_reset();
    EXPECT_EQ(parse("<part id='>'>p</part>"), 0);
    EXPECT_EQ(nodes(), "1:0:PART 254:1:id='>' 255:1:p");
}

TEST_F(MarkupParse, LineBreaksVanishAndOnlyBlanksAndTabsAreTrimmed) {
    EXPECT_EQ(parse("<a>\r\n  first\r\n    second \t</a>"), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:first    second");

    // A NUL byte does not end the input, but it cuts the token's text.
    markup_reset();
    EXPECT_EQ(parse(std::string("<a>ab\0cd</a><b>x</b>", 20)), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:ab 3:0:B 255:3:x");

    // A token that is only blanks (or starts with NUL) makes no node.
    markup_reset();
    EXPECT_EQ(parse(std::string("<a> \t </a><b>\0x</b>", 19)), 0);
    EXPECT_EQ(nodes(), "1:0:A 2:0:B");

    // Text after the last bracket is dropped.
    markup_reset();
    EXPECT_EQ(parse("<a></a>tail"), 0);
    EXPECT_EQ(nodes(), "1:0:A");
}

TEST_F(MarkupParse, TokensHoldAtMost254Characters) {
    std::string text254(254, 'x');
    EXPECT_EQ(parse("<a>" + text254 + "</a>"), 0);
    EXPECT_EQ(std::string(MarkupDocument.nodes[1].text), text254);

    markup_reset();
    EXPECT_EQ(parse("<a>" + std::string(255, 'x') + "</a>"), 2);
    EXPECT_EQ(nodes(), "1:0:A");

    // Blanks count before they are trimmed, and so do bytes after a NUL.
    markup_reset();
    EXPECT_EQ(parse("<a>" + std::string(250, ' ') + "xxxxx</a>"), 2);
    markup_reset();
    EXPECT_EQ(parse("<a>x" + std::string(254, '\0') + "</a>"), 2);

    // Line breaks never reach the token, so they do not count.
    markup_reset();
    EXPECT_EQ(parse("<a>" + std::string(100, '\n') + text254 + "</a>"), 0);
}

TEST_F(MarkupParse, OpeningTagsKeepTheirNameUpperCasedAndTheRestRaw) {
    // Digits end a name, on both sides.
    EXPECT_EQ(parse("<h12>a</h12>"), 0);
    EXPECT_EQ(nodes(), "1:0:H 254:1:2 255:1:a");

    // The character that ends the name is dropped: "br/" leaves no rest.
    markup_reset();
    EXPECT_EQ(parse("<part id='7'>p</part><br/></br>"), 0);
    EXPECT_EQ(nodes(), "1:0:PART 254:1:id='7' 255:1:p 4:0:BR");

    // <br/> opens BR, which needs its own closer.
    markup_reset();
    EXPECT_EQ(parse("<br/>"), 1);

    // Case does not matter between opener and closer.
    markup_reset();
    EXPECT_EQ(parse("<Config><WIDTH>800</width></config>"), 0);
    EXPECT_EQ(nodes(), "1:0:CONFIG 2:1:WIDTH 255:2:800");

    // A tag that does not start with a letter opens an element with an empty
    // name; the character after the name is dropped, the rest kept unchanged.
    markup_reset();
    EXPECT_EQ(parse("<1x>< a  b>"), 1);
    EXPECT_EQ(nodes(), "1:0: 254:1:x 3:1:A 254:3: b");

    // The token itself is changed in place.
    markup_reset();
    char token[] = "window halign";
    EXPECT_EQ(markup_handle_tag(token, 1), 0);
    EXPECT_STREQ(token, "WINDOW");
    EXPECT_EQ(nodes(), "1:0:WINDOW 254:1:halign");
}

TEST_F(MarkupParse, SkippedTagsAndTheirQuirks) {
    EXPECT_EQ(parse("<?xml version='1.0'?><!DOCTYPE x><a><!-- note --></a>"), 0);
    EXPECT_EQ(nodes(), "1:0:A");
    EXPECT_EQ(MarkupDocument.pool_length, 2u);  // nothing of the skipped tags is pooled

    // A '>' inside a comment ends it; the rest opens an element.
    markup_reset();
    EXPECT_EQ(parse("<a><!-- x > y --></a>"), 1);
    EXPECT_EQ(nodes(), "1:0:A 2:1:Y 254:2:--");
    EXPECT_EQ(MarkupDocument.current, 2);
    EXPECT_EQ(error_messages(), "no opener for </A> on line 1\n");

    // So does a '>' in text.
    reset_markup_state();
    EXPECT_EQ(parse("<a>x > y</a>"), 1);
    EXPECT_EQ(nodes(), "1:0:A 2:1:X 255:2:y");
}

TEST_F(MarkupParse, ClosersMustMatchTheOpenElement) {
    EXPECT_EQ(parse("</a>"), 1);
    EXPECT_EQ(error_messages(), "no opener for </A> on line 1\n");
    EXPECT_EQ(MarkupDocument.pool_length, 2u);  // the closer's name was pooled

    // The line counts the line feeds before the tag's '>', those inside the
    // tag included; anything after the closer's name is ignored.
    reset_markup_state();
    EXPECT_EQ(parse("<a>\n<b>\n</b>\r\n</c\n >\n"), 1);
    EXPECT_EQ(error_messages(), "no opener for </C> on line 5\n");
    // A failed parse keeps what it built and where it stood.
    EXPECT_EQ(nodes(), "1:0:A 2:1:B");
    EXPECT_EQ(MarkupDocument.current, 1);

    // Crossed elements: B is open, so </a> has no opener.
    reset_markup_state();
    EXPECT_EQ(parse("<a><b></a></b>"), 1);
    EXPECT_EQ(error_messages(), "no opener for </A> on line 1\n");

    // An element left open is result 1 without a message.
    reset_markup_state();
    EXPECT_EQ(parse("<a>text"), 1);
    EXPECT_EQ(nodes(), "1:0:A");
    EXPECT_EQ(ErrorList.count, 0);

    // Stepping out restores the parent, so siblings nest correctly.
    reset_markup_state();
    EXPECT_EQ(parse("<a><b></b><c>1</c></a><d></d>"), 0);
    EXPECT_EQ(nodes(), "1:0:A 2:1:B 3:1:C 255:3:1 5:0:D");
}

TEST_F(MarkupParse, EqualStringsShareOnePooledCopy) {
    EXPECT_EQ(parse("<part>PART</part><part>x</part><b>x</b>"), 0);
    const MarkupNode* n = MarkupDocument.nodes;
    EXPECT_EQ(n[0].text, n[1].text);  // a text equal to a name
    EXPECT_EQ(n[0].text, n[2].text);
    EXPECT_EQ(n[3].text, n[5].text);
    EXPECT_EQ(MarkupDocument.pool_length, 9u);  // "PART", "x", "B"

    const char* pooled = markup_intern("x");
    EXPECT_EQ(pooled, n[3].text);
    const char* fresh = markup_intern("xy");
    EXPECT_EQ(fresh, MarkupDocument.pool + 9);
    EXPECT_EQ(MarkupDocument.pool_length, 12u);
    // Whole strings only: the tail of a stored string is not a match.
    EXPECT_NE(markup_intern("y"), fresh + 1);

    // After a reset the pool starts over at its first byte.
    markup_reset();
    EXPECT_EQ(markup_intern("new"), MarkupDocument.pool);
    EXPECT_EQ(markup_add_text("t", ID_TEXT), 0);
    EXPECT_EQ(nodes(), "255:0:t");
}

TEST_F(MarkupParse, FindChildIgnoresKindAndCountsMatches) {
    ASSERT_EQ(parse("<a>B<b>1</b><b>2</b></a><b>3</b>"), 0);
    EXPECT_EQ(markup_find_child(1, "B", 0), 1);  // the text node B comes first
    EXPECT_EQ(markup_find_child(1, "B", 1), 2);
    EXPECT_EQ(markup_find_child(1, "B", 2), 4);
    EXPECT_EQ(markup_find_child(1, "B", 3), -1);
    EXPECT_EQ(markup_find_child(1, "B", -5), 1);
    EXPECT_EQ(markup_find_child(0, "B", 0), 6);
    EXPECT_EQ(markup_find_child(0, "b", 0), -1);  // byte for byte
    EXPECT_EQ(markup_find_child(9, "B", 0), -1);
}

TEST_F(MarkupParse, TrimLengthAndLetters) {
    char both[] = " \t a b \t ";
    EXPECT_EQ(markup_trim(both), 3);
    EXPECT_STREQ(both, "a b");
    char blanks[] = " \t ";
    EXPECT_EQ(markup_trim(blanks), 0);
    char newline[] = "\nx\n";  // only blanks and tabs go
    EXPECT_EQ(markup_trim(newline), 3);
    char empty[] = "";
    EXPECT_EQ(markup_trim(empty), 0);

    EXPECT_EQ(markup_length(""), 0);
    EXPECT_EQ(markup_length(std::string(255, 'x').c_str()), 255);
    EXPECT_EQ(markup_length(std::string(1000, 'x').c_str()), 255);

    for (int c = -128; c < 128; ++c) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        EXPECT_EQ(is_name_letter(static_cast<signed char>(c)), letter) << c;
    }
}

TEST_F(MarkupParse, TheTableStopsAt253Nodes) {
    auto parts = [](int n) {
        std::string body;
        for (int i = 0; i < n; ++i) body += "<p></p>";
        return body;
    };
    EXPECT_EQ(parse("<r>" + parts(252) + "</r>"), 0);  // exactly 253 nodes
    EXPECT_EQ(MarkupDocument.node_count, 253u);
    EXPECT_EQ(MarkupDocument.nodes[252].id, 253);

    // One node more: as an element, as text, and as the rest of a tag.
    const std::string too_many[] = {
        "<r>" + parts(252) + "<p></p></r>",
        "<r>" + parts(252) + "text<q></q></r>",
        "<r>" + parts(251) + "<p x></p></r>",
    };
    for (const std::string& input : too_many) {
        reset_markup_state();
        // A canary in the first record beyond the limit shows any stray write.
        MarkupDocument.nodes[MARKUP_NODE_LIMIT] = {0x5a, 0x5a, "canary"};
        EXPECT_EQ(parse(input), 2) << input;
        EXPECT_EQ(MarkupDocument.node_count, 253u) << input;
        EXPECT_EQ(MarkupDocument.nodes[MARKUP_NODE_LIMIT].id, 0x5a) << input;
        EXPECT_STREQ(MarkupDocument.nodes[MARKUP_NODE_LIMIT].text, "canary") << input;
    }
    EXPECT_EQ(markup_add_text("more", ID_TEXT), 2);
    EXPECT_EQ(MarkupDocument.node_count, 253u);
}

TEST_F(MarkupParse, ThePoolStopsAt2048Bytes) {
    // "A", "B" and eight distinct texts of 250 characters take 2012 bytes.
    std::string input = "<a>";
    for (char c = 'a'; c < 'a' + 8; ++c) input += std::string(250, c) + "<b></b>";
    EXPECT_EQ(parse(input), 1);  // A is still open; B has been pooled (2 more bytes)
    EXPECT_EQ(MarkupDocument.pool_length, 2012u);
    EXPECT_EQ(markup_add_text(std::string(34, 'z').c_str(), ID_TEXT), 0);
    EXPECT_EQ(MarkupDocument.pool_length, 2047u);
    // One byte left: a one-character string needs two, the empty string fits.
    EXPECT_EQ(markup_intern("q"), nullptr);
    EXPECT_EQ(markup_intern(""), MarkupDocument.pool + 2047);
    EXPECT_EQ(MarkupDocument.pool_length, 2048u);
    uint32_t count = MarkupDocument.node_count;

    // Full: a new string has no room, an old one is still found.
    EXPECT_EQ(markup_intern("q"), nullptr);
    EXPECT_EQ(markup_intern("A"), MarkupDocument.pool);
    EXPECT_EQ(markup_add_text("q", ID_TEXT), 2);
    char opener[] = "q";
    EXPECT_EQ(markup_handle_tag(opener, 1), 2);
    char closer[] = "/q";
    EXPECT_EQ(markup_handle_tag(closer, 1), 2);
    EXPECT_EQ(MarkupDocument.node_count, count);
    EXPECT_EQ(MarkupDocument.pool_length, 2048u);
    EXPECT_EQ(ErrorList.count, 0);

    // Through the tokeniser the same document fails with 2.
    reset_markup_state();
    EXPECT_EQ(parse(input + std::string(35, 'z') + "<c></c></a>"), 2);
    EXPECT_EQ(MarkupDocument.pool_length, 2048u);
}

class MarkupFile : public MarkupParse {
protected:
    std::filesystem::path dir;
    void SetUp() override {
        MarkupParse::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("markup_file_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // A message keeps its first 63 characters, and temporary paths are long.
    static std::string cut(const std::string& message) { return message.substr(0, 63); }
    std::string write(const std::string& name, const std::string& content) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
};

TEST_F(MarkupFile, ResultsAndMessagesOfAFileParse) {
    std::string good = write("good.xml", "<a>\r\n1</a>");
    EXPECT_EQ(markup_parse_file(good.c_str()), 0);
    EXPECT_EQ(nodes(), "1:0:A 255:1:1");
    EXPECT_EQ(ErrorList.count, 0);

    reset_markup_state();
    std::string missing = (dir / "missing.xml").string();
    EXPECT_EQ(markup_parse_file(missing.c_str()), -1);
    EXPECT_EQ(error_messages(), cut("FILE `" + missing + "` is missing or not readable :(\n"));

    reset_markup_state();
    std::string open = write("open.xml", "<a>");
    EXPECT_EQ(markup_parse_file(open.c_str()), 1);
    EXPECT_EQ(error_messages(), cut("parsing `" + open + "` failed"));

    // The tag's message comes first, then the file's.
    reset_markup_state();
    std::string stray = write("stray.xml", "\n</a>");
    EXPECT_EQ(markup_parse_file(stray.c_str()), 1);
    EXPECT_EQ(error_messages(),
              "no opener for </A> on line 2\n|" + cut("parsing `" + stray + "` failed"));

    reset_markup_state();
    std::string big = write("big.xml", "<a>" + std::string(255, 'x'));
    EXPECT_EQ(markup_parse_file(big.c_str()), 2);
    EXPECT_EQ(error_messages(),
              "a run of over 254 characters on line 1\n|" + cut("parsing `" + big + "` failed"));

    reset_markup_state();
    std::string empty = write("empty.xml", "");
    EXPECT_EQ(markup_parse_file(empty.c_str()), 0);
    EXPECT_EQ(MarkupDocument.node_count, 0u);

    // A directory opens but cannot be read; the message says it is a folder.
    reset_markup_state();
    EXPECT_EQ(markup_parse_file(dir.c_str()), 1);
    EXPECT_EQ(error_messages(), cut("fread(..) failure?? `" + dir.string() + "` is a folder"));
}

}  // namespace
