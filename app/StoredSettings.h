// Reading the print settings out of the settings store, with the defaults a
// first start has.
#pragma once

#include "core/Registry.h"
#include "engine/PrintEngine.h"

#include <QString>
#include <cstdint>
#include <string>

namespace marlix {

// Values of the settings key that choose the printer rather than the layout.
struct PrinterChoice {
    std::string printer;   // empty: the system's default
    std::string pdfFolder; // empty: the user's documents folder
};

// The settings as a first start has them on the engine's printer: margins
// from its unprintable border, CPI and LPI from the font at 10 points.
PrintSettings defaultPrintSettings(PrintEngine& engine,
                                   const std::string& fontName = PrintSettings{}.fontName);

// Defaults overlaid with what the key holds (key may be null: no values).
PrintSettings readPrintSettings(const RegistryKey* key, PrintEngine& engine);

PrinterChoice readPrinterChoice(const RegistryKey* key);

// The stored printer when it is installed, else the system's default.
QString currentPrinter(const PrinterChoice& choice);

// The code page name ("866" unless stored); its file is the name + ".cp".
std::string readCodePage(const RegistryKey* key);

// The port the capture listens on: 9100 unless stored; 0 lets the system
// choose. A stored value outside 0..65535 fails with "'N' is not a port number".
std::uint16_t readCapturePort(const RegistryKey* key);

// What the job file monitor works with, as a first start has it.
struct MonitorSettings {
    std::string jobFile;    // "prnspl" in the home folder
    int timeOut = 3;        // seconds, 1..10
    bool endOfPage = false; // a form feed near the end ends the job
};
MonitorSettings readMonitorSettings(const RegistryKey* key, const std::string& defaultJobFile);

} // namespace marlix
