#include "engine/PageGeometry.h"

#include "core/Arith.h"

namespace marlix {

std::int64_t mmToDots(std::int32_t mm, int dpi) {
    // Divide first, then multiply, in extended precision: the result must
    // round the same way on every printer.
    return nearest(static_cast<long double>(mm) / 25.4L * dpi);
}

std::int32_t dotsToMm(std::int32_t offset, int dpi) {
    if (dpi <= 0) rangeError();
    return nearestAs<std::int32_t>(static_cast<long double>(offset) / dpi * 25.4L);
}

PageArea computePageArea(const Margins& m, int resx, int resy, const PageData& page) {
    if (resx < 0 || resy < 0 || page.width < 0 || page.height < 0 || page.offsetX < 0 ||
        page.offsetY < 0)
        rangeError();
    PageArea a;
    a.left = fit<std::int32_t>(mmToDots(m.left, resx) - page.offsetX);
    a.top = fit<std::int32_t>(mmToDots(m.top, resy) - page.offsetY);
    a.right = fit<std::int32_t>(page.width - mmToDots(m.right, resx) - page.offsetX);
    a.bottom = fit<std::int32_t>(page.height - mmToDots(m.bottom, resy) - page.offsetY);
    return a;
}

} // namespace marlix
