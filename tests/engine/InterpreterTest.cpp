// Escape sequences of the default schemes, matched in real jobs by the real
// scheme store and interpreter, on a recording printer.
#include "JobFixture.h"
#include "core/Errors.h"

#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;
using namespace std::string_literals;

namespace {

TEST_F(InterpreterTest, FirstMatchingEntryWinsInTableOrder) {
    print("\x1bP12A\x1bP15B\x1bP10C");
    // Elite's fixed pattern comes before Pitch: 12 CPI; then Pitch reads 15.
    EXPECT_EQ(text(), "ABC");
    EXPECT_EQ(chars()[1].x - chars()[0].x, 50);
    EXPECT_EQ(chars()[2].x - chars()[1].x, 40);
}

TEST_F(InterpreterTest, StyleCommandsChangeTheFont) {
    print("\x1b"
          "BA\x1bIB\x1bUC\x1b"
          "b\x1bi\x1buD");
    std::vector<std::tuple<int, bool, bool>> made;
    for (const auto& f : printer.fonts)
        made.emplace_back(f.weight, f.italic, f.underline);
    EXPECT_EQ(made.back(), std::make_tuple(0, false, false));
    EXPECT_NE(std::find(made.begin(), made.end(), std::make_tuple(700, true, true)), made.end());
}

TEST_F(InterpreterTest, ResetKeepsTheStyleButRestoresThePitch) {
    print("\x1b"
          "B\x1bP15A\x1bRB");
    EXPECT_EQ(chars()[1].x - chars()[0].x, 40) << "15 CPI before the reset";
    EXPECT_EQ(printer.font().weight, 700) << "a reset after Bold leaves the text bold";
    EXPECT_EQ(printer.font().width, 60);
}

TEST_F(InterpreterTest, ASequenceCutOffByTheEndOfTheJobPrintsAsText) {
    print("A\x1bP1");
    EXPECT_EQ(text(), "A P1");
    print("A\x1bP12");
    EXPECT_EQ(printer.pageTexts().back(), "A");
}

TEST_F(InterpreterTest, AnUnknownEscapePrintsAsASpaceAndTheRestAsText) {
    print("\x1bZZ");
    EXPECT_EQ(text(), " ZZ");
}

TEST_F(InterpreterTest, NoSequencesTurnsInterpretationOff) {
    scheme("No sequences");
    print("\x1b"
          "BA");
    EXPECT_EQ(text(), " BA");
    EXPECT_EQ(printer.font().weight, 0);
}

TEST_F(InterpreterTest, AbsolutePositionsCountFromThePrintableEdge) {
    printer.dpiX = printer.dpiY = 360;
    printer.portrait = {2976, 4209, 60, 60};
    print("\x1bX0360A\x1bX03.6");
    EXPECT_EQ(chars()[0].x, 180);
    EXPECT_EQ(text(), "A X03.6") << "a '.' in the number makes it no number";
    print("\x1bY0720B");
    EXPECT_EQ(chars(1)[0].y, 360);
}

TEST_F(InterpreterTest, EpsonBinaryPositionsAndColours) {
    scheme("Epson Matrix");
    print("\x1b$\x64\x01"
          "A\x1br\x05"
          "B");
    // (100 + 256) * 12 / 720 inch at 600 dpi.
    EXPECT_EQ(chars()[0].x, 3560);
    EXPECT_EQ(chars()[1].color, 0x0000FFu);
    // A colour index outside 0..6 fails the job where it stands; the pages
    // before it are the job's as much as a whole job's.
    EXPECT_THROW(print("page one\fpage two\x1br\x07rest"), JobError);
    EXPECT_FALSE(printer.printing());
    ASSERT_TRUE(printer.docs.back().ended);
    EXPECT_EQ(printer.docs.back().pages.size(), 2u);
    EXPECT_EQ(printer.pageTexts().back(), "page two");
}

TEST_F(InterpreterTest, EpsonVerticalPositionUsesTheWholePattern) {
    scheme("Epson Matrix");
    print(std::string("\x1b(V\x02\x00\xd0\x02Z", 8));
    EXPECT_EQ(chars()[0].y, 720 * 600 / 720);
}

TEST_F(InterpreterTest, HpPclPitchNeedsItsOwnWidth) {
    scheme("HP PCL");
    print("\x1b(s12HA\x1b(s5HBC");
    EXPECT_EQ(text(), "ABC");
    EXPECT_EQ(chars()[1].x - chars()[0].x, 50) << "12 CPI";
    EXPECT_EQ(chars()[2].x - chars()[1].x, 120) << "5 CPI";
    // The LPI patterns end in "D", which the number match turns into "0".
    const auto lineHeight = engine.lineHeight();
    print("\x1b&l8DX");
    EXPECT_EQ(engine.lineHeight(), lineHeight);
    EXPECT_EQ(printer.pageTexts().back(), " &l8DX");
}

TEST_F(InterpreterTest, TextualNumbersMayBeHexadecimal) {
    set("Pitch", "[#27]P000");
    print("\x1bP$1FA");
    EXPECT_EQ(printer.font().width, 19); // 600 / 31
    EXPECT_THROW(print("\x1bP300"), Error) << "a pitch above 255";
}

TEST_F(InterpreterTest, PitchAndLpiOfZeroAreSwallowed) {
    print("\x1bP00A\x1bL00\r\nB");
    EXPECT_EQ(text(), "AB");
    EXPECT_EQ(printer.font().width, 60);
    EXPECT_EQ(chars()[1].y - chars()[0].y, 100);
}

TEST_F(InterpreterTest, LpiChangesTheLineStepForThisJobOnly) {
    print("\x1bL08A\r\nB");
    EXPECT_EQ(chars()[1].y - chars()[0].y, 75);
    print("A\r\nB");
    EXPECT_EQ(chars(1)[1].y - chars(1)[0].y, 100) << "the next job starts from the settings";
}

TEST_F(InterpreterTest, CondensedAndDoubleWidthChangeTheAdvance) {
    scheme("Epson Matrix");
    print("\x0f"
          "\x1bPA\x1bMB\x12\x0e"
          "C");
    const auto& c = chars();
    EXPECT_EQ(c[1].x - c[0].x, 33) << "condensed Pica: 18 CPI";
    EXPECT_EQ(c[2].x - c[1].x, 30) << "condensed Elite: 20 CPI";
    EXPECT_EQ(printer.font().width, 100) << "double-width Elite";
}

TEST_F(InterpreterTest, CondensedLeavesOtherPitchesAlone) {
    set("Condensed", "[#15]");
    print("\x1bP15\x0f"
          "AB");
    EXPECT_EQ(chars()[1].x - chars()[0].x, 40);
}

TEST_F(InterpreterTest, SuperAndSubscriptKeepTheHeightOfBefore) {
    scheme("Epson Matrix");
    print("\x1bS0A\x1bS1B\x1bTC");
    const auto& c = chars();
    EXPECT_EQ(c[1].y - c[0].y, 100 - 67) << "subscript is drawn lower by saved - height";
    EXPECT_EQ(c[2].y, c[0].y);
    EXPECT_EQ(printer.font().height, 100);
}

TEST_F(InterpreterTest, DoubleHeightTwiceDoublesOnce) {
    scheme("Epson Matrix");
    print("\x1bw1\x1bw1A");
    EXPECT_EQ(printer.font().height, 200);
    print("\x1bw1\x1bw0A");
    EXPECT_EQ(printer.font().height, 100);
}

TEST_F(InterpreterTest, BoxDrawingIsNotShiftedBySubscript) {
    scheme("Epson Matrix");
    engine.codePage[0xC4] = {196, kBoxDrawingSet};
    print("\x1bS1\xC4"
          "A");
    ASSERT_EQ(printer.strokes.size(), 1u);
    // yc = nearest(136 + 67 / 2 - 4 / 2) = 168: in the cell, not shifted.
    EXPECT_EQ(printer.strokes[0].y1, 168);
    EXPECT_EQ(chars()[0].y, 136 + 33);
}

TEST_F(InterpreterTest, LandscapeMidPageStartsASecondDocument) {
    print("portrait\r\n\x1bOLlandscape\r\n");
    ASSERT_EQ(printer.docs.size(), 2u);
    EXPECT_EQ(printer.docs[0].orientation, Orientation::Portrait);
    EXPECT_EQ(printer.docs[1].orientation, Orientation::Landscape);
    EXPECT_EQ(printer.docs[1].pages[0].text(), "landscape");
    EXPECT_EQ(chars(1)[0].y, 136) << "the new document starts at the top";
    EXPECT_EQ(printer.orientation(), Orientation::Portrait) << "back to the settings";
}

TEST_F(InterpreterTest, LandscapeBeforeAnythingIsDrawnTakesTheFirstDocument) {
    print("\x1bOLwide\f\x1bOPtall");
    ASSERT_EQ(printer.docs.size(), 2u);
    EXPECT_EQ(printer.docs[0].orientation, Orientation::Landscape);
    EXPECT_EQ(printer.docs[0].pages.size(), 1u);
    EXPECT_EQ(printer.docs[1].orientation, Orientation::Portrait);
}

TEST_F(InterpreterTest, TheInitialisationStringIsInterpretedToo) {
    set("InitStr", "[#27]B");
    print("A");
    EXPECT_EQ(printer.font().weight, 700);
    EXPECT_EQ(text(), "A");
}

TEST_F(InterpreterTest, ASequenceCrossesFromTheInitialisationStringOnlyAtItsLastByte) {
    set("InitStr", "[#27]");
    print("BA");
    EXPECT_EQ(text(), "A");
    EXPECT_EQ(printer.font().weight, 700);

    set("InitStr", "x[#27]P");
    print("12A");
    // ESC is not the string's last byte: its window ends with the string.
    EXPECT_EQ(printer.pageTexts().back(), "x P12A");
}

TEST_F(InterpreterTest, FontSizeTakesTheCellFromTheFont) {
    print("\x1b"
          "F20A\r\nB");
    // 20 points: a 167-dot em, "@" 100 by 200 dots: 6 CPI.
    EXPECT_EQ(printer.font().width, 100);
    EXPECT_EQ(printer.font().height, 200);
    EXPECT_EQ(chars()[1].y - chars()[0].y, 200);
}

} // namespace
