// Page area from margins and the printer's physical page data.
#pragma once

#include "engine/PrinterDevice.h"

#include <cstdint>

namespace marlix {

// Printer dots from the printable area's top-left corner.
struct PageArea {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;  // no character starts at or beyond it
    std::int32_t bottom = 0; // the bottom margin
};

struct Margins {
    std::int32_t top = 0, bottom = 0, left = 0, right = 0; // millimetres
};

PageArea computePageArea(const Margins& margins, int resx, int resy, const PageData& page);

// Millimetres to dots, rounded to the nearest dot.
std::int64_t mmToDots(std::int32_t mm, int dpi);

// The margin (mm) that matches an unprintable border of offset dots.
std::int32_t dotsToMm(std::int32_t offset, int dpi);

// What the font panel shows after a layout change.
struct CheckSizeResult {
    std::int64_t charsPerLine = 0;
    std::int64_t linesPerPage = 0;
    bool monospaced = false;
};

} // namespace marlix
