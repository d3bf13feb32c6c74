// The ASCII chart: the bytes of a chart file laid out by their own line
// breaks and spaces and drawn through the code page table, so the user sees
// how a code page's bytes will print.
#pragma once

#include "charset/CodePageTable.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace marlix {

inline constexpr const char* kChartFileName = "ASCII.TBL";

// Where the chart draws. A font is made for a character set number and stays
// until the next makeFont.
class ChartCanvas {
public:
    virtual ~ChartCanvas() = default;
    virtual void makeFont(std::uint8_t charSet) = 0;
    virtual int spaceWidth() = 0;
    virtual int charWidth(char16_t c) = 0;
    virtual void drawChar(int x, int y, char16_t c) = 0;
};

struct ChartCell {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
};

// A fiftieth of the screen's width and a 25th of its height, each rounded to
// the nearest dot (halves to even) less one; a cell outside 0..65535 is a
// "Range check error".
ChartCell chartCell(int screenWidth, int screenHeight);

// The character the chart shows for an entry. Box-drawing codes are the
// positions of the DOS line and block characters, so the chart shows those
// characters rather than the Latin-1 letters that share their numbers.
char16_t chartChar(const CodePageEntry& entry);

// Draws the chart from (0, 0): a line feed moves down one cell height, a
// carriage return back to the left, a space by the font's space; control
// bytes draw nothing. The font is made with set 0 at the start and again
// whenever a drawn byte's character set differs.
void paintChart(std::string_view bytes, const CodePageTable& table, std::uint16_t cellHeight,
                ChartCanvas& canvas);

// The chart file's bytes. Fails with "File not found", "Read beyond end of
// file" or "I/O error N" (the system's error number).
std::string readChartFile(const std::string& path);

} // namespace marlix
