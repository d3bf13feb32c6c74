// Every value name of the settings store, once, in the order the program
// saves them ("Printer" is saved last).
#pragma once

#include <string_view>

namespace marlix::setting {

inline constexpr std::string_view TimeOut = "TimeOut";
inline constexpr std::string_view AutoPrint = "AutoPrint";
inline constexpr std::string_view Spool = "Spool";
inline constexpr std::string_view Orientation = "Orientation";
inline constexpr std::string_view LineWrap = "LineWrap";
inline constexpr std::string_view PageFeed = "PageFeed";
inline constexpr std::string_view MonoSpace = "MonoSpace";
inline constexpr std::string_view TopMargin = "TopMargin";
inline constexpr std::string_view LeftMargin = "LeftMargin";
inline constexpr std::string_view FontName = "FontName";
inline constexpr std::string_view FontSize = "FontSize";
inline constexpr std::string_view FontBold = "FontBold";
inline constexpr std::string_view FontItalic = "FontItalic";
inline constexpr std::string_view FontUnderline = "FontUnderline";
inline constexpr std::string_view FontStrikeout = "FontStrikeout";
inline constexpr std::string_view Minimize = "Minimize";
inline constexpr std::string_view FormFeed = "FormFeed";
inline constexpr std::string_view End = "End";
inline constexpr std::string_view Language = "Language";
inline constexpr std::string_view CodePage = "CodePage";
inline constexpr std::string_view Capture = "Capture";
inline constexpr std::string_view BottomMargin = "BottomMargin";
inline constexpr std::string_view RightMargin = "RightMargin";
inline constexpr std::string_view DefaultFont = "DefaultFont";
inline constexpr std::string_view LPI = "LPI";
inline constexpr std::string_view CPI = "CPI";
inline constexpr std::string_view Printer = "Printer";

// Not one of the window's settings: where the "Print to PDF" printer writes.
inline constexpr std::string_view PdfFolder = "PdfFolder";
// Nor is the port the capture listens on (default 9100).
inline constexpr std::string_view CapturePort = "CapturePort";

} // namespace marlix::setting
