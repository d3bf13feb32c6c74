// Page area and the layout read-outs.
#include "engine/PageGeometry.h"

#include "RecordingPrinter.h"
#include "engine/PrintEngine.h"

#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

const PageData kA4{4960, 7016, 100, 100};

TEST(PageArea, MarginsAreMeasuredFromThePaperEdges) {
    const PageArea a = computePageArea({10, 10, 10, 10}, 600, 600, kA4);
    EXPECT_EQ(a.left, 136); // round(10 / 25.4 * 600) - 100
    EXPECT_EQ(a.top, 136);
    EXPECT_EQ(a.right, 4960 - 236 - 100);
    EXPECT_EQ(a.bottom, 7016 - 236 - 100);
}

TEST(PageArea, ZeroMarginsReachIntoTheUnprintableBorder) {
    const PageArea a = computePageArea({0, 0, 0, 0}, 600, 600, kA4);
    EXPECT_EQ(a.left, -100);
    EXPECT_EQ(a.top, -100);
}

TEST(PageArea, NegativeDeviceDataAndHugeMarginsAreRangeErrors) {
    EXPECT_THROW(computePageArea({}, 600, 600, {4960, 7016, -1, 0}), Error);
    EXPECT_THROW(computePageArea({}, -600, 600, kA4), Error);
    EXPECT_THROW(computePageArea({0, 0, 2000000000, 0}, 600, 600, kA4), Error);
}

TEST(PageArea, MillimetresRoundToTheNearestDot) {
    EXPECT_EQ(mmToDots(3, 127), 15);
    EXPECT_EQ(mmToDots(10, 600), 236); // 236.22
    EXPECT_EQ(dotsToMm(100, 600), 4);  // 4.23 mm
    EXPECT_EQ(dotsToMm(300, 600), 13); // 12.7 mm
}

TEST(CheckSize, CountsCharactersAndLinesOnThePage) {
    RecordingPrinter printer;
    PrintEngine engine(printer);
    engine.settings.topMargin = engine.settings.bottomMargin = 10;
    engine.settings.leftMargin = engine.settings.rightMargin = 10;
    engine.settings.defaultFont = false;
    engine.settings.cpi = 10;
    engine.settings.lpi = 6;
    const CheckSizeResult r = engine.checksize();
    EXPECT_TRUE(r.monospaced);
    EXPECT_EQ(r.charsPerLine, 74); // round(4488 / 60) - 1
    EXPECT_EQ(r.linesPerPage, 64); // round(6544 / 100) - 1
    EXPECT_EQ(engine.lineHeight(), 100);

    printer.setOrientation(Orientation::Landscape);
    const CheckSizeResult wide = engine.checksize();
    EXPECT_EQ(wide.charsPerLine, 108); // round(6544 / 60) - 1
    EXPECT_EQ(wide.linesPerPage, 44);  // round(4488 / 100) - 1
}

TEST(CheckSize, APitchAbove255IsARangeError) {
    RecordingPrinter printer;
    PrintEngine engine(printer);
    engine.settings.defaultFont = false;
    engine.settings.cpi = 256;
    try {
        engine.checksize();
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

TEST(FontPitch, FollowsTheFontCellAndStaysInTheSpinRanges) {
    RecordingPrinter printer;
    PrintEngine engine(printer);
    // 10 points: an 83-dot em, "@" 50 by 100 dots.
    auto p = engine.pitchOfFont("Courier New", 10);
    EXPECT_EQ(p.cpi, 12);
    EXPECT_EQ(p.lpi, 6);
    // 12 points: "@" 60 by 120 dots, 10 characters to the inch.
    p = engine.pitchOfFont("Courier New", 12);
    EXPECT_EQ(p.cpi, 10);
    EXPECT_EQ(p.lpi, 5);
    p = engine.pitchOfFont("Courier New", 2);
    EXPECT_EQ(p.cpi, 25);
    EXPECT_EQ(p.lpi, 15);
}

} // namespace
