#include "platform/CellFont.h"

#include <QFontMetricsF>
#include <algorithm>
#include <cmath>

namespace marlix {

void fitFontHeight(QFont& font, int cellHeight, const QPaintDevice* device) {
    font.setPixelSize(1000);
    const qreal cell = QFontMetricsF(font, device).height();
    const int pixels = cell > 0 ? int(std::lround(cellHeight * 1000.0 / cell)) : cellHeight;
    font.setPixelSize(std::max(1, pixels));
}

void fitFontWidth(QFont& font, int cellWidth, const QPaintDevice* device) {
    const qreal average = QFontMetricsF(font, device).averageCharWidth();
    if (average > 0)
        font.setStretch(std::clamp(int(std::lround(cellWidth * 100.0 / average)), 1, 4000));
}

} // namespace marlix
