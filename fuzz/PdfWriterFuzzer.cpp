// Fuzzes the PDF writer as the "Print to PDF" printer drives it: the input is
// a list of drawing calls (characters of any UTF-16 value, lone surrogates
// and unassigned ones included, in fonts of a few installed families, one
// that is no font, and styles the faces lack; colours, pen strokes, shaded
// cells, dot images, new pages), then the document is finished. Finishing
// may fail only with the program's own errors.
//
// Whether the file is a sound PDF is for qpdf to say, which takes far too
// long for every input: with MARLIX_PDF_CHECK set, each finished file is
// checked with "qpdf --check", so that a corpus can be replayed with it
// (tools/fuzz --check-pdf).
#include "FuzzInput.h"
#include "core/Errors.h"
#include "engine/PrinterDevice.h"
#include "pdf/FontLibrary.h"
#include "pdf/PdfDocument.h"

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <string>
#include <unistd.h>

using namespace marlix;
using fuzz::Input;

namespace {

// Families the printer may be given: the program's own default (an alias
// for Liberation Mono), faces with and without the box-drawing characters,
// Type 1 and CFF faces, a symbol face, and a name no font has.
constexpr std::array<const char*, 8> kFamilies = {
    "Courier New", "Liberation Mono",     "DejaVu Sans Mono", "DejaVu Sans", "Nimbus Mono PS",
    "C059",        "Standard Symbols PS", "No Such Family"};

// Characters at the edges: controls, the box-drawing and block ranges, both
// halves of surrogates, private use, non-characters, marks that combine,
// right-to-left letters, and what no installed face has.
constexpr std::array<char16_t, 24> kEdges = {
    0x0000, 0x0009, 0x001F, 0x0020, 0x007F, 0x00A0, 0x0300, 0x05D0, 0x0627, 0x2500, 0x2588, 0x25A0,
    0x2603, 0x3042, 0x4E00, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFB01, 0xFEFF, 0xFFFD, 0xFFFF,
};

// Pixel sizes the printer's fonts come in, from a tiny one to a huge one.
constexpr std::array<double, 8> kSizes = {1, 7, 50, 83, 100, 166, 500, 2400};
constexpr std::array<double, 6> kStretches = {1, 0.25, 0.5, 0.8, 1.2, 4};
constexpr std::array<int, 5> kResolutions = {600, 72, 300, 360, 1200};

// Positions move on as 32-bit numbers do: the harness must not overflow
// where the engine would have stopped the job.
int moved(int from, long long by) {
    return int(std::uint32_t(from) + std::uint32_t(by));
}

struct OutputPath {
    std::string path = "/tmp/marlix-pdf-fuzz-" + std::to_string(::getpid()) + ".pdf";
    ~OutputPath() { std::remove(path.c_str()); }
};

class Drawing {
public:
    Drawing(pdf::FontLibrary& library, int resolution) : library_(library), res_(resolution) {
        font(0, 0, 3);
    }

    // A font as the printer makes one: the face fontconfig matches for the
    // family, metrics in printer dots. It stays as long as the document,
    // as the printer keeps the fonts it made.
    void font(std::uint8_t family, std::uint8_t style, std::uint8_t size) {
        pdf::TextFont t;
        t.family = kFamilies[family % kFamilies.size()];
        t.bold = style & 1;
        t.italic = style & 2;
        t.underline = style & 4;
        t.strikeOut = style & 8;
        t.face = library_.match(t.family, t.bold, t.italic);
        t.size = kSizes[size % kSizes.size()] * res_ / 600;
        t.stretch = kStretches[(size >> 3) % kStretches.size()];
        t.ascent = t.size * 0.8;
        t.underlinePos = t.size * 0.1;
        t.strikeOutPos = t.size * 0.25;
        t.lineWidth = (style >> 4) * t.size / 100;
        fonts_.push_back(t);
        current_ = &fonts_.back();
    }

    // A font made before, or an equal one made afresh for another
    // character set.
    void again(std::uint8_t which) {
        const pdf::TextFont& t = fonts_[which % fonts_.size()];
        if (which & 0x80) {
            const pdf::TextFont copy = t;
            fonts_.push_back(copy);
            current_ = &fonts_.back();
        } else {
            current_ = &t;
        }
    }

    const pdf::TextFont& current() const { return *current_; }
    int cell() const { return int(current_->size * current_->stretch * 0.6) + 1; }

private:
    pdf::FontLibrary& library_;
    int res_;
    std::deque<pdf::TextFont> fonts_;
    const pdf::TextFont* current_ = nullptr;
};

void draw(Input& in, pdf::PdfDocument& doc, Drawing& fonts) {
    std::uint32_t color = 0;
    int x = 0, y = 0;
    int count = 0;
    // Enough for every kind of call in one document, not so many that an
    // input spends its time on one kind.
    while (!in.empty() && ++count < 2000) {
        const std::uint8_t op = in.byte();
        switch (op % 16) {
        case 0: {
            const std::uint8_t family = in.byte(), style = in.byte();
            fonts.font(family, style, in.byte());
            break;
        }
        case 1: fonts.again(in.byte()); break;
        case 2: // the next cell
            doc.drawChar(x, y, in.word(), fonts.current(), color);
            x = moved(x, fonts.cell());
            break;
        case 3: { // a run of cells
            const std::uint8_t n = in.byte() % 32;
            for (int i = 0; i < n; ++i, x = moved(x, fonts.cell()))
                doc.drawChar(x, y, char16_t(0x20 + in.byte()), fonts.current(), color);
            break;
        }
        case 4:
            doc.drawChar(x, y, kEdges[in.byte() % kEdges.size()], fonts.current(), color);
            break;
        case 5: // back to the line's start, the next line, or one cell back
            switch (in.byte() % 4) {
            case 0: x = 0; break;
            case 1: x = 0, y = moved(y, 2 * fonts.cell()); break;
            case 2: x = moved(x, -fonts.cell()); break;
            default: y = moved(y, -fonts.cell()); break;
            }
            break;
        case 6: { // anywhere at all: the engine's positions are 32-bit
            x = in.number();
            y = in.number();
            break;
        }
        case 7: {
            const std::uint32_t blue = in.byte(), green = in.byte();
            color = blue << 16 | green << 8 | in.byte();
            break;
        }
        case 8: doc.setPenWidth(in.byte() % 64); break;
        case 9: {
            const int dx = std::int8_t(in.byte()), dy = std::int8_t(in.byte());
            doc.moveTo(moved(x, dx), moved(y, dy));
            break;
        }
        case 10: { // box lines: mostly straight, each piece from where the last ended
            const std::uint8_t way = in.byte();
            const int length = in.byte() * ((way & 4) ? 100 : 1);
            const int tx = (way & 3) == 0   ? moved(x, length)
                           : (way & 3) == 1 ? moved(x, -length)
                                            : x;
            const int ty = (way & 3) == 2   ? moved(y, length)
                           : (way & 3) == 3 ? moved(y, -length)
                                            : y;
            doc.lineTo((way & 8) ? moved(tx, 1) : tx, ty);
            x = tx, y = ty;
            break;
        }
        case 11: { // shaded cells, side by side
            const int w = fonts.cell(), h = 2 * w;
            const std::uint8_t shade = in.byte();
            doc.fillRect(x, y, moved(x, w), moved(y, h), shade * 0x010101u);
            x = moved(x, w);
            break;
        }
        case 12: { // a rectangle of any corners
            const int left = in.number(), top = in.number(), right = in.number();
            doc.fillRect(left, top, right, in.number(), color);
            break;
        }
        case 13: {
            DotImage image;
            image.columns = 1 + in.byte() % 64;
            image.rows = 1 + in.byte() % 24;
            image.bits.resize(std::size_t(image.rows) * std::size_t(image.rowBytes()));
            for (auto& b : image.bits)
                b = in.byte();
            const int scale = 1 + in.byte() % 16;
            doc.drawDotImage(x, y, image.columns * scale, image.rows * scale, image, color);
            break;
        }
        case 14: doc.newPage(), x = y = 0; break;
        default: // a character of any value where the pen is
            doc.drawChar(x, y, in.word(), fonts.current(), color);
            x = moved(x, (op & 0x80) ? fonts.cell() : 0);
            break;
        }
    }
}

} // namespace

// fontconfig drops a little of its configuration as it reads it: that is
// the system library's, not the writer's.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The printer's font library outlives its documents: faces are read once.
    static pdf::FontLibrary library;
    static const OutputPath output;
    static const bool checkWithQpdf = std::getenv("MARLIX_PDF_CHECK") != nullptr;

    Input in(data, size);
    const std::uint8_t setup = in.byte();
    const int resolution = kResolutions[setup % kResolutions.size()];
    // Paper in points (A4 or Letter, either way round) and the printable
    // area's corner; the compression level libdeflate takes, or one it
    // refuses, which leaves the streams as they are.
    const bool letter = setup & 8, landscape = setup & 16;
    const double width = letter ? 612 : 595, height = letter ? 792 : 842;
    const pdf::PageFrame frame{landscape ? height : width, landscape ? width : height, 18, 18,
                               resolution};
    const int compression = in.byte() % 14;

    std::FILE* file = std::fopen(output.path.c_str(), "wb");
    if (!file) __builtin_trap();
    bool finished = false;
    try {
        // The printer keeps its fonts beyond the document's end.
        Drawing fonts(library, resolution);
        pdf::PdfDocument doc(file, output.path, "DOS-console task \xE2\x94\x80", frame, library,
                             compression);
        draw(in, doc, fonts);
        doc.finish();
        finished = true;
    } catch (const Error&) {
        // The document was abandoned: it closed the file as it went.
    }
    if (finished && checkWithQpdf) {
        const std::string command = "qpdf --check '" + output.path + "' >/dev/null 2>&1";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "qpdf finds fault with the file:\n");
            std::system(("qpdf --check '" + output.path + "' >&2").c_str());
            __builtin_trap();
        }
    }
    return 0;
}
