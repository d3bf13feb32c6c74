// A PDF file written for a page that is a grid of character cells: each run
// of cells in one font and colour is one string, frames are a few strokes,
// and every page goes to the file as soon as it is finished.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace marlix {
struct DotImage;
}

namespace marlix::pdf {

class Face;
class FontLibrary;

// The paper and where the printer's dots lie on it, in points.
struct PageFrame {
    double width = 0;
    double height = 0;
    double left = 0; // the printable area's top-left corner from the paper's
    double top = 0;
    int resolution = 600; // dots per inch
};

// A font as the printer made it for a cell, in printer dots.
struct TextFont {
    Face* face = nullptr;
    std::string family; // for fallback faces
    bool bold = false;
    bool italic = false;
    double size = 0;    // em size
    double stretch = 1; // horizontal scale
    double ascent = 0;  // cell top to baseline
    bool underline = false;
    bool strikeOut = false;
    double underlinePos = 0; // below the baseline
    double strikeOutPos = 0; // above the baseline
    double lineWidth = 0;

    bool operator==(const TextFont&) const = default;
};

class PdfDocument {
public:
    // Writes into `file`, which it closes when the document ends; `name` is
    // what messages call it. Write errors fail with IoError "Cannot create
    // file".
    PdfDocument(std::FILE* file, const std::string& name, const std::string& title,
                const PageFrame& frame, FontLibrary& fonts, int compression);
    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    void drawChar(int x, int y, char16_t ch, const TextFont& font, std::uint32_t bgr);
    void setPenWidth(int width);
    void moveTo(int x, int y);
    void lineTo(int x, int y);
    void fillRect(int left, int top, int right, int bottom, std::uint32_t bgr);
    void drawDotImage(int x, int y, int width, int height, const DotImage& image,
                      std::uint32_t bgr);

    void newPage();
    // Writes the fonts and the file's trailer and closes it.
    void finish();
    // Closes the file as it is; what becomes of it is the caller's.
    void abort();

private:
    struct FontUse {
        int number = 0;                // /F<number>
        std::vector<char32_t> unicode; // by glyph; 0 for unused glyphs
        std::vector<std::uint16_t> glyphs;
    };
    struct Run {
        const TextFont* font = nullptr;
        Face* face = nullptr;
        std::uint32_t color = 0;
        int y = 0;
        int lastX = 0;
        double lastAdvance = 0;
        std::string text;    // glyph codes, two bytes each
        std::vector<int> xs; // every glyph's cell
        std::vector<double> advances;
    };

    FontUse& use(Face* face);
    void missingBox(int x, int y, const TextFont& font, std::uint32_t bgr);
    void flushRun();
    void flushStrokes();
    void flushFill();
    void endText();
    void setFill(std::uint32_t bgr);
    void setStroke(std::uint32_t bgr);
    void setLineWidth(double width);
    void endPage();
    int reserve();
    void beginObject(int number);
    void writeStream(int number, const std::string& dict, const std::string& data, bool compress);
    void write(const std::string& s);
    void write(const char* data, std::size_t size);
    void writeFont(Face* face, const FontUse& fu, int number);
    void close();

    std::string path_;
    std::FILE* file_ = nullptr;
    std::uint64_t offset_ = 0;
    std::vector<std::uint64_t> offsets_; // by object number, 0 unused
    PageFrame frame_;
    FontLibrary& fonts_;
    int compression_;
    void* compressor_ = nullptr;
    std::string compressed_;
    std::string title_;
    int pagesObject_ = 0;
    int resourcesObject_ = 0;
    std::vector<int> pages_;
    std::map<Face*, FontUse> uses_;
    std::vector<int> images_;

    // The page being drawn and the graphics state its content has set.
    bool pageOpen_ = false;
    std::string content_;
    bool inText_ = false;
    bool lineSet_ = false; // the text line's origin is known, unslanted
    double lineX_ = 0, lineY_ = 0;
    Face* textFace_ = nullptr;
    double textSize_ = -1;
    double textStretch_ = -1;
    int textRender_ = 0;
    std::int64_t fill_ = -1;
    std::int64_t stroke_ = -1;
    double lineWidth_ = -1;
    Run run_;

    // Strokes of one pen width. A straight piece that starts where another
    // of the same direction ends lengthens it: a frame's edge is one line,
    // not one per cell or per row.
    struct Segment {
        int x0, y0, x1, y1;
    };
    std::vector<Segment> segments_;
    // The segments' open ends by direction (right, left, down, up).
    std::array<std::unordered_map<std::uint64_t, std::size_t>, 4> ends_;
    int penWidth_ = 0;
    int strokeWidth_ = -1;
    int curX_ = 0, curY_ = 0;

    // A filled rectangle kept open for the next cell's of the same colour.
    bool fillOpen_ = false;
    int fillL_ = 0, fillT_ = 0, fillR_ = 0, fillB_ = 0;
    std::uint32_t fillColor_ = 0;
};

} // namespace marlix::pdf
