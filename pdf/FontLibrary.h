// Font files for the PDF writer: faces found with fontconfig, read with
// HarfBuzz for their glyphs and advances, and cut down to the glyphs a
// document used when it is written out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

struct hb_blob_t;
struct hb_face_t;
struct hb_font_t;

namespace marlix::pdf {

class Face {
public:
    Face(const std::string& file, unsigned index);
    ~Face();
    Face(const Face&) = delete;
    Face& operator=(const Face&) = delete;

    const std::string& file() const { return file_; }
    const std::string& postScriptName() const { return psName_; }
    unsigned glyphCount() const { return glyphCount_; }
    unsigned unitsPerEm() const { return upem_; }
    bool isCff() const { return cff_; }
    bool fixedPitch() const { return fixedPitch_; }
    // Design metrics in font units, for the font descriptor.
    int ascender() const { return ascender_; }
    int descender() const { return descender_; }
    int capHeight() const { return capHeight_; }
    const std::int16_t* bbox() const { return bbox_; }
    double italicAngle() const { return italicAngle_; }

    // The face's glyph for the character, 0 when it has none.
    std::uint16_t glyph(char32_t ch);
    // Advance in font units.
    int advance(std::uint16_t glyph);
    // Advance in thousandths of the em, whole as the PDF's widths are (some
    // readers take whole numbers only): text is laid out with these.
    int width(std::uint16_t glyph) {
        return int((advance(glyph) * 2000LL + unitsPerEm()) / (2LL * unitsPerEm()));
    }
    // The face with only these glyphs (and .notdef); glyph indices stay as
    // they are, so that page content written before the end stays valid.
    std::string subset(const std::vector<std::uint16_t>& glyphs) const;

    // Style the fontconfig match actually has, to know what to synthesise.
    bool bold = false;
    bool italic = false;
    // Fallback faces for characters this one lacks, by character.
    std::unordered_map<char32_t, Face*> fallbacks;

private:
    std::string file_;
    std::string psName_;
    hb_blob_t* blob_ = nullptr;
    hb_face_t* face_ = nullptr;
    hb_font_t* font_ = nullptr;
    unsigned glyphCount_ = 0;
    unsigned upem_ = 1000;
    bool cff_ = false;
    bool fixedPitch_ = false;
    int ascender_ = 0, descender_ = 0, capHeight_ = 0;
    std::int16_t bbox_[4] = {0, 0, 0, 0};
    double italicAngle_ = 0;
    // Glyphs of the Basic Multilingual Plane, looked up once: -1 not yet.
    std::vector<std::int32_t> bmp_;
    std::vector<std::int32_t> advances_;
};

// The faces of one printer, shared by its documents: a file is read once.
class FontLibrary {
public:
    FontLibrary();
    ~FontLibrary();
    FontLibrary(const FontLibrary&) = delete;
    FontLibrary& operator=(const FontLibrary&) = delete;

    // The face of the family in that style, as fontconfig matches it; never
    // null (the system's monospace face when nothing else is usable).
    Face* match(const std::string& family, bool bold, bool italic);
    // A face that has the character, for text the face lacks; null if none has it.
    Face* fallback(Face& face, const std::string& family, bool bold, bool italic, char32_t ch);

private:
    Face* load(const std::string& file, unsigned index);
    Face* find(const std::string& family, bool bold, bool italic, char32_t ch);

    std::unordered_map<std::string, std::unique_ptr<Face>> faces_;
    std::unordered_map<std::string, Face*> matches_;
};

} // namespace marlix::pdf
