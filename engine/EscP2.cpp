#include "engine/EscP2.h"

#include <array>

namespace marlix::escp2 {

namespace {

constexpr char ESC = 0x1b;

using enum Length;
using enum Effect;

constexpr Command ctl(std::string_view b, Effect e) {
    return {b, false, Fixed, 0, e};
}
constexpr Command esc(std::string_view b, Length l, std::uint8_t n, Effect e) {
    return {b, true, l, n, e};
}
constexpr Command esc(std::string_view b, std::uint8_t n, Effect e) {
    return {b, true, Fixed, n, e};
}

// clang-format off
constexpr std::array kCommands = {
    ctl("\x07", Skip), ctl("\x08", Backspace), ctl("\x09", Tab), ctl("\x0a", LineFeed),
    ctl("\x0b", VerticalTab), ctl("\x0c", FormFeed), ctl("\x0d", CarriageReturn),
    ctl("\x0e", WideOneLine), ctl("\x0f", Condensed), ctl("\x11", Skip),
    ctl("\x12", NoCondensed), ctl("\x13", Skip), ctl("\x14", NoWideOneLine),
    ctl("\x18", Cancel), ctl("\x7f", Delete),

    esc("\x0e", 0, WideOneLine), esc("\x0f", 0, Condensed),
    esc("\x19", 1, Skip),           // cut-sheet feeder
    esc(" ", 1, CharSpace),  esc("!", 1, MasterSelect), esc("#", 0, Skip),
    esc("$", 2, Absolute),   esc("%", 1, Skip),         esc("&", UserChars, 0, Skip),
    esc("*", Columns, 1, BitImage), esc("+", 1, Spacing360), esc("-", 1, Underline),
    esc("/", 1, Skip),       esc("0", 0, EighthInch),   esc("1", 0, SevenSeventy),
    esc("2", 0, SixthInch),  esc("3", 1, Spacing180),   esc("4", 0, Italic),
    esc("5", 0, NoItalic),   esc("6", 0, UpperControls), esc("7", 0, UpperItalics),
    esc("8", 0, Skip),       esc("9", 0, Skip),         esc(":", 3, Skip),
    esc("<", 0, Skip),       esc("=", 0, Skip),         esc(">", 0, Skip),
    esc("?", 2, ReassignImage), esc("@", 0, Reset),     esc("A", 1, Spacing60),
    esc("B", UntilNul, 16, VerticalTabs), esc("C", FormLength, 0, SetFormLength),
    esc("D", UntilNul, 32, TabStops), esc("E", 0, Bold), esc("F", 0, NoBold),
    esc("G", 0, DoubleStrike), esc("H", 0, NoDoubleStrike), esc("I", 1, PrintableControls),
    esc("J", 1, FeedOnce180), esc("K", Columns, 0, BitImage60),
    esc("L", Columns, 0, BitImage120), esc("M", 0, Elite), esc("N", 1, SkipPerforation),
    esc("O", 0, NoSkipPerforation), esc("P", 0, Pica), esc("Q", 1, RightMargin),
    esc("R", 1, International), esc("S", 1, SuperSubScript), esc("T", 0, NoSuperSubScript),
    esc("U", 1, Skip),       esc("W", 1, DoubleWidth),  esc("X", 3, PitchAndPoint),
    esc("Y", Columns, 0, BitImage120Fast), esc("Z", Columns, 0, BitImage240),
    esc("\\", 2, Relative),  esc("^", Columns, 1, BitImage9Pin),
    esc("a", 1, Skip),       esc("b", Channel, 16, Skip), esc("c", 2, MotionIndex),
    esc("e", 2, Skip),       esc("f", 2, Skip),         esc("g", 0, Fifteen),
    esc("i", 1, Skip),       esc("j", 1, ReverseFeed),         esc("k", 1, Skip),
    esc("l", 1, LeftMargin), esc("m", 1, Skip),         esc("p", 1, Proportional),
    esc("q", 1, Skip),       esc("r", 1, Color),        esc("s", 1, Skip),
    esc("t", 1, CharTable),  esc("w", 1, DoubleHeight), esc("x", 1, Skip),
    esc(".", Raster, 0, RasterImage),

    esc("(-", Word, 0, ScoreLine), esc("(C", Word, 0, PageFormat),
    esc("(c", Word, 0, PageFormat), esc("(U", Word, 0, Unit),
    esc("(V", Word, 0, AbsoluteV), esc("(v", Word, 0, RelativeV),
    esc("(t", Word, 0, AssignTable),
};
// clang-format on

// The rest of the ESC ( family share its length form; an ESC with a letter
// no printer knows is the two bytes, as the printers drop it.
constexpr Command kOtherParenthesis = esc("(", Word, 0, Skip);
constexpr Command kUnknownEscape = esc("", 0, Skip);

std::size_t word(std::string_view b, std::size_t at) {
    return static_cast<std::uint8_t>(b[at]) + 256u * static_cast<std::uint8_t>(b[at + 1]);
}

// Bytes of run-length compressed rows until `want` bytes of dots are made:
// a count below 128 copies count + 1 bytes, above it repeats the next byte
// 257 - count times. 0 while the bytes end first.
std::size_t compressedSize(std::string_view b, std::size_t at, std::size_t want) {
    std::size_t made = 0, i = at;
    while (made < want) {
        if (i >= b.size()) return 0;
        const auto count = static_cast<std::uint8_t>(b[i]);
        if (count < 128) {
            made += count + 1u;
            i += 1u + count + 1u;
        } else {
            made += 257u - count;
            i += 2;
        }
    }
    return i <= b.size() ? i : 0;
}

// A list of at most `most` bytes and its NUL from `at` on.
std::optional<std::size_t> untilNul(std::string_view b, std::size_t at, std::size_t most) {
    const std::size_t left = b.size() - at;
    for (std::size_t i = 0; i < left && i <= most; ++i)
        if (b[at + i] == 0) return i + 1;
    // A list without its end stops at its longest.
    if (left > most) return most + 1;
    return std::nullopt;
}

// The data's size after a command's own bytes end at `at`; nullopt while the
// bytes end before it can be known.
std::optional<std::size_t> dataSize(const Command& c, std::string_view b, std::size_t at,
                                    const ImageModes& modes) {
    const std::size_t left = b.size() - at;
    switch (c.length) {
    case Fixed: return c.count;
    case Word:
        if (left < 2) return std::nullopt;
        return 2 + word(b, at);
    case UntilNul: return untilNul(b, at, c.count);
    case Channel: {
        // Channel 0 is a NUL too: it does not end the list.
        if (left < 1) return std::nullopt;
        const auto stops = untilNul(b, at + 1, c.count);
        if (!stops) return std::nullopt;
        return 1 + *stops;
    }
    case FormLength:
        if (left < 1) return std::nullopt;
        return b[at] == 0 ? 2 : 1;
    case Columns: {
        if (left < c.count + 2u) return std::nullopt;
        const ColumnFormat format = columnFormat(c, static_cast<std::uint8_t>(b[at]), modes);
        return c.count + 2 + format.bytes * word(b, at + c.count);
    }
    case Raster: {
        if (left < 6) return std::nullopt;
        const auto mode = static_cast<std::uint8_t>(b[at]);
        const auto rows = static_cast<std::uint8_t>(b[at + 3]);
        const std::size_t want = rows * ((word(b, at + 4) + 7) / 8);
        if (mode == 1) {
            const std::size_t end = compressedSize(b, at + 6, want);
            if (end == 0) return std::nullopt;
            return end - at;
        }
        return 6 + (mode == 0 ? want : 0);
    }
    case UserChars: {
        if (left < 3) return std::nullopt;
        const auto first = static_cast<std::uint8_t>(b[at + 1]);
        const auto last = static_cast<std::uint8_t>(b[at + 2]);
        std::size_t i = at + 3;
        for (int ch = first; ch <= last; ++ch) {
            if (b.size() < i + 3) return std::nullopt;
            i += 3 + 3u * static_cast<std::uint8_t>(b[i + 1]);
        }
        return i - at;
    }
    }
    return std::nullopt;
}

} // namespace

std::span<const Command> commands() {
    return kCommands;
}

bool startsCommand(std::uint8_t b) {
    // Asked for every byte of a job: the table is looked at once.
    static const std::array<bool, 256> starts = [] {
        std::array<bool, 256> t{};
        t[static_cast<std::uint8_t>(ESC)] = true;
        for (const Command& c : kCommands)
            if (!c.escape) t[static_cast<std::uint8_t>(c.bytes[0])] = true;
        return t;
    }();
    return starts[b];
}

ColumnFormat bitImageFormat(std::uint8_t mode) {
    // Dots across per inch; 34 to 37 are measured as 24-dot columns but
    // print at no density.
    int across = 0;
    switch (mode) {
    case 0:
    case 32: across = 60; break;
    case 1:
    case 2:
    case 33: across = 120; break;
    case 3: across = 240; break;
    case 4: across = 80; break;
    case 5: across = 72; break;
    case 6:
    case 38: across = 90; break;
    case 7: across = 144; break;
    case 39:
    case 71: across = 180; break;
    case 40:
    case 72:
    case 73: across = 360; break;
    default: break;
    }
    if (mode <= 7) return {1, 8, across, 60};
    if (mode >= 32 && mode <= 40) return {3, 24, across, 180};
    if (mode >= 71 && mode <= 73) return {6, 48, across, 360};
    return {};
}

ColumnFormat columnFormat(const Command& c, std::uint8_t first, const ImageModes& modes) {
    switch (c.effect) {
    case BitImage: return bitImageFormat(first);
    case BitImage9Pin:
        // Two bytes a column whatever m is, the ninth dot in the second
        // byte's high bit; only 0 and 1 are densities.
        return {2, 9, first == 0 ? 60 : first == 1 ? 120 : 0, 72};
    case BitImage60:
    case BitImage120:
    case BitImage120Fast:
    case BitImage240: return bitImageFormat(modes[kImageLetters.find(c.bytes[0])]);
    default: return {};
    }
}

Measured measure(std::string_view bytes, const ImageModes& modes) {
    if (bytes.empty()) return {};
    if (bytes[0] != ESC) {
        static const auto controls = [] {
            std::array<const Command*, 256> t{};
            for (const Command& c : kCommands)
                if (!c.escape) t[static_cast<std::uint8_t>(c.bytes[0])] = &c;
            return t;
        }();
        const Command* c = controls[static_cast<std::uint8_t>(bytes[0])];
        return c ? Measured{c, 1, false, 1} : Measured{};
    }
    if (bytes.size() < 2) return {nullptr, 0, true};
    const Command* found = &kUnknownEscape;
    std::size_t own = 2;
    if (bytes[1] == '(') {
        if (bytes.size() < 3) return {nullptr, 0, true};
        found = &kOtherParenthesis;
        own = 3;
    }
    // Looked up, not searched: a dense job has a command every few bytes.
    static const auto index = [] {
        std::array<std::array<const Command*, 256>, 2> t{}; // ESC x, ESC ( x
        for (const Command& c : kCommands)
            if (c.escape) {
                const bool paren = c.bytes.size() == 2;
                auto& slot = t[paren][static_cast<std::uint8_t>(c.bytes[paren ? 1 : 0])];
                if (!slot) slot = &c;
            }
        return t;
    }();
    if (const Command* c = index[own == 3][static_cast<std::uint8_t>(bytes[own - 1])]) found = c;
    const auto data = dataSize(*found, bytes, own, modes);
    if (!data) return {found, 0, true, own};
    return {found, own + *data, own + *data > bytes.size(), own};
}

} // namespace marlix::escp2
