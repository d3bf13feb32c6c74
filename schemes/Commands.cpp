#include "schemes/Commands.h"

namespace marlix {

// clang-format off
const std::array<CommandInfo, 31> kCommands = {{
    {Command::Bold, "Bold", "Bold", {"[#27]B", "[#27]E||[#27]G", "[#27](s3B||[#27](s1B"}},
    {Command::NoBold, "NoBold", "No Bold", {"[#27]b", "[#27]F||[#27]H", "[#27](s0B"}},
    {Command::Italic, "Italic", "Italic", {"[#27]I", "[#27]4", "[#27](s1S"}},
    {Command::NoItalic, "NoItalic", "No Italic", {"[#27]i", "[#27]5", "[#27](s0S"}},
    {Command::Underline, "Underline", "Underline",
     {"[#27]U", "[#27]-1||[#27]-[#01]", "[#27]&d0D||[#27]&d1D||[#27]&d2D||[#27]&d3D||[#27]&d4D"}},
    {Command::NoUnderline, "NoUnderline", "No Underline", {"[#27]u", "[#27]-0||[#27]-[#00]", "[#27]&d@"}},
    {Command::Strikeout, "Strikeout", "Strikeout", {"[#27]S", "", ""}},
    {Command::NoStrikeout, "NoStrikeout", "No Strikeout", {"[#27]s", "", ""}},
    {Command::Double, "Double", "Double Width", {"", "[#14]||[#27][#14]||[#27]W1||[#27]W[#01]", ""}},
    {Command::NoDouble, "NoDouble", "Normal Width", {"", "[#20]||[#27]W0||[#27]W[#00]", ""}},
    {Command::Pica, "Pica", "Pica (10 CPI)", {"[#27]P10", "[#27]P", "[#27]&k0S"}},
    {Command::Elite, "Elite", "Elite (12 CPI)", {"[#27]P12", "[#27]M", "[#27]&k4S"}},
    {Command::Condensed, "Condensed", "Condensed", {"", "[#15]||[#27][#15]", ""}},
    {Command::NoCondensed, "NoCondensed", "No Condensed", {"", "[#18]", ""}},
    {Command::CondPica, "CondPica", "Cond. Pica (17 CPI)", {"[#27]P17", "[#27]g", "[#27]&k2S"}},
    {Command::CondElite, "CondElite", "Cond. Elite (20 CPI)", {"[#27]P20", "", ""}},
    {Command::SuperScript, "SuperScript", "Superscript", {"", "[#27]S0||[#27]S[#00]", "[#27](s1U"}},
    {Command::SubScript, "SubScript", "Subscript", {"", "[#27]S1||[#27]S[#01]", "[#27](s-1U"}},
    {Command::NoSuperSubScript, "NoSuperSubScript", "No Super/Subscript", {"", "[#27]T", "[#27](s0U"}},
    {Command::DoubleHeight, "DoubleHeight", "Double Height", {"", "[#27]w1||[#27]w[#01]", ""}},
    {Command::NoDoubleHeight, "NoDoubleHeight", "No Double Height", {"", "[#27]w0||[#27]w[#00]", ""}},
    {Command::HorizontalPosition, "HorizontalPosition", "Horizontal Position",
     {"[#27]X0000", "[#27]$__", "[#27]&a00000H||[#27]&a0000H||[#27]&a000H||[#27]&a00H"}},
    {Command::VerticalPosition, "VerticalPosition", "Vertical Position",
     {"[#27]Y0000", "[#27](V[#2][#0]__", "[#27]&a00000V||[#27]&a0000V||[#27]&a000V||[#27]&a00V"}},
    {Command::Portrait, "Portrait", "Portrait Page", {"[#27]OP", "", "[#27]&l0O"}},
    {Command::Landscape, "Landscape", "Landscape Page", {"[#27]OL", "", "[#27]&l1O"}},
    {Command::FontSize, "FontSize", "Font Size", {"[#27]F00", "", ""}},
    {Command::Pitch, "Pitch", "Pitch 00", {"[#27]P00", "", "[#27](s0H||[#27](s00H"}},
    {Command::LPI, "LPI", "LPI 00", {"[#27]L00", "", "[#27]&l0D||[#27]&l00D"}},
    {Command::Color, "Color", "Color", {"[#27]C0000000", "[#27]r_", ""}},
    {Command::Reset, "Reset", "Reset", {"[#27]R", "[#27]@", "[#27]E"}},
    {Command::Ignore, "Ignore", "Ignore",
     {"", "", "[#27]&k1E||[#27]&l1L||[#27]&l0L||[#27](10U||[#27](s0P||[#27](s1P||[#27](s+1U||"
              "[#27](s3T||[#27](s4101T||[#27](s85T"}},
}};
// clang-format on

bool takesValue(Command c) {
    switch (c) {
    case Command::FontSize:
    case Command::Pitch:
    case Command::LPI:
    case Command::Color:
    case Command::HorizontalPosition:
    case Command::VerticalPosition: return true;
    default: return false;
    }
}

std::optional<Command> commandByName(std::string_view name) {
    for (const CommandInfo& c : kCommands)
        if (c.name == name) return c.command;
    return std::nullopt;
}

} // namespace marlix
