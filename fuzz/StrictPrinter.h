// A printer for the fuzzers that checks how the engine uses it: drawing
// outside a document, opening one twice or turning the paper while one is
// open are bugs, and so is a dot image whose bits don't match its size.
#pragma once

#include "engine/PrinterDevice.h"

#include <stdexcept>
#include <string>

namespace marlix::fuzz {

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

} // namespace marlix::fuzz
