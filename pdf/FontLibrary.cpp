#include "pdf/FontLibrary.h"

#include "core/Errors.h"

#include <algorithm>
#include <fontconfig/fontconfig.h>
#include <hb-ot.h>
#include <hb-subset.h>
#include <hb.h>

namespace marlix::pdf {

namespace {

std::uint32_t be16(const char* p) {
    return std::uint32_t(std::uint8_t(p[0])) << 8 | std::uint8_t(p[1]);
}
std::uint32_t be32(const char* p) {
    return be16(p) << 16 | be16(p + 2);
}

// A table's bytes, empty when the face has none.
struct Table {
    Table(hb_face_t* face, hb_tag_t tag) : blob(hb_face_reference_table(face, tag)) {
        data = hb_blob_get_data(blob, &length);
    }
    ~Table() { hb_blob_destroy(blob); }
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;
    hb_blob_t* blob;
    const char* data = nullptr;
    unsigned length = 0;
};

} // namespace

Face::Face(const std::string& file, unsigned index) : file_(file) {
    blob_ = hb_blob_create_from_file_or_fail(file.c_str());
    if (!blob_) throw IoError(formatMessage(kCannotOpenFile, file));
    face_ = hb_face_create(blob_, index);
    font_ = hb_font_create(face_);
    glyphCount_ = hb_face_get_glyph_count(face_);
    upem_ = std::max(1u, hb_face_get_upem(face_));

    char name[128];
    unsigned size = sizeof name;
    hb_ot_name_get_utf8(face_, HB_OT_NAME_ID_POSTSCRIPT_NAME, HB_LANGUAGE_INVALID, &size, name);
    // A PDF name takes no spaces or delimiters.
    for (char c : std::string_view(name, size))
        if (c > ' ' && c < 127 && std::string_view("()<>[]{}/%#").find(c) == std::string_view::npos)
            psName_ += c;
    if (psName_.empty()) psName_ = "Font";

    hb_position_t v = 0;
    if (hb_ot_metrics_get_position(font_, HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER, &v)) ascender_ = v;
    if (hb_ot_metrics_get_position(font_, HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER, &v))
        descender_ = v;
    capHeight_ = hb_ot_metrics_get_position(font_, HB_OT_METRICS_TAG_CAP_HEIGHT, &v) && v > 0
                     ? v
                     : ascender_;
    const Table head(face_, HB_TAG('h', 'e', 'a', 'd'));
    if (head.length >= 44)
        for (int i = 0; i < 4; ++i)
            bbox_[i] = std::int16_t(be16(head.data + 36 + 2 * i));
    const Table post(face_, HB_TAG('p', 'o', 's', 't'));
    if (post.length >= 16) {
        italicAngle_ = std::int32_t(be32(post.data + 4)) / 65536.0;
        fixedPitch_ = be32(post.data + 12) != 0;
    }
    const Table glyf(face_, HB_TAG('g', 'l', 'y', 'f'));
    const Table cff(face_, HB_TAG('C', 'F', 'F', ' '));
    cff_ = glyf.length == 0 && cff.length > 0;
    bmp_.assign(0x10000, -1);
    advances_.assign(glyphCount_, -1);
}

Face::~Face() {
    hb_font_destroy(font_);
    hb_face_destroy(face_);
    hb_blob_destroy(blob_);
}

std::uint16_t Face::glyph(char32_t ch) {
    if (ch < 0x10000 && bmp_[ch] >= 0) return std::uint16_t(bmp_[ch]);
    hb_codepoint_t g = 0;
    if (!hb_font_get_nominal_glyph(font_, ch, &g) || g >= glyphCount_ || g > 0xFFFF) g = 0;
    if (ch < 0x10000) bmp_[ch] = std::int32_t(g);
    return std::uint16_t(g);
}

int Face::advance(std::uint16_t glyph) {
    if (glyph >= advances_.size()) return 0;
    if (advances_[glyph] < 0) advances_[glyph] = hb_font_get_glyph_h_advance(font_, glyph);
    return advances_[glyph];
}

std::string Face::subset(const std::vector<std::uint16_t>& glyphs) const {
    hb_subset_input_t* input = hb_subset_input_create_or_fail();
    if (!input) throw IoError("Out of memory");
    hb_set_t* keep = hb_subset_input_glyph_set(input);
    hb_set_add(keep, 0);
    for (std::uint16_t g : glyphs)
        hb_set_add(keep, g);
    // Page content names glyphs by their index in the whole face. Hinting
    // and layout tables are of no use to a PDF reader.
    hb_subset_input_set_flags(input, HB_SUBSET_FLAGS_RETAIN_GIDS | HB_SUBSET_FLAGS_NO_HINTING);
    hb_set_t* drop = hb_subset_input_set(input, HB_SUBSET_SETS_DROP_TABLE_TAG);
    for (hb_tag_t t :
         {HB_TAG('G', 'S', 'U', 'B'), HB_TAG('G', 'P', 'O', 'S'), HB_TAG('G', 'D', 'E', 'F'),
          HB_TAG('k', 'e', 'r', 'n'), HB_TAG('B', 'A', 'S', 'E'), HB_TAG('J', 'S', 'T', 'F'),
          HB_TAG('g', 'a', 's', 'p'), HB_TAG('h', 'd', 'm', 'x'), HB_TAG('L', 'T', 'S', 'H'),
          HB_TAG('V', 'D', 'M', 'X')})
        hb_set_add(drop, t);
    hb_face_t* out = hb_subset_or_fail(face_, input);
    hb_subset_input_destroy(input);
    if (!out) throw IoError(formatMessage("Cannot embed font %s", file_));
    hb_blob_t* blob = hb_face_reference_blob(out);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    std::string bytes(data, length);
    hb_blob_destroy(blob);
    hb_face_destroy(out);
    return bytes;
}

FontLibrary::FontLibrary() {
    FcInit();
}

FontLibrary::~FontLibrary() = default;

Face* FontLibrary::load(const std::string& file, unsigned index) {
    const std::string key = file + '\n' + std::to_string(index);
    auto it = faces_.find(key);
    if (it != faces_.end()) return it->second.get();
    auto face = std::make_unique<Face>(file, index);
    // Bitmap and other faces a PDF cannot embed as TrueType or OpenType.
    if (face->glyphCount() == 0) return nullptr;
    return faces_.emplace(key, std::move(face)).first->second.get();
}

Face* FontLibrary::find(const std::string& family, bool bold, bool italic, char32_t ch) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
    if (ch) {
        FcCharSet* set = FcCharSetCreate();
        FcCharSetAddChar(set, ch);
        FcPatternAddCharSet(pattern, FC_CHARSET, set);
        FcCharSetDestroy(set);
    }
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* found = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    if (!found) return nullptr;
    FcChar8* file = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    Face* face = nullptr;
    if (FcPatternGetString(found, FC_FILE, 0, &file) == FcResultMatch) {
        FcPatternGetInteger(found, FC_INDEX, 0, &index);
        FcPatternGetInteger(found, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(found, FC_SLANT, 0, &slant);
        try {
            face = load(reinterpret_cast<const char*>(file), unsigned(index));
        } catch (const Error&) {
            face = nullptr;
        }
        if (face) {
            face->bold = weight >= FC_WEIGHT_DEMIBOLD;
            face->italic = slant != FC_SLANT_ROMAN;
        }
    }
    FcPatternDestroy(found);
    return face;
}

Face* FontLibrary::match(const std::string& family, bool bold, bool italic) {
    const std::string key = family + (bold ? "\nb" : "\n") + (italic ? "i" : "");
    auto it = matches_.find(key);
    if (it != matches_.end()) return it->second;
    Face* face = find(family, bold, italic, 0);
    if (!face) face = find("monospace", bold, italic, 0);
    if (!face) throw IoError(formatMessage("Cannot find font %s", family));
    matches_.emplace(key, face);
    return face;
}

Face* FontLibrary::fallback(Face& face, const std::string& family, bool bold, bool italic,
                            char32_t ch) {
    auto it = face.fallbacks.find(ch);
    if (it != face.fallbacks.end()) return it->second;
    Face* other = find(family, bold, italic, ch);
    if (other && (other == &face || other->glyph(ch) == 0)) other = nullptr;
    face.fallbacks.emplace(ch, other);
    return other;
}

} // namespace marlix::pdf
