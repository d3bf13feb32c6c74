// The settings a job is printed with: the working copy that the window's
// controls or the command line fill from the settings store.
#pragma once

#include <cstdint>
#include <string>

namespace marlix {

struct PrintSettings {
    std::int32_t topMargin = 0; // millimetres, from the paper's edges
    std::int32_t bottomMargin = 0;
    std::int32_t leftMargin = 0;
    std::int32_t rightMargin = 0;
    std::string fontName = "Courier New";
    std::int32_t fontSize = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::int32_t cpi = 10;
    std::int32_t lpi = 6;
    bool defaultFont = true; // the cell follows the font size, not CPI and LPI
    bool landscape = false;
    bool lineWrap = true;
    bool pageFeed = true;
};

} // namespace marlix
