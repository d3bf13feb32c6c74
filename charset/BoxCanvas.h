// The drawing operations the box-drawing renderer needs of a printer canvas.
#pragma once

#include <cstdint>

namespace marlix {

class BoxCanvas {
public:
    virtual ~BoxCanvas() = default;
    // 0 is the thinnest line the device draws. Pens are black and solid.
    virtual void setPenWidth(int width) = 0;
    virtual void moveTo(int x, int y) = 0;
    // Draws from the current point; the end point itself is not drawn.
    virtual void lineTo(int x, int y) = 0;
    // Fills the dots with left <= x < right and top <= y < bottom.
    virtual void fillRect(int left, int top, int right, int bottom, std::uint32_t bgr) = 0;
};

} // namespace marlix
