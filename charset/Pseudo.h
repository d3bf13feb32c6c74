// Box-drawing, shade and block characters (codes 176..223) drawn as strokes
// and fills into the character cell, so that neighbouring cells join.
#pragma once

#include "charset/BoxCanvas.h"

#include <cstdint>

namespace marlix {

// Draws code in the cell (x, y, cellWidth, cellHeight), then sets code to a space.
void Pseudo(BoxCanvas& canvas, int x, int y, std::uint16_t cellWidth, std::uint16_t cellHeight,
            std::uint16_t& code);

} // namespace marlix
