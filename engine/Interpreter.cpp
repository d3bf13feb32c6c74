// The escape-sequence interpreter: the active scheme's patterns, matched at a
// lead byte, change the print state.
#include "core/Arith.h"
#include "engine/EscP2.h"
#include "engine/PrintEngine.h"

#include <algorithm>
#include <array>
#include <limits>

namespace marlix {

namespace {

// Bytes an Epson command is first looked at with; longer ones are read whole.
constexpr std::size_t kEmulationLookAhead = 30;

// Binary colour indexes, as 0x00BBGGRR.
constexpr std::array<std::uint32_t, 7> kColors = {
    0x000000, // black
    0xFF00FF, // magenta
    0xFFFF00, // cyan
    0xEE82EE, // violet
    0x00FFFF, // yellow
    0x0000FF, // red
    0x008000, // green
};

bool numberCharacter(char c) {
    return c == '$' || c == '.' || c == '/' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') ||
           (c >= 'a' && c <= 'f');
}

// A decimal number, or "$" and hexadecimal digits, that fits 32 bits.
std::optional<std::int64_t> parseNumber(std::string_view text) {
    int base = 10;
    if (!text.empty() && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9'                 ? c - '0'
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                         : -1;
        if (digit < 0) return std::nullopt;
        v = v * base + digit;
        if (v > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    }
    if (base == 10 && v > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
    // Hexadecimal fills all 32 bits, as the system's integer conversion does.
    return base == 16 ? std::int64_t{static_cast<std::int32_t>(static_cast<std::uint32_t>(v))}
                      : std::int64_t(v);
}

} // namespace

std::vector<PrintEngine::Sequence> PrintEngine::prepare(const TSeqArray& table) {
    std::vector<Sequence> out;
    out.reserve(table.size());
    for (const SeqDef& def : table) {
        auto command = commandByName(def.Command);
        if (!command || def.Pattern.empty()) continue;
        Sequence s{def.Pattern, *command};
        if (takesValue(*command)) {
            const std::size_t underscore = s.pattern.find('_');
            const std::size_t zero = s.pattern.find('0');
            s.binary = underscore != std::string::npos;
            s.field = s.binary ? underscore : zero;
            s.readable = s.field != std::string::npos;
            if (s.readable && s.binary) {
                while (s.field + s.width < s.pattern.size() && s.pattern[s.field + s.width] == '_')
                    ++s.width;
            } else if (s.readable) {
                for (char c : s.pattern)
                    s.width += c == '0';
            }
        }
        out.push_back(std::move(s));
    }
    return out;
}

std::size_t PrintEngine::interpret(std::string_view window, const std::vector<Sequence>& table) {
    for (const Sequence& seq : table) {
        const std::string& p = seq.pattern;
        if (window.size() < p.size() || window[0] != p[0]) continue;
        const std::string_view s = window.substr(0, p.size());

        if (!takesValue(seq.command)) {
            if (s != p) continue;
            applyFixed(seq.command);
            setpitch(job_.pitch);
            return p.size();
        }
        // A value command reads its placeholders only as a parameter, never literally.
        if (!seq.readable) continue;
        // The job's bytes as the pattern should see them: placeholders where a
        // parameter may stand. In a textual pattern every byte that may belong to
        // a number turns into "0", so a fixed digit or hex letter there never matches.
        bool match = true;
        for (std::size_t i = 0; i < p.size() && match; ++i) {
            char seen = s[i];
            if (i >= seq.field) {
                if (seq.binary && p[i] == '_')
                    seen = '_';
                else if (!seq.binary && numberCharacter(seen))
                    seen = '0';
            }
            match = seen == p[i];
        }
        if (!match) continue;

        std::int64_t value = 0;
        if (seq.binary) {
            std::uint64_t v = 0;
            for (std::size_t k = seq.width; k-- > 0;) {
                if (v > (std::numeric_limits<std::uint64_t>::max() >> 8)) overflowError();
                v = (v << 8) | static_cast<std::uint8_t>(s[seq.field + k]);
            }
            if (v > std::uint64_t(std::numeric_limits<std::int64_t>::max())) overflowError();
            value = std::int64_t(v);
        } else {
            auto number = parseNumber(s.substr(seq.field, seq.width));
            if (!number) continue;
            value = *number;
        }
        if (seq.command == Command::Color && seq.binary) {
            if (value < 0 || value >= std::int64_t(kColors.size())) rangeError();
            value = kColors[std::size_t(value)];
        }
        if (seq.command == Command::HorizontalPosition && seq.binary) {
            if (__builtin_mul_overflow(value, 12, &value)) overflowError();
        }
        applyValue(seq.command, value);
        setpitch(job_.pitch);
        return p.size();
    }
    return 0;
}

void PrintEngine::requestOrientation(Orientation orientation) {
    job_.requested = orientation;
    if (orientation == device_.orientation()) return;
    // With a document open and nothing on its page yet, the next page start changes it.
    if (device_.printing() && !job_.pageStarted) return;
    if (job_.pageStarted) device_.endDoc();
    device_.setOrientation(orientation);
    computePageArea();
    job_.y = area_.top;
    job_.pageStarted = false;
}

void PrintEngine::applyFixed(Command command) {
    switch (command) {
    case Command::Bold: font_.bold = true; break;
    case Command::NoBold: font_.bold = false; break;
    case Command::Italic: font_.italic = true; break;
    case Command::NoItalic: font_.italic = false; break;
    case Command::Underline: font_.underline = true; break;
    case Command::NoUnderline: font_.underline = false; break;
    case Command::Strikeout: font_.strikeOut = true; break;
    case Command::NoStrikeout: font_.strikeOut = false; break;
    case Command::Double: doubleWidth_ = true; break;
    case Command::NoDouble: doubleWidth_ = false; break;
    case Command::Condensed: condensed_ = true; break;
    case Command::NoCondensed: condensed_ = false; break;
    case Command::Pica: job_.pitch = 10; break;
    case Command::Elite: job_.pitch = 12; break;
    case Command::CondPica: job_.pitch = 18; break;
    case Command::CondElite: job_.pitch = 20; break;
    case Command::SuperScript:
    case Command::SubScript:
        if (job_.savedHeight == 0) job_.savedHeight = charHeight_;
        charHeight_ = nearestAs<std::uint16_t>(job_.savedHeight * 2 / 3.0L);
        job_.baselineShift = command == Command::SubScript ? job_.savedHeight - charHeight_ : 0;
        break;
    case Command::NoSuperSubScript:
        if (job_.savedHeight != 0) {
            charHeight_ = fit<std::uint16_t>(job_.savedHeight);
            job_.savedHeight = 0;
        }
        job_.baselineShift = 0;
        break;
    case Command::DoubleHeight:
        if (job_.savedHeight == 0) job_.savedHeight = charHeight_;
        charHeight_ = fit<std::uint16_t>(std::int64_t{job_.savedHeight} * 2);
        break;
    case Command::NoDoubleHeight:
        if (job_.savedHeight != 0) {
            charHeight_ = fit<std::uint16_t>(job_.savedHeight);
            job_.savedHeight = 0;
        }
        break;
    case Command::Portrait: requestOrientation(Orientation::Portrait); break;
    case Command::Landscape: requestOrientation(Orientation::Landscape); break;
    case Command::Reset: resetPrintState(); break;
    default: break; // Ignore: swallowed
    }
}

void PrintEngine::applyValue(Command command, std::int64_t v) {
    switch (command) {
    case Command::Pitch:
        // A pitch of 0 has no cell: the sequence is swallowed.
        if (v != 0) job_.pitch = fit<std::uint8_t>(v);
        break;
    case Command::LPI:
        if (v != 0) lineHeight_ = nearestAs<std::uint16_t>(static_cast<long double>(resy()) / v);
        break;
    case Command::FontSize: {
        font_.size = fit<std::int32_t>(v);
        const Cell cell = measurePanelFont();
        job_.pitch = nearestAs<std::uint8_t>(static_cast<long double>(resx()) / cell.width);
        lineHeight_ = cell.height;
        charHeight_ = lineHeight_;
        break;
    }
    case Command::Color: setFontColor(static_cast<std::uint32_t>(v)); break;
    case Command::HorizontalPosition: {
        std::int64_t product;
        if (__builtin_mul_overflow(v, std::int64_t{resx()}, &product)) overflowError();
        job_.x = fit<std::int32_t>(product / 720);
        break;
    }
    case Command::VerticalPosition: {
        std::int64_t product;
        if (__builtin_mul_overflow(v, std::int64_t{resy()}, &product)) overflowError();
        job_.y = fit<std::int32_t>(product / 720);
        break;
    }
    default: break;
    }
}

std::size_t PrintEngine::emulate(std::uint8_t b,
                                 const std::function<std::string_view(std::size_t)>& more) {
    using escp2::Effect;
    std::string window(1, static_cast<char>(b));
    window += more(kEmulationLookAhead);
    escp2::Measured m = escp2::measure(window);
    // Images and long lists: read on until the whole command is there, or
    // the job ends.
    while (m.command && m.incomplete) {
        const std::size_t want = std::max(m.size, 2 * window.size());
        const std::string_view tail = more(want - 1);
        if (tail.size() + 1 <= window.size()) break;
        window.resize(1);
        window += tail;
        m = escp2::measure(window);
    }
    if (!m.command) return 0;
    // Cut off by the end of the job: what there is of it goes, as a printer drops it.
    if (m.incomplete) return window.size();

    const auto param = [&](std::size_t i) {
        const std::size_t at = 1 + m.command->bytes.size() + i;
        return at < window.size() ? static_cast<std::uint8_t>(window[at]) : std::uint8_t{0};
    };
    // "1" and 1 both switch on.
    const bool on = (param(0) & 1) != 0;
    const auto spacing = [&](long double perInch) {
        // No spacing at all would stack every line: such a command is swallowed.
        if (param(0) != 0) lineHeight_ = nearestAs<std::uint16_t>(resy() * param(0) / perInch);
    };
    switch (m.command->effect) {
    case Effect::CarriageReturn:
    case Effect::LineFeed:
    case Effect::FormFeed:
    case Effect::Backspace: return 0;
    case Effect::Tab: {
        const std::int64_t cell = charAdvance_;
        if (cell <= 0) break;
        const std::int64_t column = (std::int64_t{job_.x} - area_.left) / cell;
        std::int64_t stop = (column / 8 + 1) * 8; // every 8 columns until ESC D
        if (!job_.tabStops.empty()) {
            stop = -1;
            for (const std::uint8_t s : job_.tabStops)
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
        job_.tabStops.clear();
        for (std::size_t i = 0; 2 + i < m.size && param(i) != 0; ++i) {
            if (!job_.tabStops.empty() && param(i) <= job_.tabStops.back()) break;
            job_.tabStops.push_back(param(i));
        }
        break;
    }
    case Effect::VerticalTab: job_.y = add32(job_.y, lineHeight_); break;
    case Effect::Bold:
    case Effect::DoubleStrike: applyFixed(Command::Bold); break;
    case Effect::NoBold:
    case Effect::NoDoubleStrike: applyFixed(Command::NoBold); break;
    case Effect::Italic: applyFixed(Command::Italic); break;
    case Effect::NoItalic: applyFixed(Command::NoItalic); break;
    case Effect::Underline: applyFixed(on ? Command::Underline : Command::NoUnderline); break;
    case Effect::DoubleWidth: applyFixed(on ? Command::Double : Command::NoDouble); break;
    case Effect::WideOneLine: applyFixed(Command::Double); break;
    case Effect::NoWideOneLine: applyFixed(Command::NoDouble); break;
    case Effect::DoubleHeight:
        applyFixed(on ? Command::DoubleHeight : Command::NoDoubleHeight);
        break;
    case Effect::Condensed: applyFixed(Command::Condensed); break;
    case Effect::NoCondensed: applyFixed(Command::NoCondensed); break;
    case Effect::Pica: applyFixed(Command::Pica); break;
    case Effect::Elite: applyFixed(Command::Elite); break;
    case Effect::Fifteen: applyValue(Command::Pitch, 15); break;
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
        if (param(0) < kColors.size()) setFontColor(kColors[param(0)]);
        break;
    case Effect::Reset:
        applyFixed(Command::Reset);
        job_.tabStops.clear();
        break;
    case Effect::EighthInch: applyValue(Command::LPI, 8); break;
    case Effect::SixthInch: applyValue(Command::LPI, 6); break;
    case Effect::SevenSeventy: lineHeight_ = nearestAs<std::uint16_t>(resy() * 7 / 72.0L); break;
    case Effect::Spacing180: spacing(180); break;
    case Effect::Spacing360: spacing(360); break;
    case Effect::Spacing60: spacing(60); break;
    case Effect::FeedOnce180:
        job_.y = add32(job_.y, nearestAs<std::int32_t>(resy() * param(0) / 180.0L));
        break;
    case Effect::Absolute:
        job_.x = add32(area_.left,
                       nearestAs<std::int32_t>(resx() * (param(0) + 256 * param(1)) / 60.0L));
        break;
    case Effect::Relative: {
        const auto units = static_cast<std::int16_t>(param(0) | (param(1) << 8));
        job_.x = add32(job_.x, nearestAs<std::int32_t>(resx() * units / 120.0L));
        break;
    }
    default: break; // taken, not yet acted on
    }
    setpitch(job_.pitch);
    return m.size;
}

} // namespace marlix
