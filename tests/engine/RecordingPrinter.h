// A printer that records what the engine asks of it: documents, pages,
// fonts and every character with its position. Its font is an ideal
// fixed-pitch face whose glyphs are 0.6 em wide and whose cell is 1.2 em high.
#pragma once

#include "core/Errors.h"
#include "engine/PrinterDevice.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace marlix::test {

struct DrawnChar {
    int x, y;
    char16_t ch;
    std::uint32_t color;
    LogicalFont font;
};

struct DrawnImage {
    int x, y, width, height;
    DotImage image;
    std::uint32_t color;
};

struct Page {
    std::vector<DrawnChar> chars;
    std::vector<DrawnImage> images;
    std::string text() const {
        std::string s;
        for (const auto& c : chars)
            s += c.ch < 128 ? char(c.ch) : '?';
        return s;
    }
};

struct Document {
    std::string title;
    Orientation orientation;
    std::vector<Page> pages;
    bool ended = false;
    bool aborted = false;
};

class RecordingPrinter : public PrinterDevice {
public:
    int dpiX = 600, dpiY = 600;
    PageData portrait{4960, 7016, 100, 100};
    std::vector<Document> docs;
    std::vector<LogicalFont> fonts; // every font made, in order
    std::vector<std::string> log;   // spooler calls
    int failAfterChars = -1;        // throw on the n-th drawn character
    bool reportAborted = false;
    struct Stroke {
        int x1, y1, x2, y2;
    };
    std::vector<Stroke> strokes; // box drawing: lines and the corners of fills

    void setTitle(const std::string& t) override { title_ = t; }
    void beginDoc() override {
        if (open_) throw Error(std::string(kPrintingInProgress));
        log.push_back("begin");
        docs.push_back({title_, orientation_, {Page{}}, false, false});
        open_ = true;
    }
    void newPage() override {
        log.push_back("page");
        docs.back().pages.emplace_back();
    }
    void endDoc() override {
        log.push_back("end");
        docs.back().ended = true;
        open_ = false;
    }
    void abortDoc() override {
        log.push_back("abort");
        docs.back().aborted = true;
        open_ = false;
        reportAborted = false;
    }
    bool printing() const override { return open_; }
    bool aborted() const override { return reportAborted; }
    Orientation orientation() const override { return orientation_; }
    void setOrientation(Orientation o) override {
        if (open_) throw Error(std::string(kPrintingInProgress));
        orientation_ = o;
    }
    int resolutionX() const override { return dpiX; }
    int resolutionY() const override { return dpiY; }
    PageData pageData() const override {
        if (orientation_ == Orientation::Portrait) return portrait;
        return {portrait.height, portrait.width, portrait.offsetY, portrait.offsetX};
    }

    void setFont(const LogicalFont& f) override {
        font_ = f;
        fonts.push_back(f);
    }
    void setFontColor(std::uint32_t bgr) override { color_ = bgr; }
    void setTransparentBrush() override {}
    int textWidth(char16_t) override {
        if (font_.width > 0) return font_.width;
        return int(std::lround(0.6 * em()));
    }
    int textHeight(char16_t) override {
        return font_.height > 0 ? font_.height : int(std::lround(1.2 * em()));
    }
    void drawChar(int x, int y, char16_t ch) override {
        if (failAfterChars >= 0 && drawn_++ >= failAfterChars) throw IoError("Printer error");
        docs.back().pages.back().chars.push_back({x, y, ch, color_, font_});
    }
    void drawDotImage(int x, int y, int width, int height, const DotImage& image,
                      std::uint32_t bgr) override {
        docs.back().pages.back().images.push_back({x, y, width, height, image, bgr});
    }
    void setPenWidth(int) override {}
    void moveTo(int x, int y) override { strokes.push_back({x, y, x, y}); }
    void lineTo(int x, int y) override {
        strokes.back().x2 = x;
        strokes.back().y2 = y;
    }
    void fillRect(int l, int t, int, int, std::uint32_t) override {
        strokes.push_back({l, t, l, t});
    }

    const LogicalFont& font() const { return font_; }
    std::vector<std::string> pageTexts() const {
        std::vector<std::string> out;
        for (const auto& d : docs)
            for (const auto& p : d.pages)
                out.push_back(p.text());
        return out;
    }

private:
    double em() const {
        if (font_.height < 0) return -font_.height;
        if (font_.height > 0) return font_.height / 1.2;
        return 10.0 * dpiY / 72.0;
    }

    std::string title_;
    Orientation orientation_ = Orientation::Portrait;
    LogicalFont font_;
    std::uint32_t color_ = 0;
    bool open_ = false;
    int drawn_ = 0;
};

} // namespace marlix::test
