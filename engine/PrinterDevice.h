// The printer as the print engine sees it: spooler documents, page data and
// the canvas. The platform layer realises it over the system's print support;
// tests use a canvas that records the calls.
#pragma once

#include "charset/BoxCanvas.h"

#include <cstdint>
#include <string>
#include <vector>

namespace marlix {

enum class Orientation { Portrait, Landscape };

// A logical font as the job asks for it. height > 0 is the cell height
// (ascent + descent), height < 0 the em height, 0 the device default; width is
// the average character width, 0 for the face's own proportions.
struct LogicalFont {
    std::int32_t height = 0;
    std::int32_t width = 0;
    std::int32_t weight = 0; // 0 default, 700 bold
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::uint8_t charSet = 1;
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 0;
    std::string face;

    bool operator==(const LogicalFont&) const = default;
};

// Physical page data for the current orientation, in printer dots.
struct PageData {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t offsetX = 0; // printable area's left edge from the paper's
    std::int32_t offsetY = 0;
};

// A monochrome dot image, as printers' bit-image and raster graphics make it:
// rows top to bottom, each row (columns + 7) / 8 bytes, the leftmost dot in
// the high bit of the first byte. Set dots print, clear ones leave the paper.
struct DotImage {
    int columns = 0;
    int rows = 0;
    std::vector<std::uint8_t> bits;

    int rowBytes() const { return (columns + 7) / 8; }
    bool dot(int column, int row) const {
        return (bits[std::size_t(row) * rowBytes() + std::size_t(column) / 8] >> (7 - column % 8)) &
               1;
    }
    void set(int column, int row) {
        bits[std::size_t(row) * rowBytes() + std::size_t(column) / 8] |=
            std::uint8_t(0x80 >> (column % 8));
    }
};

class PrinterDevice : public BoxCanvas {
public:
    // Spooler. Pages start only on demand: beginDoc opens the first page.
    virtual void setTitle(const std::string& title) = 0;
    virtual void beginDoc() = 0;
    virtual void newPage() = 0;
    virtual void endDoc() = 0;
    virtual void abortDoc() = 0;
    virtual bool printing() const = 0;
    virtual bool aborted() const = 0;

    virtual Orientation orientation() const = 0;
    // Fails with "Printing in progress" while a document is open.
    virtual void setOrientation(Orientation orientation) = 0;

    virtual int resolutionX() const = 0;
    virtual int resolutionY() const = 0;
    virtual PageData pageData() const = 0;

    // Canvas.
    virtual void setFont(const LogicalFont& font) = 0;
    virtual void setFontColor(std::uint32_t bgr) = 0; // 0x00BBGGRR
    virtual void setTransparentBrush() = 0;
    virtual int textWidth(char16_t ch) = 0;
    virtual int textHeight(char16_t ch) = 0;
    // Draws one UTF-16 code unit with its cell's top-left corner at (x, y).
    virtual void drawChar(int x, int y, char16_t ch) = 0;
    // Draws the image's set dots in the colour, the image stretched over
    // width x height printer dots with its top-left corner at (x, y).
    virtual void drawDotImage(int x, int y, int width, int height, const DotImage& image,
                              std::uint32_t bgr) = 0;
};

} // namespace marlix
