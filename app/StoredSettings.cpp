#include "app/StoredSettings.h"

#include "app/SettingNames.h"
#include "core/Errors.h"
#include "engine/PageGeometry.h"
#include "platform/QtPrinter.h"

#include <algorithm>

namespace marlix {

PrintSettings defaultPrintSettings(PrintEngine& engine, const std::string& fontName) {
    PrintSettings s;
    s.fontName = fontName;
    // Margins start at the printer's unprintable border.
    const PageData page = engine.printerPage();
    s.topMargin = s.bottomMargin = dotsToMm(page.offsetY, engine.resy());
    s.leftMargin = s.rightMargin = dotsToMm(page.offsetX, engine.resx());
    // The font size box starts at 10 points; CPI and LPI follow that font.
    const auto pitch = engine.pitchOfFont(s.fontName, 10);
    s.cpi = pitch.cpi;
    s.lpi = pitch.lpi;
    return s;
}

PrintSettings readPrintSettings(const RegistryKey* key, PrintEngine& engine) {
    // The font name decides the derived CPI and LPI, so it is read first.
    std::string fontName = PrintSettings{}.fontName;
    if (key)
        if (auto name = key->readString(setting::FontName); name && !name->empty())
            fontName = *name;
    PrintSettings s = defaultPrintSettings(engine, fontName);
    if (!key) return s;

    auto integer = [key](std::string_view name, std::int32_t& into) {
        if (auto v = key->readInteger(name)) into = *v;
    };
    auto boolean = [key](std::string_view name, bool& into) {
        if (auto v = key->readBool(name)) into = *v;
    };
    boolean(setting::Orientation, s.landscape);
    boolean(setting::LineWrap, s.lineWrap);
    boolean(setting::PageFeed, s.pageFeed);
    integer(setting::TopMargin, s.topMargin);
    integer(setting::LeftMargin, s.leftMargin);
    integer(setting::FontSize, s.fontSize);
    // Stored styles only add: a false value removes nothing.
    auto style = [key](std::string_view name, bool& into) {
        if (key->readBool(name).value_or(false)) into = true;
    };
    style(setting::FontBold, s.bold);
    style(setting::FontItalic, s.italic);
    style(setting::FontUnderline, s.underline);
    style(setting::FontStrikeout, s.strikeOut);
    integer(setting::BottomMargin, s.bottomMargin);
    integer(setting::RightMargin, s.rightMargin);
    boolean(setting::DefaultFont, s.defaultFont);
    // The spin boxes hold CPI in 1..25 and LPI in 1..15.
    if (auto v = key->readInteger(setting::LPI)) s.lpi = std::clamp(*v, 1, 15);
    if (auto v = key->readInteger(setting::CPI)) s.cpi = std::clamp(*v, 1, 25);
    return s;
}

PrinterChoice readPrinterChoice(const RegistryKey* key) {
    PrinterChoice c;
    if (!key) return c;
    c.printer = key->readString(setting::Printer).value_or("");
    c.pdfFolder = key->readString(setting::PdfFolder).value_or("");
    return c;
}

QString currentPrinter(const PrinterChoice& choice) {
    QString found = QtPrinter::findPrinter(QString::fromStdString(choice.printer));
    return found.isEmpty() ? QtPrinter::defaultPrinterName() : found;
}

std::string readCodePage(const RegistryKey* key) {
    if (auto name = key ? key->readString(setting::CodePage) : std::nullopt) return *name;
    return "866";
}

std::uint16_t readCapturePort(const RegistryKey* key) {
    const auto port = key ? key->readInteger(setting::CapturePort) : std::nullopt;
    if (!port) return 9100;
    if (*port < 0 || *port > 65535)
        throw Error(formatMessage("'%s' is not a port number", std::to_string(*port)));
    return static_cast<std::uint16_t>(*port);
}

MonitorSettings readMonitorSettings(const RegistryKey* key, const std::string& defaultJobFile) {
    MonitorSettings m;
    m.jobFile = defaultJobFile;
    if (!key) return m;
    if (auto v = key->readInteger(setting::TimeOut)) m.timeOut = std::clamp(*v, 1, 10);
    if (auto v = key->readString(setting::Spool); v && !v->empty()) m.jobFile = *v;
    if (auto v = key->readBool(setting::FormFeed)) m.endOfPage = *v;
    return m;
}

} // namespace marlix
