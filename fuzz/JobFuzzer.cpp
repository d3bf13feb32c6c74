// Fuzzes whole jobs through the engine with one of the default schemes, no
// sequences or the Epson emulation (the first input byte chooses) on a printer that checks how it
// is used. Expected failures are the program's own errors (range checks, overflow); anything else,
// a crash or undefined behaviour is a finding.
#include "../tests/support/MemoryRegistry.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"
#include "schemes/SchemeStore.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <unistd.h>

using namespace marlix;

namespace {

class StrictPrinter final : public PrinterDevice {
public:
    void setTitle(const std::string&) override {}
    void beginDoc() override {
        if (open_) throw std::logic_error("document opened twice");
        open_ = true;
    }
    void newPage() override { require(); }
    void endDoc() override { require(), open_ = false; }
    void abortDoc() override { require(), open_ = false; }
    bool printing() const override { return open_; }
    bool aborted() const override { return false; }
    Orientation orientation() const override { return orientation_; }
    void setOrientation(Orientation o) override {
        // The engine never asks while a document is open; that would be a bug.
        if (open_) throw std::logic_error("orientation set while printing");
        orientation_ = o;
    }
    int resolutionX() const override { return 600; }
    int resolutionY() const override { return 600; }
    PageData pageData() const override {
        return orientation_ == Orientation::Portrait ? PageData{4960, 7016, 100, 100}
                                                     : PageData{7016, 4960, 100, 100};
    }
    void setFont(const LogicalFont& f) override { font_ = f; }
    void setFontColor(std::uint32_t) override {}
    void setTransparentBrush() override {}
    int textWidth(char16_t) override { return font_.width > 0 ? font_.width : int(0.6 * em()); }
    int textHeight(char16_t) override { return font_.height > 0 ? font_.height : int(1.2 * em()); }
    void drawChar(int, int, char16_t) override { require(); }
    void drawDotImage(int, int, int width, int height, const DotImage& image,
                      std::uint32_t) override {
        require();
        if (width <= 0 || height <= 0 || image.columns <= 0 || image.rows <= 0 ||
            image.bits.size() != std::size_t(image.rows) * std::size_t(image.rowBytes()))
            __builtin_trap();
    }
    void setPenWidth(int) override {}
    void moveTo(int, int) override {}
    void lineTo(int, int) override { require(); }
    void fillRect(int, int, int, int, std::uint32_t) override { require(); }

private:
    double em() const { return font_.height < 0 ? -double(font_.height) : 83.0; }
    void require() const {
        if (!open_) throw std::logic_error("drawing without a document");
    }
    bool open_ = false;
    Orientation orientation_ = Orientation::Portrait;
    LogicalFont font_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/marlix-fuzz-" + std::to_string(::getpid()) + ".prn";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));

    test::MemoryRegistry registry;
    SchemeStore schemes(registry);
    schemes.CheckSequencesRegistry();
    const char* names[] = {"Default", "Epson Matrix", "HP PCL", kNoSequences, kEscP2Scheme};
    registry.openKey(kSettingsKey, true)
        ->writeString("Sequence", names[data[0] % std::size(names)]);

    StrictPrinter printer;
    PrintEngine engine(printer);
    engine.sequences = &schemes;
    engine.codePageFile = [](const std::string& name) {
        return std::string(MARLIX_SOURCE_DATA "/") + name + ".cp";
    };
    engine.codePage[0xB3] = {179, kBoxDrawingSet};
    engine.codePage[0xCE] = {206, kBoxDrawingSet};
    engine.settings.defaultFont = (data[0] & 4) != 0;
    engine.settings.lineWrap = (data[0] & 8) != 0;
    engine.settings.landscape = (data[0] & 16) != 0;
    try {
        engine.PrintOut(path);
    } catch (const Error&) {
    }
    if (printer.printing()) throw std::logic_error("a document was left open");
    return 0;
}
