// Text on a fixed grid: the printer font that fits the pitch, the print-state
// reset, one character in its cell, and the layout read-outs.
#include "charset/Pseudo.h"
#include "core/Arith.h"
#include "engine/PrintEngine.h"

#include <algorithm>
#include <cmath>

namespace marlix {

namespace {
constexpr std::int32_t kBold = 700;
constexpr std::uint8_t kOutTrueTypePreferred = 4;
constexpr std::uint8_t kQualityProof = 2;
constexpr std::uint8_t kFixedPitch = 1;
} // namespace

void PrintEngine::setFontColor(std::uint32_t bgr) {
    font_.color = bgr;
    device_.setFontColor(bgr);
}

// The font panel's face at its point size, before a cell is imposed on it.
void PrintEngine::selectPanelFont() {
    LogicalFont lf;
    // Points to dots as the system does it: halves away from zero.
    lf.height = -fit<std::int32_t>(std::llround(font_.size * static_cast<double>(resy()) / 72.0));
    lf.weight = font_.bold ? kBold : 0;
    lf.italic = font_.italic;
    lf.underline = font_.underline;
    lf.strikeOut = font_.strikeOut;
    lf.charSet = currentCharSet_;
    lf.face = font_.face;
    device_.setFont(lf);
    fontCharSet_ = currentCharSet_;
}

PrintEngine::Cell PrintEngine::measurePanelFont() {
    selectPanelFont();
    return {fit<std::uint16_t>(device_.textWidth(u'@')),
            fit<std::uint16_t>(device_.textHeight(u'@'))};
}

void PrintEngine::styleFromSettings() {
    font_.bold = settings.bold;
    font_.italic = settings.italic;
    font_.underline = settings.underline;
    font_.strikeOut = settings.strikeOut;
}

void PrintEngine::makePrinterFont() {
    LogicalFont lf;
    lf.height = charHeight_;
    lf.width = charAdvance_;
    lf.weight = font_.bold ? kBold : 0;
    lf.italic = font_.italic;
    lf.underline = font_.underline;
    lf.strikeOut = font_.strikeOut;
    lf.charSet = currentCharSet_;
    lf.outPrecision = kOutTrueTypePreferred;
    lf.quality = kQualityProof;
    lf.pitchAndFamily = kFixedPitch;
    lf.face = font_.face;
    device_.setFont(lf);
    fontCharSet_ = currentCharSet_;
}

void PrintEngine::setpitch(std::uint8_t pitch) {
    if (condensed_) {
        if (pitch == 10)
            pitch = 18;
        else if (pitch == 12)
            pitch = 20;
    }
    // A pitch of 0 has no cell width: the advance stays as it is.
    if (pitch != 0) {
        long double advance = static_cast<long double>(resx()) / pitch;
        if (doubleWidth_) advance *= 2;
        charAdvance_ = nearestAs<std::uint16_t>(advance);
    }
    makePrinterFont();
}

std::uint8_t PrintEngine::panelCell() {
    font_.size = settings.fontSize;
    font_.face = settings.fontName;
    if (settings.defaultFont) {
        const Cell cell = measurePanelFont();
        charAdvance_ = cell.width;
        charHeight_ = cell.height;
        return nearestAs<std::uint8_t>(static_cast<long double>(resx()) / charAdvance_);
    }
    const std::uint8_t pitch = fit<std::uint8_t>(settings.cpi);
    charAdvance_ = nearestAs<std::uint16_t>(static_cast<long double>(resx()) / settings.cpi);
    charHeight_ = nearestAs<std::uint16_t>(static_cast<long double>(resy()) / settings.lpi);
    return pitch;
}

void PrintEngine::resetPrintState() {
    job_.savedHeight = 0;
    job_.baselineShift = 0;
    doubleWidth_ = false;
    condensed_ = false;
    job_.pitch = panelCell();
    job_.requested = device_.orientation();
    setpitch(job_.pitch);
}

void PrintEngine::drawCharacter(std::uint8_t b, std::uint16_t& w) {
    const std::uint8_t set = (*chars_)[b].set;
    // The upper half of the Epson italic table: its own character in italics.
    const bool slant = italicBytes_[b] && !font_.italic;
    if (fontCharSet_ != set || slant) {
        currentCharSet_ = set;
        font_.italic = font_.italic || slant;
        setpitch(job_.pitch);
    }
    if (set == kBoxDrawingSet) {
        Pseudo(device_, job_.x, job_.y, charAdvance_, charHeight_, w);
    } else if (set != kInvisibleSet) {
        device_.drawChar(job_.x, add32(job_.y, job_.baselineShift), static_cast<char16_t>(w));
    }
    if (slant) {
        font_.italic = false;
        setpitch(job_.pitch);
    }
    job_.x = add32(job_.x, std::int64_t{charAdvance_} + job_.escp.extraSpace);
}

PrintEngine::FontPitch PrintEngine::pitchOfFont(const std::string& face, std::int32_t size) {
    font_.face = face;
    font_.size = size;
    const Cell cell = measurePanelFont();
    charAdvance_ = cell.width;
    lineHeight_ = cell.height;
    auto perInch = [](int res, int cell, std::int64_t most) {
        return static_cast<std::int32_t>(
            std::clamp<std::int64_t>(nearest(static_cast<long double>(res) / cell), 1, most));
    };
    return {perInch(resx(), charAdvance_, 25), perInch(resy(), lineHeight_, 15)};
}

CheckSizeResult PrintEngine::checksize() {
    styleFromSettings();
    panelCell();
    makePrinterFont();

    CheckSizeResult r;
    r.monospaced = device_.textWidth(u'!') == device_.textWidth(u'W');
    computePageArea();
    lineHeight_ = fit<std::uint16_t>(device_.textHeight(u'@'));
    charAdvance_ = fit<std::uint16_t>(device_.textWidth(u'@'));
    r.charsPerLine =
        nearest(static_cast<long double>(area_.right - std::int64_t{area_.left}) / charAdvance_) -
        1;
    r.linesPerPage =
        nearest(static_cast<long double>(area_.bottom - std::int64_t{area_.top}) / lineHeight_) - 1;
    return r;
}

} // namespace marlix
