// Every value of the settings store in one table: its name, type, default,
// the range it is kept in, and what stands in for a value that is absent or
// unusable. The window, the service and the command line all read and write
// the store through it, so the same file prints the same way however Marlix
// was started; the window only maps its controls to the values.
#pragma once

#include "core/Registry.h"
#include "engine/PrintSettings.h"

#include <array>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace marlix {

class PrintEngine;

struct Settings {
    std::int32_t timeOut = 3; // seconds the job file must stay unchanged
    bool autoPrint = true;
    std::string spool; // the job file; see defaultJobFile()
    bool landscape = false;
    bool lineWrap = true;
    bool pageFeed = true;
    bool monoSpace = true;
    std::int32_t topMargin = 0; // millimetres; a first start takes the printer's border
    std::int32_t leftMargin = 0;
    std::string fontName = "Courier New";
    std::int32_t fontSize = 10;
    bool fontBold = false;
    bool fontItalic = false;
    bool fontUnderline = false;
    bool fontStrikeout = false;
    bool minimize = true;
    bool formFeed = false; // a form feed near the job's end ends the job
    std::int32_t end = 0;  // no meaning: kept as it was read
    std::string language = "English";
    std::string codePage = "866";
    bool capture = true;
    std::int32_t bottomMargin = 0;
    std::int32_t rightMargin = 0;
    bool defaultFont = true; // the cell follows the font size, not CPI and LPI
    std::int32_t lpi = 6;    // a first start takes both from the font
    std::int32_t cpi = 10;
    std::string printer; // empty: the system's default
    // Set by hand or by an installer, never written by the program.
    std::string pdfFolder; // empty: the user's documents folder
    std::int32_t capturePort = 9100;

    // The layout values as the engine takes them.
    PrintSettings printSettings() const;
};

using SettingValue = std::variant<std::int32_t, bool, std::string>;

struct SettingInfo {
    enum class Bad { Clamp, Absent }; // what a number out of range does
    std::string_view name;
    std::variant<std::int32_t Settings::*, bool Settings::*, std::string Settings::*> field;
    std::int32_t lowest = INT32_MIN;
    std::int32_t highest = INT32_MAX;
    Bad outOfRange = Bad::Clamp;
    // A text that counts as no value at all, as an empty one does.
    std::string_view placeholder{};
    bool saved = true;
};

// In the order of saving: "Printer" last, then the values never saved.
extern const std::array<SettingInfo, 29> kSettings;

// What was stored for each value of kSettings when it was read: its type
// already checked, ranges and fallbacks not yet applied; nothing for a value
// that was absent or of another type.
using StoredValues = std::array<std::optional<SettingValue>, 29>;

// The job file of a first start: "prnspl" in the home folder ("c:\prnspl"
// on Windows).
std::string defaultJobFile();

// The settings of a first start on the engine's printer: margins from its
// unprintable border, CPI and LPI from the font at its size.
Settings firstStartSettings(PrintEngine& engine);

// The defaults overlaid with what the key holds (key may be null: no
// values); CPI and LPI that are not stored follow the stored font. `stored`,
// if given, receives what was there.
Settings readSettings(const RegistryKey* key, PrintEngine& engine, StoredValues* stored = nullptr);

// Writes the values that this program changed since it read them (`stored`
// holds what was there then), and every value the key does not have, so
// that values edited by hand meanwhile survive. Without `stored` every value
// is written. `stored` then holds what was written.
void writeSettings(RegistryKey& key, const Settings& settings, StoredValues* stored = nullptr);

// The port the capture listens on (0: any free one); fails with "'N' is not
// a port number" when the setting holds no port.
std::uint16_t capturePort(const Settings& settings);

} // namespace marlix
