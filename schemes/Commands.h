// The 31 sequence commands in their fixed order, with the patterns of the
// three default schemes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace marlix {

enum class Command : std::uint8_t {
    Bold,
    NoBold,
    Italic,
    NoItalic,
    Underline,
    NoUnderline,
    Strikeout,
    NoStrikeout,
    Double,
    NoDouble,
    Pica,
    Elite,
    Condensed,
    NoCondensed,
    CondPica,
    CondElite,
    SuperScript,
    SubScript,
    NoSuperSubScript,
    DoubleHeight,
    NoDoubleHeight,
    HorizontalPosition,
    VerticalPosition,
    Portrait,
    Landscape,
    FontSize,
    Pitch,
    LPI,
    Color,
    Reset,
    Ignore,
};

inline constexpr std::array<std::string_view, 3> kDefaultSchemes = {"Default", "Epson Matrix",
                                                                    "HP PCL"};

struct CommandInfo {
    Command command;
    std::string_view name;                    // value name in a scheme key
    std::string_view display;                 // shown in the scheme editor
    std::array<std::string_view, 3> defaults; // patterns of the default schemes
};

extern const std::array<CommandInfo, 31> kCommands;

// The six commands whose patterns carry a value through "0" or "_" placeholders.
bool takesValue(Command c);

std::optional<Command> commandByName(std::string_view name);

} // namespace marlix
