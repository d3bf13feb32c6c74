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
            if (value < 0 || value >= std::int64_t(escp2::kColors.size())) rangeError();
            value = escp2::kColors[std::size_t(value)];
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

} // namespace marlix
