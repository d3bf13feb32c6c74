#include "platform/QtPrinter.h"

#include "core/Errors.h"
#include "pdf/FontLibrary.h"
#include "platform/CellFont.h"
#include "platform/NativeName.h"
#include "platform/PdfFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPrinterInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace marlix {

namespace {
// The built-in printer is a common laser printer: 600 dpi with a border of
// 100 dots (12 points) that it cannot print on.
constexpr int kPdfResolution = 600;
constexpr qreal kPdfBorderPoints = 12.0;
// The zlib level of the writer's content streams. Measured on the plain and
// framed 1,000-page jobs of bench/compare: 9 is 20-40 % slower for 1-2 %
// less, 12 ten times slower for 2-5 % less.
constexpr int kPdfCompression = 6;

QColor fromBgr(std::uint32_t bgr) {
    return QColor(int(bgr & 0xFF), int((bgr >> 8) & 0xFF), int((bgr >> 16) & 0xFF));
}

QString toQString(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

PdfEngine pdfEngineFromEnvironment() {
    const char* engine = std::getenv("MARLIX_PDF_ENGINE");
    return engine && std::strcmp(engine, "qt") == 0 ? PdfEngine::Qt : PdfEngine::Writer;
}

QStringList QtPrinter::printerNames() {
    QStringList names = QPrinterInfo::availablePrinterNames();
    names << kPdfPrinterName;
    return names;
}

QString QtPrinter::defaultPrinterName() {
    QString name = QPrinterInfo::defaultPrinterName();
    return name.isEmpty() ? kPdfPrinterName : name;
}

QString QtPrinter::findPrinter(const QString& name) {
    for (const QString& candidate : printerNames())
        if (candidate.compare(name, Qt::CaseInsensitive) == 0) return candidate;
    return {};
}

QtPrinter::QtPrinter(const QString& printerName, PdfEngine engine) : engine_(engine) {
    pdfFolder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    selectPrinter(printerName);
}

void QtPrinter::selectPrinter(const QString& printerName) {
    if (printing()) throw Error(std::string(kPrintingInProgress));
    name_ = findPrinter(printerName);
    if (name_.isEmpty()) name_ = kPdfPrinterName;
    // Fonts are measured on the device: another printer has other metrics.
    font_ = nullptr;
    run_ = PendingRun{};
    fonts_.clear();
    if (isPdf()) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setOutputFormat(QPrinter::PdfFormat);
        printer_->setResolution(kPdfResolution);
        const bool letter = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
        printer_->setPageLayout(QPageLayout(
            QPageSize(letter ? QPageSize::Letter : QPageSize::A4), QPageLayout::Portrait,
            QMarginsF(kPdfBorderPoints, kPdfBorderPoints, kPdfBorderPoints, kPdfBorderPoints),
            QPageLayout::Point));
    } else {
        printer_ =
            std::make_unique<QPrinter>(QPrinterInfo::printerInfo(name_), QPrinter::HighResolution);
    }
    printer_->setFullPage(false);
}

void QtPrinter::optionsChanged() {
    if (printing()) return;
    // The options dialog may have picked another printer on the same object.
    if (!isPdf() && !printer_->printerName().isEmpty()) name_ = printer_->printerName();
    font_ = nullptr;
    fonts_.clear();
}

QtPrinter::~QtPrinter() {
    abandonJob();
}

void QtPrinter::setTitle(const std::string& title) {
    title_ = toQString(title);
    printer_->setDocName(title_);
}

pdffiles::Reserved QtPrinter::reservePdf() const {
    if (!pdfFile_.isEmpty()) {
        if (written_.isEmpty() && jobFiles_.empty()) return pdffiles::exactly(pdfFile_);
        // A second document of the job goes beside the named file.
        const QFileInfo file(pdfFile_);
        return pdffiles::inFolder(file.absolutePath(), file.completeBaseName(), 2);
    }
    QString base = title_.isEmpty() ? QStringLiteral("Marlix") : title_;
    base.replace(QLatin1Char('/'), QLatin1Char('_'));
    base += QDateTime::currentDateTime().toString(QStringLiteral(" yyyy-MM-dd HH.mm.ss"));
    return pdffiles::inFolder(pdfFolder_, base);
}

void QtPrinter::beginJob() {
    abandonJob();
    inJob_ = true;
}

QStringList QtPrinter::commitJob() {
    inJob_ = false;
    QStringList done;
    // Each document gets its name in turn; one that fails takes the rest
    // with it, so a job is never half on disk.
    auto files = std::exchange(jobFiles_, {});
    for (std::size_t i = 0; i < files.size(); ++i) {
        try {
            done << commitPdf(files[i]);
        } catch (...) {
            for (std::size_t j = i + 1; j < files.size(); ++j)
                removeFile(files[j].part);
            for (const QString& pdf : done) {
                removeFile(pdf);
                written_.removeOne(pdf);
            }
            throw;
        }
    }
    return done;
}

void QtPrinter::abandonJob() {
    inJob_ = false;
    if (printing()) abortDoc();
    for (const pdffiles::Reserved& r : std::exchange(jobFiles_, {}))
        removeFile(r.part.isEmpty() ? r.final : r.part);
}

QString QtPrinter::commitPdf(const pdffiles::Reserved& r) {
    // Qt's engine wrote the final name itself.
    const QString name = r.part.isEmpty() ? r.final : pdffiles::commit(r);
    written_ << name;
    if (onPdfDone) onPdfDone(name);
    return name;
}

void QtPrinter::beginDoc() {
    if (printing()) throw Error(std::string(kPrintingInProgress));
    if (isPdf()) {
        pdfInHand_ = reservePdf();
        if (onPartStarted) onPartStarted(pdfInHand_.part);
    }
    if (writesPdf()) {
        const QPageLayout layout = printer_->pageLayout();
        const QRect paper = layout.fullRectPoints();
        const QRectF paint = layout.paintRect(QPageLayout::Point);
        const pdf::PageFrame frame{double(paper.width()), double(paper.height()), paint.left(),
                                   paint.top(), printer_->resolution()};
        if (!pdfFonts_) pdfFonts_ = std::make_unique<pdf::FontLibrary>();
        std::FILE* file = std::exchange(pdfInHand_.file, nullptr);
        try {
            pdf_ = std::make_unique<pdf::PdfDocument>(file, pdfInHand_.final.toStdString(),
                                                      title_.toStdString(), frame, *pdfFonts_,
                                                      kPdfCompression);
        } catch (...) {
            removeFile(pdfInHand_.part);
            throw;
        }
        pdfAborted_ = false;
        ++pages_;
        return;
    }
    if (isPdf()) {
        // Qt's engine writes the file by its name: the final name is held
        // by an empty file until then.
        std::fclose(std::exchange(pdfInHand_.file, nullptr));
        if (pdfInHand_.base.isEmpty()) removeFile(pdfInHand_.final); // the user named it
        if (!renameFile(pdfInHand_.part, pdfInHand_.final)) {
            removeFile(pdfInHand_.part);
            throw IoError(formatMessage("Cannot create file %s", pdfInHand_.final.toStdString()));
        }
        pdfInHand_.part.clear();
        printer_->setOutputFileName(pdfInHand_.final);
    }
    if (!painter_.begin(printer_.get())) {
        QString what = isPdf() ? pdfInHand_.final : name_;
        if (isPdf()) removeFile(pdfInHand_.final);
        throw IoError(formatMessage("Cannot create file %s", what.toStdString()));
    }
    ++pages_;
    applyCanvasState();
}

void QtPrinter::applyCanvasState() {
    // A new document starts with a fresh painter: carry the canvas state over.
    if (font_) painter_.setFont(font_->font);
    painter_.setBrush(Qt::NoBrush);
    painter_.setBackgroundMode(Qt::TransparentMode);
}

void QtPrinter::newPage() {
    if (pdf_) {
        pdf_->newPage();
        ++pages_;
        return;
    }
    flushRun();
    if (!printer_->newPage()) throw IoError("Printer error");
    ++pages_;
}

void QtPrinter::endDoc() {
    if (pdf_) {
        // Whatever happens, the document is over; a file half written goes.
        const auto doc = std::move(pdf_);
        try {
            doc->finish();
        } catch (...) {
            removeFile(pdfInHand_.part);
            throw;
        }
        documentDone();
        return;
    }
    if (!painter_.isActive()) return;
    flushRun();
    painter_.end();
    if (isPdf()) documentDone();
}

void QtPrinter::documentDone() {
    if (inJob_)
        jobFiles_.push_back(pdfInHand_);
    else
        commitPdf(pdfInHand_);
    pdfInHand_ = {};
}

void QtPrinter::abortDoc() {
    if (pdf_) {
        pdf_->abort();
        pdf_.reset();
        removeFile(pdfInHand_.part);
        pdfInHand_ = {};
        pdfAborted_ = true;
        return;
    }
    if (!painter_.isActive()) return;
    run_ = PendingRun{};
    printer_->abort();
    painter_.end();
    if (isPdf()) removeFile(pdfInHand_.final);
    pdfInHand_ = {};
}

bool QtPrinter::printing() const {
    return painter_.isActive() || pdf_;
}

bool QtPrinter::aborted() const {
    if (writesPdf()) return pdfAborted_;
    return printer_->printerState() == QPrinter::Aborted;
}

Orientation QtPrinter::orientation() const {
    return printer_->pageLayout().orientation() == QPageLayout::Landscape ? Orientation::Landscape
                                                                          : Orientation::Portrait;
}

void QtPrinter::setOrientation(Orientation orientation) {
    if (printing()) throw Error(std::string(kPrintingInProgress));
    printer_->setPageOrientation(orientation == Orientation::Landscape ? QPageLayout::Landscape
                                                                       : QPageLayout::Portrait);
}

int QtPrinter::resolutionX() const {
    return printer_->resolution();
}
int QtPrinter::resolutionY() const {
    return printer_->resolution();
}

PageData QtPrinter::pageData() const {
    const QPageLayout layout = printer_->pageLayout();
    const int res = printer_->resolution();
    const QRect full = layout.fullRectPixels(res);
    const QRect paint = layout.paintRectPixels(res);
    return {full.width(), full.height(), paint.left(), paint.top()};
}

std::size_t QtPrinter::FontKeyHash::operator()(const LogicalFont& f) const {
    std::size_t h = std::hash<std::string>{}(f.face);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
    mix(std::size_t(std::uint32_t(f.height)));
    mix(std::size_t(std::uint32_t(f.width)));
    mix(std::size_t(f.weight));
    mix(std::size_t(f.italic) | std::size_t(f.underline) << 1 | std::size_t(f.strikeOut) << 2);
    mix(f.charSet);
    mix(f.pitchAndFamily);
    return h;
}

QtPrinter::MadeFont QtPrinter::makeFont(const LogicalFont& lf) const {
    QFont f(toQString(lf.face));
    if (lf.pitchAndFamily & 1) f.setStyleHint(QFont::TypeWriter);
    f.setWeight(lf.weight == 0 ? QFont::Normal : QFont::Weight(std::clamp(lf.weight, 1, 1000)));
    f.setItalic(lf.italic);
    f.setUnderline(lf.underline);
    f.setStrikeOut(lf.strikeOut);
    f.setKerning(false);
    f.setHintingPreference(QFont::PreferNoHinting);

    if (lf.height > 0)
        fitFontHeight(f, lf.height, printer_.get());
    else
        f.setPixelSize(lf.height < 0 ? -lf.height
                                     : int(std::lround(10.0 * printer_->resolution() / 72.0)));
    if (lf.width > 0) fitFontWidth(f, lf.width, printer_.get());

    MadeFont made;
    made.font = f;
    const QFontMetricsF m(f, printer_.get());
    made.ascent = m.ascent();
    made.height = int(std::lround(m.height()));
    made.averageWidth = int(std::lround(m.averageCharWidth()));
    made.cellWidth = lf.width;
    return made;
}

const pdf::TextFont& QtPrinter::textFont(MadeFont& made) {
    if (made.text) return *made.text;
    // The family Qt settled on (aliases such as "Courier New" resolved), in
    // the file fontconfig gives for it: the glyphs of the face Qt measured.
    const QFont& f = made.font;
    pdf::TextFont t;
    t.family = QFontInfo(f).family().toStdString();
    t.bold = f.weight() >= QFont::DemiBold;
    t.italic = f.italic();
    t.face = pdfFonts_->match(t.family, t.bold, t.italic);
    t.size = f.pixelSize();
    t.stretch = f.stretch() > 0 ? f.stretch() / 100.0 : 1.0;
    pdf::Face& face = *t.face;
    const int at = face.width(face.glyph(U'@'));
    // A fixed-pitch face takes exactly the cell width: every glyph's advance
    // is then the cell's, and a line is one plain string.
    if (made.cellWidth > 0 && at > 0 && at == face.width(face.glyph(U'i')))
        t.stretch = made.cellWidth / (at * t.size / 1000);
    t.ascent = made.ascent;
    const QFontMetricsF m(f, printer_.get());
    t.underline = f.underline();
    t.strikeOut = f.strikeOut();
    t.underlinePos = m.underlinePos();
    t.strikeOutPos = m.strikeOutPos();
    t.lineWidth = m.lineWidth();
    made.text = t;
    return *made.text;
}

void QtPrinter::setFont(const LogicalFont& lf) {
    auto it = fonts_.find(lf);
    if (it == fonts_.end()) it = fonts_.emplace(lf, makeFont(lf)).first;
    font_ = &it->second;
    if (painter_.isActive()) painter_.setFont(font_->font);
}

void QtPrinter::setFontColor(std::uint32_t bgr) {
    textBgr_ = bgr & 0xFFFFFF;
    textColor_ = fromBgr(bgr);
}

void QtPrinter::setTransparentBrush() {
    if (painter_.isActive()) {
        painter_.setBrush(Qt::NoBrush);
        painter_.setBackgroundMode(Qt::TransparentMode);
    }
}

int QtPrinter::textWidth(char16_t ch) {
    if (!font_) setFont(LogicalFont{});
    // Control codes have no glyph; the system measures them as one average cell.
    if (ch < 32) return font_->averageWidth;
    auto it = font_->widths.find(ch);
    if (it != font_->widths.end()) return *it;
    const int w =
        int(std::lround(QFontMetricsF(font_->font, printer_.get()).horizontalAdvance(QChar(ch))));
    font_->widths.insert(ch, w);
    return w;
}

int QtPrinter::textHeight(char16_t) {
    if (!font_) setFont(LogicalFont{});
    return font_->height;
}

void QtPrinter::drawChar(int x, int y, char16_t ch) {
    if (!font_) setFont(LogicalFont{});
    if (pdf_) {
        pdf_->drawChar(x, y, ch, textFont(*font_), textBgr_);
        return;
    }
    if (run_.font != font_ || run_.color != textColor_ || run_.y != y) flushRun();
    if (!font_->raw.isValid()) font_->raw = QRawFont::fromFont(font_->font);
    const QChar c(ch);
    quint32 glyph = 0;
    int count = 1;
    if (!c.isSurrogate() && font_->raw.glyphIndexesForChars(&c, 1, &glyph, &count) && glyph != 0) {
        run_.font = font_;
        run_.color = textColor_;
        run_.y = y;
        if (run_.glyphs.isEmpty()) run_.x = x;
        run_.glyphs.append(glyph);
        // Relative to the run's first cell: underline and strike-out start there.
        run_.positions.append(QPointF(x - run_.x, font_->ascent));
        return;
    }
    // Not in the face: let the text layout find a fallback font for it.
    flushRun();
    painter_.setPen(textColor_);
    painter_.drawText(QPointF(x, y + font_->ascent), QString(c));
}

void QtPrinter::drawDotImage(int x, int y, int width, int height, const DotImage& image,
                             std::uint32_t bgr) {
    if (image.columns <= 0 || image.rows <= 0 || width <= 0 || height <= 0) return;
    if (pdf_) {
        pdf_->drawDotImage(x, y, width, height, image, bgr);
        return;
    }
    flushRun();
    // A one-bit image with a transparent 0: the PDF keeps it as a small
    // image mask, and what lies under the clear dots stays visible.
    QImage bits(image.bits.data(), image.columns, image.rows, image.rowBytes(),
                QImage::Format_Mono);
    bits.setColorTable({qRgba(0, 0, 0, 0), fromBgr(bgr).rgba()});
    painter_.save();
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter_.drawImage(QRect(x, y, width, height), bits);
    painter_.restore();
}

void QtPrinter::flushRun() {
    if (run_.glyphs.isEmpty()) return;
    QGlyphRun glyphs;
    glyphs.setRawFont(run_.font->raw);
    glyphs.setGlyphIndexes(run_.glyphs);
    glyphs.setPositions(run_.positions);
    glyphs.setUnderline(run_.font->font.underline());
    glyphs.setStrikeOut(run_.font->font.strikeOut());
    painter_.setPen(run_.color);
    painter_.drawGlyphRun(QPointF(run_.x, run_.y), glyphs);
    run_.glyphs.clear();
    run_.positions.clear();
}

void QtPrinter::setPenWidth(int width) {
    penWidth_ = width;
    if (pdf_) pdf_->setPenWidth(width);
}

void QtPrinter::moveTo(int x, int y) {
    current_ = QPointF(x, y);
    if (pdf_) pdf_->moveTo(x, y);
}

void QtPrinter::lineTo(int x, int y) {
    if (pdf_) {
        pdf_->lineTo(x, y);
        current_ = QPointF(x, y);
        return;
    }
    flushRun();
    // Strokes are black whatever colour the text has.
    painter_.setPen(QPen(Qt::black, penWidth_, Qt::SolidLine, Qt::FlatCap));
    const QPointF to(x, y);
    painter_.drawLine(current_, to);
    current_ = to;
}

void QtPrinter::fillRect(int left, int top, int right, int bottom, std::uint32_t bgr) {
    if (right <= left || bottom <= top) return;
    if (pdf_) {
        pdf_->fillRect(left, top, right, bottom, bgr);
        return;
    }
    flushRun();
    painter_.fillRect(QRect(left, top, right - left, bottom - top), fromBgr(bgr));
}

} // namespace marlix
