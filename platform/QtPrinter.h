// The printer device over Qt PrintSupport: system printers through the print
// server, plus the built-in "Print to PDF" printer that always exists.
#pragma once

#include "engine/PrinterDevice.h"
#include "pdf/PdfDocument.h"
#include "platform/PdfFiles.h"

#include <QFont>
#include <QGlyphRun>
#include <QHash>
#include <QPainter>
#include <QPrinter>
#include <QRawFont>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>

namespace marlix {

inline const QString kPdfPrinterName = QStringLiteral("Print to PDF");

namespace pdf {
class FontLibrary;
}

// How "Print to PDF" makes its files: its own writer, or Qt's PDF engine
// (MARLIX_PDF_ENGINE=qt), kept to compare the two.
enum class PdfEngine { Writer, Qt };
PdfEngine pdfEngineFromEnvironment();

class QtPrinter final : public PrinterDevice {
public:
    // All printers the system knows, then "Print to PDF".
    static QStringList printerNames();
    // The system's default printer, or "Print to PDF" when it has none.
    static QString defaultPrinterName();
    // The installed printer of that name, letter case aside; empty if none.
    static QString findPrinter(const QString& name);

    explicit QtPrinter(const QString& printerName = defaultPrinterName(),
                       PdfEngine engine = pdfEngineFromEnvironment());
    ~QtPrinter() override;
    QtPrinter(const QtPrinter&) = delete;
    QtPrinter& operator=(const QtPrinter&) = delete;

    QString name() const { return name_; }
    bool isPdf() const { return name_ == kPdfPrinterName; }
    PdfEngine pdfEngine() const { return engine_; }
    // Makes another printer current (the default when none has that name).
    // Fails with "Printing in progress" while a document is open.
    void selectPrinter(const QString& name);
    // The system printer's own settings, for its options dialog; null for
    // "Print to PDF", which has none to offer.
    QPrinter* systemPrinter() { return isPdf() ? nullptr : printer_.get(); }
    // After the options dialog: takes the printer it chose and measures
    // fonts afresh.
    void optionsChanged();
    // Folder of the "Print to PDF" printer; created when the first document starts.
    void setPdfFolder(const QString& folder) { pdfFolder_ = folder; }
    // The "Print to PDF" printer writes its first document to exactly this
    // file (a later one of the same printer beside it, numbered), instead of
    // a new name in the folder.
    void setPdfFile(const QString& file) { pdfFile_ = file; }
    // Every PDF file this printer has finished, in order.
    const QStringList& writtenFiles() const { return written_; }

    // A job's documents as a whole: from beginJob on, each PDF stays under
    // its part name when it ends; commitJob gives them all their names and
    // returns them, abandonJob removes them (and aborts a document still
    // open). A system printer's documents go to its queue as they end.
    void beginJob();
    QStringList commitJob();
    void abandonJob();
    // Told the part file of every PDF as it starts, and every PDF's final
    // name once it has it: what a crash in between leaves behind.
    std::function<void(const QString& part)> onPartStarted;
    std::function<void(const QString& pdf)> onPdfDone;
    // Pages begun since the printer was made.
    int pageCount() const { return pages_; }

    void setTitle(const std::string& title) override;
    void beginDoc() override;
    void newPage() override;
    void endDoc() override;
    void abortDoc() override;
    bool printing() const override;
    bool aborted() const override;
    Orientation orientation() const override;
    void setOrientation(Orientation orientation) override;
    int resolutionX() const override;
    int resolutionY() const override;
    PageData pageData() const override;

    void setFont(const LogicalFont& font) override;
    void setFontColor(std::uint32_t bgr) override;
    void setTransparentBrush() override;
    int textWidth(char16_t ch) override;
    int textHeight(char16_t ch) override;
    void drawChar(int x, int y, char16_t ch) override;
    void drawDotImage(int x, int y, int width, int height, const DotImage& image,
                      std::uint32_t bgr) override;

    void setPenWidth(int width) override;
    void moveTo(int x, int y) override;
    void lineTo(int x, int y) override;
    void fillRect(int left, int top, int right, int bottom, std::uint32_t bgr) override;

private:
    struct MadeFont {
        QFont font;
        QRawFont raw; // for glyph runs; made on first use
        qreal ascent = 0;
        int height = 0;
        int averageWidth = 0;
        QHash<char16_t, int> widths;
        int cellWidth = 0;
        std::optional<pdf::TextFont> text; // for the PDF writer; made on first use
    };
    // Characters of one line in one font and colour, drawn as one glyph run:
    // one text object per line in the PDF instead of one per character.
    struct PendingRun {
        MadeFont* font = nullptr;
        QColor color;
        int x = 0; // the first cell
        int y = 0;
        QList<quint32> glyphs;
        QList<QPointF> positions;
    };
    struct FontKeyHash {
        std::size_t operator()(const LogicalFont& f) const;
    };

    MadeFont makeFont(const LogicalFont& lf) const;
    void flushRun();
    pdffiles::Reserved reservePdf() const;
    QString commitPdf(const pdffiles::Reserved& reserved);
    void documentDone();
    void applyCanvasState();
    bool writesPdf() const { return isPdf() && engine_ == PdfEngine::Writer; }
    const pdf::TextFont& textFont(MadeFont& made);

    QString name_;
    PdfEngine engine_;
    std::unique_ptr<pdf::FontLibrary> pdfFonts_;
    std::unique_ptr<pdf::PdfDocument> pdf_;
    bool pdfAborted_ = false;
    std::uint32_t textBgr_ = 0;
    std::unique_ptr<QPrinter> printer_;
    QPainter painter_;
    QString pdfFolder_;
    QString pdfFile_;
    int pages_ = 0;
    QString title_;
    pdffiles::Reserved pdfInHand_; // the PDF being written
    std::vector<pdffiles::Reserved> jobFiles_;
    bool inJob_ = false;
    QStringList written_;
    std::unordered_map<LogicalFont, MadeFont, FontKeyHash> fonts_;
    MadeFont* font_ = nullptr;
    QColor textColor_ = Qt::black;
    int penWidth_ = 0;
    QPointF current_;
    PendingRun run_;
};

} // namespace marlix
