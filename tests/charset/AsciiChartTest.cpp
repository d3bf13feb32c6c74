// The chart's layout rules on a canvas that records, and the chart file we ship.
#include "charset/AsciiChart.h"

#include "charset/CodeSet.h"
#include "core/Errors.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

using namespace marlix;

namespace {

struct Drawn {
    int x, y;
    char16_t c;
    std::uint8_t set;
    bool operator==(const Drawn&) const = default;
};

// Characters 10 dots wide, a space 7.
class RecordingChart : public ChartCanvas {
public:
    void makeFont(std::uint8_t set) override { fonts.push_back(set); }
    int spaceWidth() override { return 7; }
    int charWidth(char16_t) override { return 10; }
    void drawChar(int x, int y, char16_t c) override { drawn.push_back({x, y, c, fonts.back()}); }

    std::vector<std::uint8_t> fonts;
    std::vector<Drawn> drawn;
};

constexpr std::uint16_t kCellHeight = 30;

RecordingChart paint(std::string_view bytes, const CodePageTable& t = CodePageTable::identity()) {
    RecordingChart canvas;
    paintChart(bytes, t, kCellHeight, canvas);
    return canvas;
}

TEST(AsciiChart, LinesAreLaidOutByTheirOwnBreaksAndSpaces) {
    EXPECT_EQ(paint("A\r\nB").drawn, (std::vector<Drawn>{{0, 0, u'A', 1}, {0, 30, u'B', 1}}));
    EXPECT_TRUE(paint("\r\n").drawn.empty());
    EXPECT_TRUE(paint("").drawn.empty());
    EXPECT_EQ(paint("A B").drawn, (std::vector<Drawn>{{0, 0, u'A', 1}, {17, 0, u'B', 1}}));
    // A line feed alone keeps the column; a tab neither draws nor moves.
    EXPECT_EQ(paint("A\nB\tC").drawn,
              (std::vector<Drawn>{{0, 0, u'A', 1}, {10, 30, u'B', 1}, {20, 30, u'C', 1}}));
}

TEST(AsciiChart, TheCodePageDecidesWhatBreaksTheLine) {
    CodePageTable t = CodePageTable::identity();
    t[std::uint8_t('L')] = {10, 1}; // a byte that prints as a line feed
    t[std::uint8_t('S')] = {32, 1};
    t[std::uint8_t(200)] = {0x0416, 204};
    EXPECT_EQ(paint("ALBS\xc8", t).drawn,
              (std::vector<Drawn>{{0, 0, u'A', 1}, {10, 30, u'B', 1}, {27, 30, u'Ж', 204}}));
    // A control byte the table makes a letter still draws nothing.
    t[7] = {u'X', 1};
    EXPECT_TRUE(paint("\x07", t).drawn.empty());
}

TEST(AsciiChart, TheFontIsMadeAgainOnlyWhenTheCharacterSetChanges) {
    CodePageTable t;
    for (int b = 0; b < 256; ++b)
        t[std::uint8_t(b)] = {std::uint16_t(b), 1};
    EXPECT_EQ(paint("ABC\r\nDEF", t).fonts, (std::vector<std::uint8_t>{0, 1}));
    t[std::uint8_t('E')] = {u'E', 204};
    EXPECT_EQ(paint("ABC\r\nDEF", t).fonts, (std::vector<std::uint8_t>{0, 1, 204, 1}));
}

TEST(AsciiChart, BoxDrawingBytesShowTheirDosCharacters) {
    CodePageTable t = CodePageTable::identity();
    t[201] = {201, kBoxDrawingSet};
    t[176] = {176, kBoxDrawingSet};
    t[223] = {223, kBoxDrawingSet};
    t[224] = {224, kBoxDrawingSet}; // not one of the box characters
    const auto drawn = paint("\xc9\xb0\xdf\xe0", t).drawn;
    ASSERT_EQ(drawn.size(), 4u);
    EXPECT_EQ(drawn[0].c, u'╔');
    EXPECT_EQ(drawn[1].c, u'░');
    EXPECT_EQ(drawn[2].c, u'▀');
    EXPECT_EQ(drawn[3].c, 224);
}

TEST(AsciiChart, TheCellIsAFiftiethAndA25thOfTheScreenLessOne) {
    EXPECT_EQ(chartCell(1024, 768).width, 19);
    EXPECT_EQ(chartCell(1024, 768).height, 30);
    // Halves go to the even neighbour: 25 -> 24 less one, 75/50 = 1.5 -> 2.
    EXPECT_EQ(chartCell(1250, 625).width, 24);
    EXPECT_EQ(chartCell(1250, 625).height, 24);
    EXPECT_EQ(chartCell(75, 25).width, 1);
    EXPECT_THROW(chartCell(10, 768), Error) << "a screen too small for a cell";
    try {
        chartCell(10, 768);
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

TEST(AsciiChart, ReadFailuresSayWhatWentWrong) {
    const auto dir = std::filesystem::temp_directory_path() / "marlix-chart-test";
    std::filesystem::create_directories(dir);
    try {
        readChartFile((dir / "missing.tbl").string());
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "File not found");
    }
    try {
        readChartFile(dir.string()); // a folder reads as an error of the system
        ADD_FAILURE();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("I/O error ", 0), 0u) << e.what();
    }
    std::ofstream(dir / "chart.tbl", std::ios::binary) << std::string("A\0B", 3);
    EXPECT_EQ(readChartFile((dir / "chart.tbl").string()), std::string("A\0B", 3));
    std::filesystem::remove_all(dir);
}

// The shipped chart: every byte from 32 to 255 once, in rows of 16 headed by
// the first byte's number, narrow enough for the chart window.
TEST(AsciiChart, TheShippedChartShowsEveryPrintableByteOnce) {
    const std::string chart = readChartFile(std::string(MARLIX_SOURCE_DATA) + "/ASCII.TBL");
    CodePageTable t;
    codeset(t, std::string(MARLIX_SOURCE_DATA) + "/866.cp");
    RecordingChart canvas;
    paintChart(chart, t, kCellHeight, canvas);
    int rows = 0;
    std::size_t start = 0;
    for (std::size_t end; (end = chart.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = chart.substr(start, end - start);
        const int first = 32 + 16 * rows++;
        EXPECT_EQ(std::stoi(line.substr(0, 4)), first) << line;
        std::string row;
        for (int i = 0; i < 16; ++i)
            row += char(first + i);
        EXPECT_EQ(line.substr(6), row.substr(0, 4) + " " + row.substr(4, 4) + " " +
                                      row.substr(8, 4) + " " + row.substr(12, 4));
        EXPECT_LE(line.size(), 30u) << "the window is 33 cells wide";
    }
    EXPECT_EQ(start, chart.size()) << "every line ends in CR LF";
    EXPECT_EQ(rows, 14);
    EXPECT_FALSE(canvas.drawn.empty());
}

} // namespace
