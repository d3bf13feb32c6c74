#include "pdf/PdfDocument.h"

#include "core/Errors.h"
#include "engine/PrinterDevice.h"
#include "pdf/FontLibrary.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <libdeflate.h>
#include <unordered_map>

namespace marlix::pdf {

namespace {

constexpr std::string_view kCannotCreate = "Cannot create file %s";
// The slant of an italic the family does not have, and the outline stroke of
// a bold it does not have (the widening of the system's own emboldening).
constexpr double kSyntheticSlant = 0.2;
constexpr double kSyntheticBold = 1.0 / 24;

// Numbers as PDF wants them: no exponent, at most three decimals.
void num(std::string& out, double v) {
    if (std::abs(v) < 0.0005) v = 0;
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 3);
    if (ec != std::errc{}) end = buf + std::snprintf(buf, sizeof buf, "0");
    char* e = end;
    if (std::find(buf, e, '.') != e) {
        while (e[-1] == '0')
            --e;
        if (e[-1] == '.') --e;
    }
    out.append(buf, e);
}

void num(std::string& out, long long v) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, end);
}

void num(std::string& out, int v) {
    num(out, static_cast<long long>(v));
}

void hex4(std::string& out, unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    for (int shift = 12; shift >= 0; shift -= 4)
        out += digits[(v >> shift) & 0xF];
}

void color(std::string& out, std::uint32_t bgr, const char* rgb, const char* gray) {
    const unsigned r = bgr & 0xFF, g = (bgr >> 8) & 0xFF, b = (bgr >> 16) & 0xFF;
    if (r == g && g == b) {
        num(out, r / 255.0);
        out += ' ';
        out += gray;
    } else {
        num(out, r / 255.0);
        out += ' ';
        num(out, g / 255.0);
        out += ' ';
        num(out, b / 255.0);
        out += ' ';
        out += rgb;
    }
    out += '\n';
}

std::string ref(int object) {
    return std::to_string(object) + " 0 R";
}

// Text for the document information, UTF-16 with its byte-order mark.
std::string textString(const std::string& utf8) {
    std::string out = "<FEFF";
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        char32_t u = c;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (extra) u = c & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < utf8.size(); --extra, ++i)
            u = u << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        if (u >= 0x10000) {
            u -= 0x10000;
            hex4(out, 0xD800 + (u >> 10));
            hex4(out, 0xDC00 + (u & 0x3FF));
        } else {
            hex4(out, u);
        }
    }
    return out + ">";
}

} // namespace

PdfDocument::PdfDocument(std::FILE* file, const std::string& name, const std::string& title,
                         const PageFrame& frame, FontLibrary& fonts, int compression)
    : path_(name), file_(file), frame_(frame), fonts_(fonts), compression_(compression),
      title_(title) {
    std::setvbuf(file_, nullptr, _IOFBF, 1 << 18);
    compressor_ = libdeflate_alloc_compressor(compression_);
    offsets_.push_back(0);
    write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    reserve(); // 1: the catalog
    pagesObject_ = reserve();
    resourcesObject_ = reserve();
    newPage(); // as a printer's document: the first page is there from the start
}

PdfDocument::~PdfDocument() {
    if (file_) abort();
    if (compressor_) libdeflate_free_compressor(static_cast<libdeflate_compressor*>(compressor_));
}

int PdfDocument::reserve() {
    offsets_.push_back(0);
    return int(offsets_.size() - 1);
}

void PdfDocument::write(const char* data, std::size_t size) {
    if (std::fwrite(data, 1, size, file_) != size)
        throw IoError(withReason(formatMessage(kCannotCreate, path_), std::strerror(errno)));
    offset_ += size;
}

void PdfDocument::write(const std::string& s) {
    write(s.data(), s.size());
}

void PdfDocument::beginObject(int number) {
    offsets_[std::size_t(number)] = offset_;
    write(std::to_string(number) + " 0 obj\n");
}

void PdfDocument::writeStream(int number, const std::string& dict, const std::string& data,
                              bool compress) {
    const std::string* body = &data;
    std::string head = "<<" + dict;
    if (compress && compressor_) {
        auto* c = static_cast<libdeflate_compressor*>(compressor_);
        compressed_.resize(libdeflate_zlib_compress_bound(c, data.size()));
        compressed_.resize(libdeflate_zlib_compress(c, data.data(), data.size(), compressed_.data(),
                                                    compressed_.size()));
        body = &compressed_;
        head += "/Filter/FlateDecode";
    }
    head += "/Length " + std::to_string(body->size()) + ">>\nstream\n";
    beginObject(number);
    write(head);
    write(*body);
    write("\nendstream\nendobj\n");
}

PdfDocument::FontUse& PdfDocument::use(Face* face) {
    auto it = uses_.find(face);
    if (it == uses_.end()) {
        FontUse fu;
        fu.number = int(uses_.size()) + 1;
        fu.unicode.assign(face->glyphCount(), 0);
        it = uses_.emplace(face, std::move(fu)).first;
    }
    return it->second;
}

void PdfDocument::endText() {
    if (!inText_) return;
    content_ += "ET\n";
    inText_ = false;
    lineSet_ = false;
}

void PdfDocument::setFill(std::uint32_t bgr) {
    if (fill_ == bgr) return;
    fill_ = bgr;
    color(content_, bgr, "rg", "g");
}

void PdfDocument::setStroke(std::uint32_t bgr) {
    if (stroke_ == bgr) return;
    stroke_ = bgr;
    color(content_, bgr, "RG", "G");
}

void PdfDocument::setLineWidth(double width) {
    if (lineWidth_ == width) return;
    lineWidth_ = width;
    num(content_, width);
    content_ += " w\n";
}

void PdfDocument::drawChar(int x, int y, char16_t ch, const TextFont& font, std::uint32_t bgr) {
    // A lone half of a surrogate pair is no character.
    if (ch >= 0xD800 && ch < 0xE000) return;
    if (!pageOpen_) newPage();
    Face* face = font.face;
    std::uint16_t glyph = face->glyph(ch);
    if (glyph == 0) {
        // Not in the face: another face that has it, as the system's text layout does.
        Face* other =
            ch >= 32 ? fonts_.fallback(*face, font.family, font.bold, font.italic, ch) : nullptr;
        if (!other) {
            if (ch >= 32) missingBox(x, y, font, bgr);
            return;
        }
        face = other;
        glyph = face->glyph(ch);
    }
    // Fonts the engine made afresh for another character set often look the
    // same: the run goes on through them.
    if ((run_.font != &font && !(run_.font && *run_.font == font)) || run_.face != face ||
        run_.color != bgr || run_.y != y || x <= run_.lastX)
        flushRun();
    if (run_.xs.empty()) {
        run_.font = &font;
        run_.face = face;
        run_.color = bgr;
        run_.y = y;
    }
    FontUse& fu = use(face);
    if (fu.unicode[glyph] == 0) {
        fu.unicode[glyph] = ch;
        fu.glyphs.push_back(glyph);
    }
    run_.lastX = x;
    run_.xs.push_back(x);
    run_.text += char(glyph >> 8);
    run_.text += char(glyph & 0xFF);
}

void PdfDocument::missingBox(int x, int y, const TextFont& font, std::uint32_t bgr) {
    // No face has the character: an empty box stands in its cell, as the
    // system's text path draws one, so the gap still shows a character was there.
    flushRun();
    flushStrokes();
    flushFill();
    endText();
    setStroke(bgr);
    setLineWidth(font.size / 20);
    const double width = font.size * 0.5 * font.stretch, height = font.size * 0.7;
    num(content_, x + font.size * 0.05 * font.stretch);
    content_ += ' ';
    num(content_, y + font.ascent - height);
    content_ += ' ';
    num(content_, width);
    content_ += ' ';
    num(content_, height);
    content_ += " re S\n";
}

void PdfDocument::flushRun() {
    if (run_.xs.empty()) {
        run_.font = nullptr;
        return;
    }
    const TextFont& font = *run_.font;
    Face* face = run_.face;
    const bool syntheticBold = font.bold && !face->bold;
    const bool syntheticItalic = font.italic && !face->italic;
    if (!inText_) {
        content_ += "BT\n";
        inText_ = true;
    }
    if (face != textFace_ || font.size != textSize_) {
        content_ += "/F";
        num(content_, use(face).number);
        content_ += ' ';
        num(content_, font.size);
        content_ += " Tf\n";
        textFace_ = face;
        textSize_ = font.size;
    }
    if (font.stretch != textStretch_) {
        num(content_, font.stretch * 100);
        content_ += " Tz\n";
        textStretch_ = font.stretch;
    }
    const int render = syntheticBold ? 2 : 0;
    if (render != textRender_) {
        num(content_, render);
        content_ += " Tr\n";
        textRender_ = render;
    }
    setFill(run_.color);
    if (syntheticBold) {
        setStroke(run_.color);
        setLineWidth(font.size * kSyntheticBold);
    }
    const double baseline = run_.y + font.ascent;
    if (lineSet_ && !syntheticItalic) {
        // From the last run's start: the same few bytes line after line,
        // which the compression takes almost for nothing. The reader adds up
        // what is written, so the position follows the written numbers.
        const double dx = std::round((run_.xs.front() - lineX_) * 1000) / 1000;
        const double dy = std::round((baseline - lineY_) * 1000) / 1000;
        num(content_, dx);
        content_ += ' ';
        num(content_, -dy);
        content_ += " Td\n";
        lineX_ += dx;
        lineY_ += dy;
    } else {
        content_ += "1 0 ";
        content_ += syntheticItalic ? "0.2" : "0";
        static_assert(kSyntheticSlant == 0.2);
        content_ += " -1 ";
        num(content_, run_.xs.front());
        content_ += ' ';
        num(content_, baseline);
        content_ += " Tm\n";
        lineX_ = run_.xs.front();
        lineY_ = std::round(baseline * 1000) / 1000;
    }
    lineSet_ = !syntheticItalic;

    // Every glyph where the engine put its cell: where the advance does not
    // take the pen there, a correction in the string's array.
    const double scale = font.size * font.stretch / 1000;
    std::string body;
    body.reserve(run_.text.size() * 2 + 8);
    bool adjusted = false;
    double pen = 0;
    const int x0 = run_.xs.front();
    for (std::size_t i = 0; i < run_.xs.size(); ++i) {
        // A run may span more than an int from its first cell to its last.
        const double target = double(run_.xs[i]) - x0;
        if (i > 0 && std::abs(target - pen) > 0.01) {
            body += ')';
            num(body, -(target - pen) * 1000 / (font.size * font.stretch));
            body += '(';
            adjusted = true;
        }
        pen = target;
        for (int k = 0; k < 2; ++k) {
            const char c = run_.text[2 * i + std::size_t(k)];
            if (c == '(' || c == ')' || c == '\\') {
                body += '\\';
                body += c;
            } else if (c == '\r') {
                body += "\\r";
            } else {
                body += c;
            }
        }
        const auto glyph =
            std::uint16_t(std::uint8_t(run_.text[2 * i]) << 8 | std::uint8_t(run_.text[2 * i + 1]));
        pen += face->width(glyph) * scale;
    }
    if (adjusted) {
        content_ += "[(";
        content_ += body;
        content_ += ")]TJ\n";
    } else {
        content_ += '(';
        content_ += body;
        content_ += ")Tj\n";
    }

    if (font.underline || font.strikeOut) {
        endText();
        const double width = pen; // the last cell's end
        const double lw = std::max(font.lineWidth, 1.0);
        auto bar = [&](double centre) {
            num(content_, x0);
            content_ += ' ';
            num(content_, centre - lw / 2);
            content_ += ' ';
            num(content_, width);
            content_ += ' ';
            num(content_, lw);
            content_ += " re f\n";
        };
        if (font.underline) bar(baseline + font.underlinePos);
        if (font.strikeOut) bar(baseline - font.strikeOutPos);
    }
    run_.xs.clear();
    run_.text.clear();
    run_.font = nullptr;
    run_.face = nullptr;
    run_.lastX = 0;
}

void PdfDocument::setPenWidth(int width) {
    penWidth_ = width;
}

void PdfDocument::moveTo(int x, int y) {
    curX_ = x;
    curY_ = y;
}

void PdfDocument::lineTo(int x, int y) {
    if (strokeWidth_ != penWidth_) flushStrokes();
    strokeWidth_ = penWidth_;
    const int fromX = curX_, fromY = curY_;
    curX_ = x;
    curY_ = y;
    // A line of no length leaves nothing with flat ends.
    if (x == fromX && y == fromY) return;
    int way = -1;
    if (y == fromY) way = x > fromX ? 0 : 1;
    if (x == fromX) way = y > fromY ? 2 : 3;
    auto point = [](int px, int py) {
        return std::uint64_t(std::uint32_t(px)) << 32 | std::uint32_t(py);
    };
    if (way >= 0) {
        auto& ends = ends_[std::size_t(way)];
        const auto it = ends.find(point(fromX, fromY));
        if (it != ends.end()) {
            const std::size_t i = it->second;
            ends.erase(it);
            segments_[i].x1 = x;
            segments_[i].y1 = y;
            ends[point(x, y)] = i;
            return;
        }
        ends[point(x, y)] = segments_.size();
    }
    segments_.push_back({fromX, fromY, x, y});
}

void PdfDocument::flushStrokes() {
    for (auto& ends : ends_)
        ends.clear();
    if (segments_.empty()) return;
    endText();
    // Pens are black whatever colour the text has.
    setStroke(0);
    setLineWidth(strokeWidth_);
    for (const Segment& s : segments_) {
        num(content_, s.x0);
        content_ += ' ';
        num(content_, s.y0);
        content_ += " m ";
        num(content_, s.x1);
        content_ += ' ';
        num(content_, s.y1);
        content_ += " l\n";
    }
    content_ += "S\n";
    segments_.clear();
}

void PdfDocument::fillRect(int left, int top, int right, int bottom, std::uint32_t bgr) {
    if (right <= left || bottom <= top) return;
    if (!pageOpen_) newPage();
    // The next cell's shade of the same colour widens the open rectangle.
    if (fillOpen_ && fillColor_ == bgr && fillT_ == top && fillB_ == bottom && fillR_ == left) {
        fillR_ = right;
        return;
    }
    flushRun();
    flushStrokes();
    flushFill();
    fillOpen_ = true;
    fillL_ = left;
    fillT_ = top;
    fillR_ = right;
    fillB_ = bottom;
    fillColor_ = bgr;
}

void PdfDocument::flushFill() {
    if (!fillOpen_) return;
    fillOpen_ = false;
    endText();
    setFill(fillColor_);
    num(content_, fillL_);
    content_ += ' ';
    num(content_, fillT_);
    content_ += ' ';
    // Corners far apart are more than an int apart.
    num(content_, static_cast<long long>(fillR_) - fillL_);
    content_ += ' ';
    num(content_, static_cast<long long>(fillB_) - fillT_);
    content_ += " re f\n";
}

void PdfDocument::drawDotImage(int x, int y, int width, int height, const DotImage& image,
                               std::uint32_t bgr) {
    if (image.columns <= 0 || image.rows <= 0 || width <= 0 || height <= 0) return;
    if (!pageOpen_) newPage();
    flushRun();
    flushStrokes();
    flushFill();
    endText();
    // An image mask paints its set dots in the fill colour and leaves the
    // others alone.
    const int object = reserve();
    images_.push_back(object);
    std::string bits(image.bits.begin(), image.bits.end());
    writeStream(object,
                "/Type/XObject/Subtype/Image/Width " + std::to_string(image.columns) + "/Height " +
                    std::to_string(image.rows) + "/ImageMask true/BitsPerComponent 1/Decode[1 0]",
                bits, true);
    content_ += "q\n";
    color(content_, bgr, "rg", "g");
    num(content_, width);
    content_ += " 0 0 ";
    num(content_, -height);
    content_ += ' ';
    num(content_, x);
    content_ += ' ';
    num(content_, static_cast<long long>(y) + height);
    content_ += " cm /Im";
    num(content_, int(images_.size()));
    content_ += " Do\nQ\n";
}

void PdfDocument::newPage() {
    if (pageOpen_) endPage();
    pageOpen_ = true;
    content_.clear();
    inText_ = false;
    lineSet_ = false;
    textFace_ = nullptr;
    textSize_ = textStretch_ = -1;
    textRender_ = 0;
    fill_ = stroke_ = -1;
    lineWidth_ = -1;
    // Printer dots from the printable area's top-left corner, downwards.
    const double dot = 72.0 / frame_.resolution;
    num(content_, dot);
    content_ += " 0 0 ";
    num(content_, -dot);
    content_ += ' ';
    num(content_, frame_.left);
    content_ += ' ';
    num(content_, frame_.height - frame_.top);
    content_ += " cm\n";
}

void PdfDocument::endPage() {
    flushRun();
    flushStrokes();
    flushFill();
    endText();
    const int contents = reserve();
    writeStream(contents, "", content_, true);
    const int page = reserve();
    pages_.push_back(page);
    // Paper and resources are the document's, inherited from the page tree.
    const std::string dict =
        "<</Type/Page/Parent " + ref(pagesObject_) + "/Contents " + ref(contents) + ">>\n";
    beginObject(page);
    write(dict + "endobj\n");
    pageOpen_ = false;
    content_.clear();
}

void PdfDocument::writeFont(Face* face, const FontUse& fu, int type0) {
    std::vector<std::uint16_t> glyphs = fu.glyphs;
    std::sort(glyphs.begin(), glyphs.end());

    // A subset's name starts with six capitals of its own.
    std::uint64_t h = 1469598103934665603ULL;
    for (std::uint16_t g : glyphs)
        h = (h ^ g) * 1099511628211ULL;
    std::string name;
    for (int i = 0; i < 6; ++i, h /= 26)
        name += char('A' + h % 26);
    name += '+' + face->postScriptName();

    const int cid = reserve(), descriptor = reserve(), file = reserve(), toUnicode = reserve();
    const double unit = 1000.0 / face->unitsPerEm();

    beginObject(type0);
    write("<</Type/Font/Subtype/Type0/BaseFont/" + name + "/Encoding/Identity-H/DescendantFonts[" +
          ref(cid) + "]/ToUnicode " + ref(toUnicode) + ">>\nendobj\n");

    // Widths: the commonest as the default, the others listed.
    std::unordered_map<int, int> counts;
    for (std::uint16_t g : glyphs)
        ++counts[face->width(g)];
    int common = 0, most = -1;
    for (auto [w, n] : counts)
        if (n > most || (n == most && w < common)) common = w, most = n;
    std::string widths;
    for (std::size_t i = 0; i < glyphs.size();) {
        if (face->width(glyphs[i]) == common) {
            ++i;
            continue;
        }
        num(widths, int(glyphs[i]));
        widths += '[';
        std::uint16_t next = glyphs[i];
        for (; i < glyphs.size() && glyphs[i] == next && face->width(glyphs[i]) != common;
             ++i, ++next) {
            num(widths, face->width(glyphs[i]));
            widths += ' ';
        }
        widths.back() = ']';
    }
    std::string dict = "<</Type/Font/Subtype/";
    dict += face->isCff() ? "CIDFontType0" : "CIDFontType2";
    dict += "/BaseFont/" + name +
            "/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>/FontDescriptor " +
            ref(descriptor) + "/DW ";
    num(dict, common);
    if (!widths.empty()) dict += "/W[" + widths + "]";
    if (!face->isCff()) dict += "/CIDToGIDMap/Identity";
    beginObject(cid);
    write(dict + ">>\nendobj\n");

    const std::int16_t* b = face->bbox();
    dict = "<</Type/FontDescriptor/FontName/" + name + "/Flags ";
    num(dict, 4 + (face->fixedPitch() ? 1 : 0) + (face->italic ? 64 : 0));
    dict += "/FontBBox[";
    for (int i = 0; i < 4; ++i) {
        num(dict, b[i] * unit);
        dict += i < 3 ? " " : "]";
    }
    dict += "/ItalicAngle ";
    num(dict, face->italicAngle());
    dict += "/Ascent ";
    num(dict, face->ascender() * unit);
    dict += "/Descent ";
    num(dict, face->descender() * unit);
    dict += "/CapHeight ";
    num(dict, face->capHeight() * unit);
    dict += "/StemV 80";
    dict += face->isCff() ? "/FontFile3 " : "/FontFile2 ";
    dict += ref(file) + ">>\nendobj\n";
    beginObject(descriptor);
    write(dict);

    const std::string program = face->subset(glyphs);
    writeStream(file,
                face->isCff() ? std::string("/Subtype/OpenType")
                              : "/Length1 " + std::to_string(program.size()),
                program, true);

    std::string cmap = "/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
                       "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
                       "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
                       "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n";
    for (std::size_t i = 0; i < glyphs.size(); i += 100) {
        const std::size_t n = std::min<std::size_t>(100, glyphs.size() - i);
        cmap += std::to_string(n) + " beginbfchar\n";
        for (std::size_t k = i; k < i + n; ++k) {
            cmap += '<';
            hex4(cmap, glyphs[k]);
            cmap += "><";
            hex4(cmap, unsigned(fu.unicode[glyphs[k]]));
            cmap += ">\n";
        }
        cmap += "endbfchar\n";
    }
    cmap += "endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n";
    writeStream(toUnicode, "", cmap, true);
}

void PdfDocument::finish() {
    if (!file_) return;
    if (pageOpen_) endPage();

    std::string resources = "<</Font<<";
    std::vector<std::pair<Face*, const FontUse*>> order;
    for (const auto& [face, fu] : uses_)
        order.emplace_back(face, &fu);
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return a.second->number < b.second->number; });
    std::vector<int> type0s;
    for (const auto& [face, fu] : order) {
        type0s.push_back(reserve());
        resources += "/F" + std::to_string(fu->number) + ' ' + ref(type0s.back());
    }
    resources += ">>/XObject<<";
    for (std::size_t i = 0; i < images_.size(); ++i)
        resources += "/Im" + std::to_string(i + 1) + ' ' + ref(images_[i]);
    resources += ">>/ProcSet[/PDF/Text/ImageB]>>\nendobj\n";
    beginObject(resourcesObject_);
    write(resources);
    for (std::size_t i = 0; i < order.size(); ++i)
        writeFont(order[i].first, *order[i].second, type0s[i]);

    std::string kids = "<</Type/Pages/Kids[";
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        kids += ref(pages_[i]);
        kids += (i + 1) % 16 ? ' ' : '\n';
    }
    kids += "]/Count " + std::to_string(pages_.size()) + "/MediaBox[0 0 ";
    num(kids, frame_.width);
    kids += ' ';
    num(kids, frame_.height);
    kids += "]/Resources " + ref(resourcesObject_) + ">>\nendobj\n";
    beginObject(pagesObject_);
    write(kids);
    beginObject(1);
    write("<</Type/Catalog/Pages " + ref(pagesObject_) + ">>\nendobj\n");

    const int info = reserve();
    char date[32] = "";
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(date, sizeof date, "D:%Y%m%d%H%M%SZ", &tm);
    beginObject(info);
    write("<</Title " + textString(title_) + "/Producer(Marlix)/CreationDate(" + date +
          ")>>\nendobj\n");

    const std::uint64_t xref = offset_;
    std::string table = "xref\n0 " + std::to_string(offsets_.size()) + "\n0000000000 65535 f \n";
    for (std::size_t i = 1; i < offsets_.size(); ++i) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010llu 00000 n \n",
                      static_cast<unsigned long long>(offsets_[i]));
        table += entry;
    }
    table += "trailer\n<</Size " + std::to_string(offsets_.size()) + "/Root 1 0 R/Info " +
             ref(info) + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    write(table);
    close();
}

void PdfDocument::close() {
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fflush(f) != 0 || std::fclose(f) != 0)
        throw IoError(withReason(formatMessage(kCannotCreate, path_), std::strerror(errno)));
}

void PdfDocument::abort() {
    if (!file_) return;
    std::fclose(file_);
    file_ = nullptr;
}

} // namespace marlix::pdf
