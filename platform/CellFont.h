// Fitting a font to a character cell: the pixel size whose ascent + descent
// fill the cell's height, and the stretch whose average width fills its
// width. The printer canvas and the font sample on the screen both use it.
#pragma once

#include <QFont>

class QPaintDevice;

namespace marlix {

void fitFontHeight(QFont& font, int cellHeight, const QPaintDevice* device);
void fitFontWidth(QFont& font, int cellWidth, const QPaintDevice* device);

} // namespace marlix
