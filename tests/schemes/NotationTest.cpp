// Sequence notation: text to bytes and back, and the alternative separator.
#include "core/Errors.h"
#include "schemes/AnsiText.h"
#include "schemes/SequenceNotation.h"

#include <gtest/gtest.h>

using namespace marlix;

namespace {

using Bytes = std::string;

struct Case {
    const char* text;
    Bytes bytes;
};

TEST(TextToSeq, EscapesAndLiterals) {
    const Case cases[] = {
        {"[#27]B", Bytes("\x1b"
                         "B")},
        {"[#27]-[#01]", Bytes("\x1b-\x01")},
        {"[#300]", Bytes(",")},             // 300 mod 256 = 44
        {"[#99999999999]", Bytes(1, '\0')}, // too large for 32 bits
        {"[##27]", Bytes("\x1b")},
        {"[#2#7]", Bytes("\x1b")},
        {"[#12", Bytes("[#12")},
        {"[#12x", Bytes("[#12x")},
        {"[#]x", Bytes("[#]x")},
        {"[#12[#27]", Bytes("[#12\x1b")},
        {"a[#]", Bytes("a[#]")},
        {"a[#5", Bytes("a[#5")},
        {"a[#5]", Bytes("a\x05")},
        {"[#127]", Bytes("\x7f")},
        {"[#2][#0]", Bytes("\x02\0", 2)},
        {"[#27]E||[#27]G", Bytes("\x1b"
                                 "E||\x1bG")},
        {"[#124][#124]", Bytes("||")},
        {"", Bytes()},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TextToSeq(c.text), c.bytes) << c.text;
}

TEST(TextToSeq, TheLimitIs255Characters) {
    EXPECT_EQ(TextToSeq(std::string(255, 'a')).size(), 255u);
    try {
        TextToSeq(std::string(256, 'a'));
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

TEST(SeqToText, EscapesOnlyControlBytes) {
    EXPECT_EQ(SeqToText(Bytes("\x1b"
                              "B")),
              "[#27]B");
    EXPECT_EQ(SeqToText(Bytes("\x1b-\x01")), "[#27]-[#1]");
    EXPECT_EQ(SeqToText(Bytes("\0\x1f \x7f\x80\xff", 6)), "[#0][#31] \x7f\x80\xff");
}

TEST(SeqToText, RoundTripsEveryPatternWithoutAnEscapeInIt) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        if (b != '[') all += char(b);
    for (std::size_t at = 0; at < all.size(); at += 40) {
        const std::string piece = all.substr(at, 40);
        EXPECT_EQ(TextToSeq(SeqToText(piece)), piece);
    }
    // The bytes of an escape's text come back as the byte it names.
    EXPECT_EQ(TextToSeq(SeqToText("[#1]")), Bytes("\x01"));
}

TEST(SplitAlternatives, DropsEmptyPiecesAndKeepsOrder) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitAlternatives("\x1b"
                                "E||\x1bG"),
              (V{"\x1b"
                 "E",
                 "\x1bG"}));
    EXPECT_EQ(splitAlternatives("a|||b"), (V{"a", "|b"}));
    EXPECT_EQ(splitAlternatives("||x||"), (V{"x"}));
    EXPECT_EQ(splitAlternatives("\x1b"
                                "E||||\x1bG"),
              (V{"\x1b"
                 "E",
                 "\x1bG"}));
    EXPECT_EQ(splitAlternatives("||"), V{});
    EXPECT_EQ(splitAlternatives("a|b"), (V{"a|b"}));
}

TEST(AnsiText, EveryByteSurvivesTheTripThroughUnicode) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    EXPECT_EQ(toAnsi(fromAnsi(all)), all);
    EXPECT_EQ(fromAnsi("\xc6"), "Ж");
    EXPECT_EQ(toAnsi("[#27]Ж€"), "[#27]\xc6\x88");
    EXPECT_EQ(toAnsi("漢"), "?");
    EXPECT_EQ(toAnsi("\xd0"), "?") << "a cut UTF-8 sequence";
}

} // namespace
