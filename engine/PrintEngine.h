// The print engine: turns one job file into printed pages. The object keeps
// the values that outlast a job (cell, line height, page area, font state), so
// the window that owns it can show them between jobs.
#pragma once

#include "charset/CodePageTable.h"
#include "engine/PageGeometry.h"
#include "engine/PrintSettings.h"
#include "engine/PrinterDevice.h"
#include "schemes/Commands.h"
#include "schemes/SeqDef.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace marlix {

inline constexpr const char* kJobTitle = "DOS-console task";
// UpdateProgress frame that brings back the program's own icon.
inline constexpr int kProgressDone = 255;
inline constexpr int kLastProgressFrame = 15;
// The Epson emulation's name for its italic character table.
inline constexpr const char* kItalicTable = "italic";

// The printer canvas's font: what the font panel chose and the job's
// sequences change.
struct PrinterFont {
    std::string face = "Courier New";
    std::int32_t size = 10; // points
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::uint32_t color = 0; // 0x00BBGGRR
};

class PrintEngine {
public:
    explicit PrintEngine(PrinterDevice& device);

    // Prints the file, or its bytes from `from` up to `to`, on the device,
    // and returns the offset where the bytes it printed end: what a writer
    // adds after the file was opened is not this job. Errors are raised:
    // - before anything prints (the file, the settings, margins that leave
    //   no room): marlix::Error, nothing opened;
    // - from reading the job or writing its output: IoError, the document
    //   aborted;
    // - from the job's own bytes: JobError, the document ended at the page
    //   it reached, so the pages before the error are printed;
    // - after stop(): PrintStopped, the document aborted.
    std::uint64_t PrintOut(const std::string& fileName, std::uint64_t from = 0,
                           std::uint64_t to = ~std::uint64_t{0});
    // Asks the running job to stop at its next KeepAlive; a job asks nothing
    // of the program between two of them. The next job clears it.
    void stop() { stopRequested_ = true; }

    // Recomputes cell, line height and page area from the settings and returns
    // what the font panel shows.
    CheckSizeResult checksize();
    void computePageArea();

    // The font's own cell at a point size, as characters and lines per inch
    // (clamped into 1..25 and 1..15); it also becomes the current cell.
    struct FontPitch {
        std::int32_t cpi = 10;
        std::int32_t lpi = 6;
    };
    FontPitch pitchOfFont(const std::string& face, std::int32_t size);

    int resx() const;
    int resy() const;
    PageData printerPage() const { return device_.pageData(); }

    PrintSettings settings;
    CodePageTable codePage = CodePageTable::identity();
    SequenceSource* sequences = nullptr;           // none: no sequence is recognised
    std::function<void(int frame)> UpdateProgress; // 0..15 while printing, 255 at the end
    // Called every few thousand bytes while a document is open, so that the
    // program around the engine can let its window and timers run. A print
    // asked for from there meets the open document and fails with
    // "Printing in progress" without disturbing this one.
    std::function<void()> KeepAlive;
    // Where the code page file of that name ("437") lies, for the Epson
    // emulation's character tables; unset: only the loaded table prints.
    std::function<std::string(const std::string& name)> codePageFile;

    std::uint16_t charAdvance() const { return charAdvance_; }
    std::uint16_t charHeight() const { return charHeight_; }
    std::uint16_t lineHeight() const { return lineHeight_; }
    const PageArea& pageArea() const { return area_; }
    const PrinterFont& font() const { return font_; }

private:
    // What the Epson emulation keeps beyond the shared print state; ESC @
    // brings all of it back.
    struct Emulation {
        std::vector<std::uint8_t> tabStops;      // columns
        bool tabsSet = false;                    // by ESC D; until then every 8 columns
        std::vector<std::int32_t> verticalStops; // dots below the top margin
        std::int32_t originTop = 0;              // the settings' page area, which forms
        std::int32_t originLeft = 0;             // and margins are measured from
        std::int32_t originRight = 0;
        std::int32_t formLength = 0;   // dots; 0: the paper
        std::int32_t bottomMargin = 0; // ESC ( c, dots below the origin; 0: none
        std::int32_t perforation = 0;  // ESC N, dots kept free at the form's end
        std::int32_t formEnd = 0;      // where a page ends; 0: at the paper's end
        std::int32_t extraSpace = 0;   // ESC SP, dots after each character
        int unit = 0;                  // ESC ( U, in 1/3600 inch; 0: not set
        // Character tables 0..3: a code page name, "" for the loaded table,
        // kItalicTable for the italic table.
        std::array<std::string, 4> tables{kItalicTable, "", "", ""};
        std::uint8_t table = 1; // ESC t
        std::uint8_t international = 0;
        bool upperControls = true; // ESC 7: 128..159 of the italic table act as controls
        bool printableControls = false;
        bool wideOneLine = false;                           // SO: double width until the line ends
        std::array<std::uint8_t, 4> imageModes{0, 1, 2, 3}; // ESC K, L, Y, Z
    };

    // Per-job position and attributes.
    struct PrintState {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::uint8_t pitch = 10;
        std::int32_t savedHeight = 0;
        std::int32_t baselineShift = 0;
        bool pageStarted = false;
        Orientation requested = Orientation::Portrait;
        Emulation escp;
    };

    // The cell the font panel asks for: the font's own "@" at its size, or
    // CPI and LPI. Returns the pitch.
    std::uint8_t panelCell();
    void resetPrintState();

    // A table entry ready for matching: where its parameter lies, if any.
    struct Sequence {
        std::string pattern;
        Command command;
        bool binary = false;   // "_" placeholders: a little-endian number
        std::size_t field = 0; // first placeholder
        std::size_t width = 0; // textual: number of "0" placeholders
        bool readable = false; // a value command with a placeholder
    };
    static std::vector<Sequence> prepare(const TSeqArray& table);
    // Applies the first entry that matches at the start of window (the job
    // byte and up to 30 after it); returns the bytes it took, 0 for none.
    std::size_t interpret(std::string_view window, const std::vector<Sequence>& table);
    // The Epson emulation at a command's first byte b: applies it and returns
    // the bytes it took (0: CR, LF, FF and BS, which the driver acts on).
    // more(n) gives up to n bytes after b.
    std::size_t emulate(std::uint8_t b, const std::function<std::string_view(std::size_t)>& more);
    // The emulation's parts: reset, character tables, forms, images.
    void resetEmulation();
    void selectCharTable();
    // The code page file of that name, read once a job; null if it can't be.
    const CodePageTable* loadTable(const std::string& name);
    bool printableControl(std::uint8_t b) const;
    void updateFormEnd();
    std::int32_t units(std::int64_t count, int perInch, int resolution) const;
    void printRaster(std::string_view command);
    void placeImage(DotImage& image, long double perInchX, long double perInchY);
    void applyFixed(Command command);
    void applyValue(Command command, std::int64_t value);
    void requestOrientation(Orientation orientation);
    void setpitch(std::uint8_t pitch);
    void makePrinterFont();
    void selectPanelFont();
    // Selects the panel's face at its point size and measures its "@".
    struct Cell {
        std::uint16_t width, height;
    };
    Cell measurePanelFont();
    void styleFromSettings();
    void drawCharacter(std::uint8_t b, std::uint16_t& w);
    void startPage();
    void setFontColor(std::uint32_t bgr);
    void progress(std::uint64_t size, std::uint64_t left, int& lastFrame);
    void checkRoom() const;
    // Job end: the document is ended and the settings' orientation is back.
    void finishJob(Orientation settingsOrientation);

    PrinterDevice& device_;
    PrintState job_;
    PrinterFont font_;
    std::uint16_t charAdvance_ = 0;
    std::uint16_t charHeight_ = 0;
    std::uint16_t lineHeight_ = 0;
    PageArea area_;
    bool doubleWidth_ = false;
    bool condensed_ = false;
    std::uint8_t currentCharSet_ = kDefaultCharSet;
    std::uint8_t fontCharSet_ = kDefaultCharSet; // the set the canvas font was made with
    // What each byte prints: the loaded code page, or the emulation's table.
    const CodePageTable* chars_ = &codePage;
    CodePageTable emulationChars_;
    std::bitset<256> italicBytes_;            // the italic table's upper half
    std::array<std::uint8_t, 256> byteMap_{}; // its control codes at 128..159
    std::vector<std::pair<std::string, CodePageTable>> tableCache_;
    std::string window_; // the command the emulation reads
    bool stopRequested_ = false;
};

} // namespace marlix
