// The built-in Epson ESC/P2 emulation: what each command of the table in
// EscP2.cpp does to the print state, the page and the character tables.
#include "charset/CodeSet.h"
#include "core/Arith.h"
#include "core/Errors.h"
#include "engine/EscP2.h"
#include "engine/PrintEngine.h"

#include <algorithm>
#include <array>

namespace marlix {

namespace {

// Bytes an Epson command is first looked at with; longer ones are read whole.
constexpr std::size_t kEmulationLookAhead = 30;

// The largest ESC X point size taken.
constexpr int kLargestPoints = 72;

// The default unit of page formats and vertical moves: 1/360 inch.
constexpr int kDefaultUnit = 10;

// The twelve codes an international character set replaces, and what each
// set puts there (ESC R n; 64 is the legal set).
constexpr std::array<std::uint8_t, 12> kNational = {0x23, 0x24, 0x40, 0x5B, 0x5C, 0x5D,
                                                    0x5E, 0x60, 0x7B, 0x7C, 0x7D, 0x7E};
struct NationalSet {
    std::uint8_t n;
    std::u16string_view chars;
};
constexpr std::array<NationalSet, 15> kNationalSets = {{
    {0, u"#$@[\\]^`{|}~"},
    {1, u"#$à°ç§^`éùè¨"},
    {2, u"#$§ÄÖÜ^`äöüß"},
    {3, u"£$@[\\]^`{|}~"},
    {4, u"#$@ÆØÅ^`æøå~"},
    {5, u"#¤ÉÄÖÅÜéäöåü"},
    {6, u"#$@°\\é^ùàòèì"},
    {7, u"₧$@¡Ñ¿^`¨ñ}~"},
    {8, u"#$@[¥]^`{|}~"},
    {9, u"#¤ÉÆØÅÜéæøåü"},
    {10, u"#$ÉÆØÅÜéæøåü"},
    {11, u"#$á¡Ñ¿é`íñóú"},
    {12, u"#$á¡Ñ¿éüíñóú"},
    {13, u"#$@[₩]^`{|}~"},
    {64, u"#$§°'\"¶`©®†™"},
}};

// What codes 0..31 show when ESC I 1 makes them printable.
constexpr std::u16string_view kControlPictures = u" ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼";
// The codes ESC I 1 makes printable; the rest stay control codes.
constexpr std::uint32_t kPrintableControls =
    0x7F | 1u << 16 | 1u << 17 | 7u << 21 | 3u << 25 | 0xFu << 28;

// Registered tables of ESC ( t that a code page file stands for.
struct Registered {
    std::uint8_t d2, d3;
    const char* name;
};
constexpr std::array<Registered, 5> kRegistered = {{
    {0, 0, kItalicTable},
    {1, 0, "437"},
    {3, 0, "850"},
    {10, 0, "852"},
    {14, 0, "866"},
}};

// The dots of an image command's columns. A density the printers don't
// define gives none, never another mode's columns; a column is read only if
// the command holds it whole, so no byte of the job after it is taken for dots.
DotImage columnDots(std::string_view data, const escp2::ColumnFormat& format, std::size_t columns) {
    DotImage image;
    if (format.perInchX == 0 || format.bytes * 8 < std::size_t(format.dots)) return image;
    columns = std::min(columns, data.size() / format.bytes);
    if (columns == 0) return image;
    image.columns = fit<int>(static_cast<std::int64_t>(columns));
    image.rows = format.dots;
    image.bits.resize(std::size_t(image.rows) * image.rowBytes());
    for (std::size_t c = 0; c < columns; ++c) {
        const std::string_view column = data.substr(c * format.bytes, format.bytes);
        for (int d = 0; d < format.dots; ++d)
            if (static_cast<std::uint8_t>(column[std::size_t(d) / 8]) >> (7 - d % 8) & 1)
                image.set(static_cast<int>(c), d);
    }
    return image;
}

} // namespace

void PrintEngine::resetEmulation() {
    job_.escp = Emulation{};
    computePageArea();
    job_.escp.originTop = area_.top;
    job_.escp.originLeft = area_.left;
    job_.escp.originRight = area_.right;
    selectCharTable();
}

bool PrintEngine::printableControl(std::uint8_t b) const {
    return job_.escp.printableControls && b < 32 && (kPrintableControls >> b & 1);
}

void PrintEngine::selectCharTable() {
    const Emulation& e = job_.escp;
    for (unsigned b = 0; b < 256; ++b)
        byteMap_[b] = static_cast<std::uint8_t>(b);
    italicBytes_.reset();
    const std::string& name = e.tables[e.table];
    const bool italic = name == kItalicTable;
    const CodePageTable* base = &codePage;
    if (!italic && !name.empty())
        if (const CodePageTable* table = loadTable(name)) base = table;
    if (base == &codePage && e.international == 0 && !e.printableControls && !italic) {
        chars_ = &codePage;
        return;
    }
    emulationChars_ = *base;
    if (e.international != 0) {
        for (const NationalSet& set : kNationalSets)
            if (set.n == e.international)
                for (std::size_t i = 0; i < kNational.size(); ++i)
                    emulationChars_[kNational[i]] = {set.chars[i], kDefaultCharSet};
    }
    for (std::uint8_t b = 0; b < 32; ++b)
        if (printableControl(b)) emulationChars_[b] = {kControlPictures[b], kDefaultCharSet};
    if (italic) {
        // The upper half repeats the lower one in italics; its first 32
        // codes are control codes again unless ESC 6 made them printable.
        for (unsigned b = 160; b < 256; ++b) {
            emulationChars_[static_cast<std::uint8_t>(b)] =
                emulationChars_[static_cast<std::uint8_t>(b - 128)];
            italicBytes_.set(b);
        }
        if (e.upperControls)
            for (unsigned b = 128; b < 160; ++b)
                byteMap_[b] = static_cast<std::uint8_t>(b - 128);
    }
    chars_ = &emulationChars_;
}

const CodePageTable* PrintEngine::loadTable(const std::string& name) {
    for (const auto& [loaded, table] : tableCache_)
        if (loaded == name) return &table;
    if (!codePageFile) return nullptr;
    CodePageTable table;
    try {
        codeset(table, codePageFile(name));
    } catch (const Error&) {
        return nullptr; // not installed: as if the printer had no such table
    }
    return &tableCache_.emplace_back(name, table).second;
}

void PrintEngine::updateFormEnd() {
    Emulation& e = job_.escp;
    if (e.formLength == 0 && e.bottomMargin == 0 && e.perforation == 0) {
        e.formEnd = 0;
        return;
    }
    const std::int64_t length =
        e.formLength != 0 ? e.formLength : std::int64_t{area_.bottom} - e.originTop;
    const std::int64_t bottom =
        e.bottomMargin != 0 ? std::min<std::int64_t>(e.bottomMargin, length) : length;
    e.formEnd = fit<std::int32_t>(e.originTop + bottom - e.perforation);
}

std::int32_t PrintEngine::units(std::int64_t count, int perInch, int resolution) const {
    return nearestAs<std::int32_t>(static_cast<long double>(count) * resolution / perInch);
}

void PrintEngine::placeImage(DotImage& image, long double perInchX, long double perInchY) {
    const long double dotWidth = resx() / perInchX;
    // Dots beyond the right margin are not printed, as a printer drops them.
    const long double room = std::int64_t{area_.right} - job_.x;
    if (room < dotWidth || image.rows == 0) return;
    const int fits = static_cast<int>(std::min<long double>(image.columns, room / dotWidth));
    if (fits < image.columns) {
        DotImage cut;
        cut.columns = fits;
        cut.rows = image.rows;
        cut.bits.resize(std::size_t(cut.rows) * cut.rowBytes());
        for (int r = 0; r < image.rows; ++r)
            for (int c = 0; c < fits; ++c)
                if (image.dot(c, r)) cut.set(c, r);
        image = std::move(cut);
    }
    // Dots finer than the printer's still print, a printer dot at the least.
    const std::int32_t width = std::max(1, nearestAs<std::int32_t>(image.columns * dotWidth));
    const std::int32_t height =
        std::max(1, nearestAs<std::int32_t>(image.rows * resy() / perInchY));
    if (!job_.pageStarted) startPage();
    device_.drawDotImage(job_.x, job_.y, width, height, image, font_.color);
    job_.x = add32(job_.x, width);
}

void PrintEngine::printRaster(std::string_view command) {
    // ESC . c v h m nL nH: densities in 1/3600 inch, m rows of dots across.
    if (command.size() < 8) return;
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(command[2 + i]); };
    const std::uint8_t mode = at(0), v = at(1), h = at(2), rows = at(3);
    const std::size_t columns = at(4) + 256u * at(5);
    if (v == 0 || h == 0 || rows == 0 || columns == 0 || mode > 1) return;
    DotImage image;
    image.columns = static_cast<int>(columns);
    image.rows = rows;
    const std::size_t want = std::size_t(rows) * image.rowBytes();
    const std::string_view data = command.substr(8);
    if (mode == 0) {
        if (data.size() < want) return;
        image.bits.assign(data.begin(), data.begin() + std::ptrdiff_t(want));
    } else {
        // Runs: a count below 128 copies count + 1 bytes, above it repeats
        // the next byte 257 - count times. A run past the end is cut.
        image.bits.reserve(want);
        std::size_t i = 0;
        while (image.bits.size() < want && i < data.size()) {
            const auto count = static_cast<std::uint8_t>(data[i++]);
            if (count < 128) {
                for (unsigned k = 0; k <= count && i < data.size(); ++k)
                    image.bits.push_back(static_cast<std::uint8_t>(data[i++]));
            } else if (i < data.size()) {
                image.bits.insert(image.bits.end(), 257u - count,
                                  static_cast<std::uint8_t>(data[i++]));
            }
        }
        image.bits.resize(want);
    }
    placeImage(image, 3600.0L / h, 3600.0L / v);
}

std::size_t PrintEngine::emulate(std::uint8_t b,
                                 const std::function<std::string_view(std::size_t)>& more) {
    using escp2::Effect;
    // One buffer for every command of the job: most are a few bytes, and a
    // fresh string for each would cost more than the command itself.
    std::string& window = window_;
    window.assign(1, static_cast<char>(b));
    window += more(kEmulationLookAhead);
    Emulation& e = job_.escp;
    escp2::Measured m = escp2::measure(window, e.imageModes);
    // Images and long lists: read on until the whole command is there, or
    // the job ends.
    while (m.command && m.incomplete) {
        const std::size_t want = std::max(m.size, 2 * window.size());
        const std::string_view tail = more(want - 1);
        if (tail.size() + 1 <= window.size()) break;
        window.resize(1);
        window += tail;
        m = escp2::measure(window, e.imageModes);
    }
    if (!m.command) return 0;
    // Cut off by the end of the job: what there is of it goes, as a printer drops it.
    if (m.incomplete) return window.size();

    // What the effects read: the command's bytes, never the job's after it.
    const std::string_view command = std::string_view(window).substr(0, m.size);
    const std::size_t own = m.own;
    const auto param = [&](std::size_t i) {
        const std::size_t at = own + i;
        return at < command.size() ? static_cast<std::uint8_t>(command[at]) : std::uint8_t{0};
    };
    const auto paramsFrom = [&](std::size_t i) {
        return command.substr(std::min(own + i, command.size()));
    };
    // Wide enough for the 32-bit values of ESC ( C and ESC ( c, made of two.
    const auto word = [&](std::size_t i) { return std::int64_t{param(i)} + 256 * param(i + 1); };
    // ESC ( commands: nL nH, then their data.
    const std::size_t dataLength = m.command->length == escp2::Length::Word ? word(0) : 0;
    // "1" and 1 both switch on.
    const bool on = (param(0) & 1) != 0;
    const auto spacing = [&](long double perInch) {
        // No spacing at all would stack every line: such a command is swallowed.
        if (param(0) != 0) lineHeight_ = nearestAs<std::uint16_t>(resy() * param(0) / perInch);
    };
    const int unit = e.unit != 0 ? e.unit : kDefaultUnit;
    const auto unitsDown = [&](std::int64_t n) { return units(n * unit, 3600, resy()); };
    // Where the current page ends for vertical moves.
    const std::int64_t pageEnd = e.formEnd != 0 ? e.formEnd : area_.bottom;

    // SO widens one line only: the line's end takes it back.
    const Effect effect = m.command->effect;
    if (e.wideOneLine && (effect == Effect::CarriageReturn || effect == Effect::FormFeed ||
                          effect == Effect::LineFeed || effect == Effect::VerticalTab)) {
        e.wideOneLine = false;
        applyFixed(Command::NoDouble);
        setpitch(job_.pitch);
    }

    switch (effect) {
    case Effect::CarriageReturn:
    case Effect::FormFeed:
    case Effect::Backspace: return 0;
    case Effect::LineFeed:
        // An Epson printer's line feed also returns to the left margin, so
        // jobs that end their lines with LF alone print no staircase; the
        // driver feeds the line.
        job_.x = area_.left;
        return 0;
    case Effect::Tab: {
        const std::int64_t cell = charAdvance_;
        if (cell <= 0) break;
        const std::int64_t column = (std::int64_t{job_.x} - area_.left) / cell;
        std::int64_t stop = (column / 8 + 1) * 8; // every 8 columns until ESC D
        if (e.tabsSet) {
            stop = -1;
            for (const std::uint8_t s : e.tabStops)
                if (s > column) {
                    stop = s;
                    break;
                }
            if (stop < 0) break; // past the last stop: the printer stays
        }
        job_.x = add32(area_.left, stop * cell);
        break;
    }
    case Effect::TabStops: {
        // Columns in rising order; one that does not rise ends the list.
        // ESC D NUL leaves no stop at all.
        e.tabStops.clear();
        e.tabsSet = true;
        for (std::size_t i = 0; own + i < m.size && param(i) != 0; ++i) {
            if (!e.tabStops.empty() && param(i) <= e.tabStops.back()) break;
            e.tabStops.push_back(param(i));
        }
        break;
    }
    case Effect::VerticalTabs: {
        // Lines at today's spacing, rising, kept as distances below the top margin.
        e.verticalStops.clear();
        for (std::size_t i = 0; own + i < m.size && param(i) != 0; ++i) {
            const std::int32_t stop = fit<std::int32_t>(std::int64_t{param(i)} * lineHeight_);
            if (!e.verticalStops.empty() && stop <= e.verticalStops.back()) break;
            e.verticalStops.push_back(stop);
        }
        break;
    }
    case Effect::VerticalTab: {
        job_.x = area_.left;
        if (e.verticalStops.empty()) { // no stops: a line feed
            job_.y = add32(job_.y, lineHeight_);
            break;
        }
        const std::int64_t below = std::int64_t{job_.y} - area_.top;
        const auto next = std::find_if(e.verticalStops.begin(), e.verticalStops.end(),
                                       [&](std::int32_t s) { return s > below; });
        if (next != e.verticalStops.end() && area_.top + std::int64_t{*next} < pageEnd) {
            job_.y = add32(area_.top, *next);
        } else {
            // No stop left on this page: on to the top of the next one.
            job_.y = area_.top;
            job_.pageStarted = false;
        }
        break;
    }
    case Effect::Bold:
    case Effect::DoubleStrike: applyFixed(Command::Bold); break;
    case Effect::NoBold:
    case Effect::NoDoubleStrike: applyFixed(Command::NoBold); break;
    case Effect::Italic: applyFixed(Command::Italic); break;
    case Effect::NoItalic: applyFixed(Command::NoItalic); break;
    case Effect::Underline: applyFixed(on ? Command::Underline : Command::NoUnderline); break;
    case Effect::ScoreLine: {
        // m d1 d2: line 1 under, 2 through, 3 over the characters; d2 0 ends it.
        if (dataLength < 3) break;
        const bool lineOn = param(4) != 0;
        if (param(3) == 1) applyFixed(lineOn ? Command::Underline : Command::NoUnderline);
        if (param(3) == 2) applyFixed(lineOn ? Command::Strikeout : Command::NoStrikeout);
        break; // an overscore has no font style to stand for it
    }
    case Effect::DoubleWidth: applyFixed(on ? Command::Double : Command::NoDouble); break;
    case Effect::WideOneLine:
        applyFixed(Command::Double);
        e.wideOneLine = true;
        break;
    case Effect::NoWideOneLine:
        applyFixed(Command::NoDouble);
        e.wideOneLine = false;
        break;
    case Effect::DoubleHeight:
        applyFixed(on ? Command::DoubleHeight : Command::NoDoubleHeight);
        break;
    case Effect::Condensed: applyFixed(Command::Condensed); break;
    case Effect::NoCondensed: applyFixed(Command::NoCondensed); break;
    case Effect::Pica: applyFixed(Command::Pica); break;
    case Effect::Elite: applyFixed(Command::Elite); break;
    case Effect::Fifteen: applyValue(Command::Pitch, 15); break;
    case Effect::PitchAndPoint: {
        // m: 360/m characters per inch (1 is proportional: the grid stays);
        // nL nH: the height in half points, 0 keeps it.
        const std::uint8_t pitch = param(0);
        if (pitch >= 5) job_.pitch = nearestAs<std::uint8_t>(360.0L / pitch);
        // Sizes beyond what a printer has (it scales 8 to 32 points) are
        // ignored as it ignores them, rather than making a font feet high.
        if (const int halfPoints = word(1); halfPoints != 0 && halfPoints <= 2 * kLargestPoints) {
            font_.size = (halfPoints + 1) / 2;
            const Cell cell = measurePanelFont();
            charHeight_ = cell.height;
            job_.savedHeight = 0;
        }
        break;
    }
    case Effect::MotionIndex:
        // On the grid the advance is a whole number of characters per inch.
        if (const int n = word(0); n > 0 && n <= 1080)
            job_.pitch = nearestAs<std::uint8_t>(360.0L / n);
        break;
    case Effect::MasterSelect: {
        const std::uint8_t n = param(0);
        applyFixed(n & 0x01 ? Command::Elite : Command::Pica);
        applyFixed(n & 0x04 ? Command::Condensed : Command::NoCondensed);
        applyFixed(n & 0x18 ? Command::Bold : Command::NoBold);
        applyFixed(n & 0x20 ? Command::Double : Command::NoDouble);
        applyFixed(n & 0x40 ? Command::Italic : Command::NoItalic);
        applyFixed(n & 0x80 ? Command::Underline : Command::NoUnderline);
        break;
    }
    case Effect::SuperSubScript: applyFixed(on ? Command::SubScript : Command::SuperScript); break;
    case Effect::NoSuperSubScript: applyFixed(Command::NoSuperSubScript); break;
    case Effect::Color:
        if (param(0) < escp2::kColors.size()) setFontColor(escp2::kColors[param(0)]);
        break;
    case Effect::Reset:
        // A printer's reset forgets the job's styles and colour too.
        applyFixed(Command::Reset);
        styleFromSettings();
        setFontColor(0);
        resetEmulation();
        break;
    case Effect::EighthInch: applyValue(Command::LPI, 8); break;
    case Effect::SixthInch: applyValue(Command::LPI, 6); break;
    case Effect::SevenSeventy: lineHeight_ = nearestAs<std::uint16_t>(resy() * 7 / 72.0L); break;
    case Effect::Spacing180: spacing(180); break;
    case Effect::Spacing360: spacing(360); break;
    case Effect::Spacing60: spacing(60); break;
    case Effect::FeedOnce180: job_.y = add32(job_.y, units(param(0), 180, resy())); break;
    case Effect::ReverseFeed:
        // Back up the page, never above its top margin.
        job_.y = std::max(area_.top, add32(job_.y, -std::int64_t{units(param(0), 216, resy())}));
        break;
    case Effect::SetFormLength: {
        // n lines at today's spacing, or NUL n inches; the form is the page.
        const std::int64_t length =
            param(0) != 0 ? std::int64_t{param(0)} * lineHeight_ : std::int64_t{param(1)} * resy();
        if (length == 0) break;
        e.formLength = fit<std::int32_t>(length);
        e.perforation = 0; // a new form has no skip over its perforation
        updateFormEnd();
        break;
    }
    case Effect::PageFormat: {
        if (m.command->bytes == "(C" && (dataLength == 2 || dataLength == 4)) {
            const std::int64_t length = dataLength == 2 ? word(2) : word(2) + 65536 * word(4);
            if (length == 0) break;
            e.formLength = unitsDown(length);
            e.bottomMargin = 0; // a new page length cancels the margins
            area_.top = e.originTop;
        } else if (m.command->bytes == "(c" && (dataLength == 4 || dataLength == 8)) {
            const std::int64_t top = dataLength == 4 ? word(2) : word(2) + 65536 * word(4);
            const std::int64_t bottom = dataLength == 4 ? word(4) : word(6) + 65536 * word(8);
            if (bottom <= top) break;
            area_.top = add32(e.originTop, unitsDown(top));
            e.bottomMargin = unitsDown(bottom);
            if (job_.y < area_.top) job_.y = area_.top;
        }
        updateFormEnd();
        break;
    }
    case Effect::SkipPerforation:
        e.perforation = fit<std::int32_t>(std::int64_t{param(0)} * lineHeight_);
        updateFormEnd();
        break;
    case Effect::NoSkipPerforation:
        e.perforation = 0;
        updateFormEnd();
        break;
    case Effect::LeftMargin:
    case Effect::RightMargin: {
        // Columns of today's pitch from the paper's printable left edge.
        const std::int64_t at = e.originLeft + std::int64_t{param(0)} * charAdvance_;
        if (effect == Effect::LeftMargin) {
            if (at >= area_.right) break;
            const bool lineStart = job_.x == area_.left;
            area_.left = fit<std::int32_t>(at);
            if (lineStart || job_.x < area_.left) job_.x = area_.left;
        } else {
            // A margin beyond the paper is the paper's edge: a job set up for
            // an 80-column printer keeps its whole width on narrower paper.
            if (param(0) == 0 || at <= area_.left) break;
            area_.right = fit<std::int32_t>(std::min<std::int64_t>(at, e.originRight));
        }
        break;
    }
    case Effect::Absolute: {
        // 1/60 inch from the left margin, or the unit of ESC ( U.
        const std::int64_t n = word(0);
        const std::int32_t x = e.unit != 0 ? units(n * e.unit, 3600, resx()) : units(n, 60, resx());
        if (area_.left + std::int64_t{x} < area_.right) job_.x = add32(area_.left, x);
        break;
    }
    case Effect::Relative: {
        const auto n = static_cast<std::int16_t>(word(0));
        const std::int32_t dx =
            e.unit != 0 ? units(std::int64_t{n} * e.unit, 3600, resx()) : units(n, 120, resx());
        const std::int64_t x = std::int64_t{job_.x} + dx;
        if (x >= area_.left && x < area_.right) job_.x = fit<std::int32_t>(x);
        break;
    }
    case Effect::AbsoluteV:
    case Effect::RelativeV: {
        if (dataLength != 2) break;
        const std::int64_t y =
            effect == Effect::AbsoluteV
                ? area_.top + std::int64_t{unitsDown(word(2))}
                : job_.y + std::int64_t{unitsDown(static_cast<std::int16_t>(word(2)))};
        // Beyond the page's end or above its top margin, the printer ignores it.
        if (y >= area_.top && y < pageEnd) job_.y = fit<std::int32_t>(y);
        break;
    }
    case Effect::Unit:
        if (dataLength == 1 && param(2) != 0) e.unit = param(2);
        break;
    case Effect::CharSpace: e.extraSpace = units(param(0), 180, resx()); break;
    case Effect::CharTable: {
        const std::uint8_t n = param(0) >= '0' ? param(0) - '0' : param(0);
        if (n < 4) {
            e.table = n;
            selectCharTable();
        }
        break;
    }
    case Effect::AssignTable: {
        if (dataLength != 3) break;
        const std::uint8_t slot = param(2) >= '0' ? param(2) - '0' : param(2);
        const auto known = std::find_if(kRegistered.begin(), kRegistered.end(), [&](auto& r) {
            return r.d2 == param(3) && r.d3 == param(4);
        });
        // A table the printer lacks leaves the slot as it was.
        if (slot >= 4 || known == kRegistered.end()) break;
        const std::string name = known->name;
        if (name != kItalicTable && !loadTable(name)) break;
        e.tables[slot] = name;
        selectCharTable();
        break;
    }
    case Effect::International:
        if (std::any_of(kNationalSets.begin(), kNationalSets.end(),
                        [&](const NationalSet& s) { return s.n == param(0); })) {
            e.international = param(0);
            selectCharTable();
        }
        break;
    case Effect::UpperControls:
        e.upperControls = false;
        selectCharTable();
        break;
    case Effect::UpperItalics:
        e.upperControls = true;
        selectCharTable();
        break;
    case Effect::PrintableControls:
        e.printableControls = on;
        selectCharTable();
        break;
    case Effect::BitImage:
    case Effect::BitImage60:
    case Effect::BitImage120:
    case Effect::BitImage120Fast:
    case Effect::BitImage240:
    case Effect::BitImage9Pin: {
        // ESC * and ESC ^ have their mode ahead of nL nH.
        const std::size_t ahead = m.command->count;
        const auto format = escp2::columnFormat(*m.command, param(0), e.imageModes);
        DotImage image = columnDots(paramsFrom(ahead + 2), format, word(ahead));
        if (image.columns > 0) placeImage(image, format.perInchX, format.perInchY);
        break;
    }
    case Effect::ReassignImage: {
        // A mode that doesn't print leaves the letter as it was, and the
        // length of its images with it.
        const std::size_t which = escp2::kImageLetters.find(static_cast<char>(param(0)));
        if (which != std::string_view::npos && escp2::bitImageFormat(param(1)).perInchX != 0)
            e.imageModes[which] = param(1);
        break;
    }
    case Effect::RasterImage: printRaster(command); break;
    default: break; // taken and skipped
    }
    setpitch(job_.pitch);
    return m.size;
}

} // namespace marlix
