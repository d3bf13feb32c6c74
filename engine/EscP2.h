// The Epson ESC/P and ESC/P2 command set as data: one row per command with
// its bytes, how its length is found and what it does. Commands whose length
// depends on their data (bit images, tab lists, the ESC ( family) are
// measured from the bytes themselves, so no byte of a command is ever taken
// for text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace marlix::escp2 {

// How the bytes after the command's own bytes are counted.
enum class Length : std::uint8_t {
    Fixed,      // `count` parameter bytes
    Word,       // nL nH, then that many bytes (the ESC ( family)
    UntilNul,   // parameter bytes up to a NUL, at most `count` of them
    Channel,    // ESC b: a channel, then stops up to a NUL, at most `count` of them
    FormLength, // ESC C: n, or NUL n
    Columns,    // `count` bytes ahead of nL nH, then nL + 256 nH columns (columnFormat)
    Raster,     // ESC .: c v h m nL nH, then m rows of nL + 256 nH dots
    UserChars,  // ESC &: NUL n m, then per character a0 a1 a2 and its columns
};

enum class Effect : std::uint8_t {
    Skip, // taken and dropped: paper handling, speed, direction, typeface, ...
    Bold,
    NoBold,
    DoubleStrike,
    NoDoubleStrike,
    Italic,
    NoItalic,
    Underline,      // ESC - n
    ScoreLine,      // ESC ( - : underline, strike-out, overscore
    MasterSelect,   // ESC ! n
    DoubleWidth,    // ESC W n
    DoubleHeight,   // ESC w n
    WideOneLine,    // SO, ESC SO
    NoWideOneLine,  // DC4
    Condensed,      // SI, ESC SI
    NoCondensed,    // DC2
    SuperSubScript, // ESC S n
    NoSuperSubScript,
    Pica,
    Elite,
    Fifteen,       // ESC g
    PitchAndPoint, // ESC X m nL nH
    MotionIndex,   // ESC c nL nH: the cell's advance in 1/360 inch
    Color,         // ESC r n
    Proportional,  // ESC p n: the grid stays
    EighthInch,    // ESC 0
    SevenSeventy,  // ESC 1: 7/72 inch
    SixthInch,     // ESC 2
    Spacing180,    // ESC 3 n
    Spacing360,    // ESC + n
    Spacing60,     // ESC A n
    FeedOnce180,   // ESC J n
    ReverseFeed,   // ESC j n, 1/216 inch up
    SetFormLength, // ESC C n / ESC C NUL n
    PageFormat,    // ESC ( C, ESC ( c
    SkipPerforation,
    NoSkipPerforation,
    LeftMargin,        // ESC l n
    RightMargin,       // ESC Q n
    Absolute,          // ESC $ nL nH
    Relative,          // ESC \ nL nH
    AbsoluteV,         // ESC ( V
    RelativeV,         // ESC ( v
    Unit,              // ESC ( U
    TabStops,          // ESC D
    VerticalTabs,      // ESC B
    CharSpace,         // ESC SP n
    Reset,             // ESC @
    CharTable,         // ESC t n
    AssignTable,       // ESC ( t
    International,     // ESC R n
    UpperControls,     // ESC 6
    UpperItalics,      // ESC 7
    PrintableControls, // ESC I n
    BitImage,          // ESC *
    BitImage60,        // ESC K
    BitImage120,       // ESC L
    BitImage120Fast,   // ESC Y
    BitImage240,       // ESC Z
    BitImage9Pin,      // ESC ^
    ReassignImage,     // ESC ?
    RasterImage,       // ESC .
    Backspace,
    Tab,
    VerticalTab,
    LineFeed,
    FormFeed,
    CarriageReturn,
    Cancel, // CAN: the line so far is dropped
    Delete, // DEL: the last character is dropped
};

// The colours of ESC r n, as 0x00BBGGRR; schemes' binary colour indexes too.
inline constexpr std::array<std::uint32_t, 7> kColors = {
    0x000000, // black
    0xFF00FF, // magenta
    0xFFFF00, // cyan
    0xEE82EE, // violet
    0x00FFFF, // yellow
    0x0000FF, // red
    0x008000, // green
};

struct Command {
    std::string_view bytes; // after ESC: "E", "(C"; a control code on its own
    bool escape;            // begins with ESC
    Length length;
    std::uint8_t count; // Fixed: parameters; UntilNul: most; Columns: bytes ahead of nL nH
    Effect effect;
};

// Every command, control codes first.
std::span<const Command> commands();

// The ESC * modes that ESC K, L, Y and Z stand for; ESC ? changes them, and
// with them how many bytes those commands take.
using ImageModes = std::array<std::uint8_t, 4>;
inline constexpr std::string_view kImageLetters = "KLYZ";
inline constexpr ImageModes kDefaultImageModes = {0, 1, 2, 3};

// What stands at the start of bytes while ESC K, L, Y and Z stand for modes.
struct Measured {
    const Command* command = nullptr; // null: not a command (text)
    std::size_t size = 0;             // the whole command, its data included
    bool incomplete = false;          // the bytes end inside the command
    std::size_t own = 0;              // the command's own bytes; its parameters follow
};
Measured measure(std::string_view bytes, const ImageModes& modes = kDefaultImageModes);

// ESC, or a control code the printers act on.
bool startsCommand(std::uint8_t b);

// The columns of a bit image, each `bytes` long with the top dot in the high
// bit of its first byte.
struct ColumnFormat {
    std::size_t bytes = 0; // 0: a mode whose data can't be measured; only nL nH go
    int dots = 0;
    int perInchX = 0; // 0: a density the printers don't define, skipped unprinted
    int perInchY = 0;
};
// ESC * mode m; ESC ? gives ESC K, L, Y and Z only modes that print.
ColumnFormat bitImageFormat(std::uint8_t mode);
// The columns of an image command (Length::Columns) whose first parameter is
// `first`. Measuring and drawing both ask here, so the bytes one counts are
// the bytes the other reads.
ColumnFormat columnFormat(const Command& c, std::uint8_t first, const ImageModes& modes);

} // namespace marlix::escp2
