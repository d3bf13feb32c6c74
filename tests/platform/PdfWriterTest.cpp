// The "Print to PDF" printer's own writer against Qt's PDF engine, and what
// only the writer promises: subset fonts that copy as text, fallback faces,
// frames as a few strokes, pages on disk as they finish.
#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "engine/PrintEngine.h"
#include "platform/QtPrinter.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

constexpr std::uint8_t kCyrillicSet = 204;

// ASCII as it is, a few box-drawing bytes as the box renderer draws them,
// and the bytes from 0x80 as Cyrillic in a character set of their own, so
// that the engine changes fonts in the middle of a line as real code pages do.
CodePageTable testCodePage() {
    CodePageTable t = CodePageTable::identity();
    for (std::uint8_t b : {0xB0, 0xB3, 0xC4, 0xBF, 0xC0, 0xD9, 0xDA, 0xDB})
        t[b] = {b, kBoxDrawingSet};
    for (int b = 0x80; b < 0xB0; ++b)
        t[std::uint8_t(b)] = {std::uint16_t(u'А' + (b - 0x80)), kCyrillicSet};
    return t;
}

// A frame of 12 by 4 cells around Latin and Cyrillic text, and a shade.
const std::string kFramedJob = "\xDA\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xBF\r\n"
                               "\xB3Total \x8F\x90\x88\x82\x85\xB3\r\n"
                               "\xB3 12.50    \xB3\r\n"
                               "\xC0\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xC4\xD9\r\n"
                               "\xB0\xB0\xB0\xDB\xDB";

struct Printed {
    QString pdf;
    int pages = 0;
};

class PdfWriterTest : public ::testing::Test {
protected:
    QString print(PdfEngine how, const std::string& job, const char* name) {
        QtPrinter printer(kPdfPrinterName, how);
        printer.setPdfFile(qs(dir.path() / name));
        PrintEngine engine(printer);
        engine.codePage = testCodePage();
        engine.settings.topMargin = engine.settings.leftMargin = 10;
        engine.settings.defaultFont = false;
        engine.settings.cpi = 10;
        engine.settings.lpi = 6;
        engine.checksize();
        engine.PrintOut(dir.write(std::string(name) + ".job", job));
        EXPECT_EQ(printer.writtenFiles().size(), 1);
        return printer.writtenFiles().value(0);
    }
    static QString qs(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
    // Opens a document on the writer in the fixed-pitch face at a cell of
    // width x height dots.
    static void beginInCourier(QtPrinter& printer, const QString& file, int width, int height) {
        printer.setPdfFile(file);
        LogicalFont lf;
        lf.face = "Courier New";
        lf.height = height;
        lf.width = width;
        lf.pitchAndFamily = 1;
        printer.setFont(lf);
        printer.beginDoc();
    }

    TempDir dir;
};

TEST_F(PdfWriterTest, TextPagesAndPicturesMatchQtsEngine) {
    const std::string job = kFramedJob + "\r\nplain text \x8F\x90\x88\fsecond page";
    const QString qt = print(PdfEngine::Qt, job, "qt.pdf");
    const QString own = print(PdfEngine::Writer, job, "own.pdf");
    EXPECT_EQ(pdfPages(own), pdfPages(qt));
    EXPECT_EQ(run(QStringLiteral("pdftotext"), {own, QStringLiteral("-")}),
              run(QStringLiteral("pdftotext"), {qt, QStringLiteral("-")}));

    const auto a = pdfWords(qt), b = pdfWords(own);
    auto list = [](const std::vector<PdfWord>& words) {
        QString all;
        for (const PdfWord& w : words)
            all += QStringLiteral("%1@%2,%3 ").arg(w.text).arg(w.xMin).arg(w.yMin);
        return all.toStdString();
    };
    ASSERT_EQ(a.size(), b.size()) << list(a) << "\n" << list(b);
    ASSERT_GE(a.size(), 5u);
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].text, a[i].text);
        EXPECT_EQ(b[i].page, a[i].page);
        EXPECT_NEAR(b[i].xMin, a[i].xMin, 0.05) << a[i].text.toStdString();
        EXPECT_NEAR(b[i].xMax, a[i].xMax, 0.05) << a[i].text.toStdString();
        EXPECT_NEAR(b[i].yMin, a[i].yMin, 0.05) << a[i].text.toStdString();
    }

    // Ink where Qt's engine puts ink: at 150 dpi no dark dot of one lies
    // further than a dot from a dark dot of the other.
    const QImage pa = pdfPicture(qt, 150), pb = pdfPicture(own, 150);
    ASSERT_EQ(pa.size(), pb.size());
    auto dark = [](const QImage& p, int x, int y) {
        return x >= 0 && y >= 0 && x < p.width() && y < p.height() && qGray(p.pixel(x, y)) < 128;
    };
    auto strays = [&](const QImage& p, const QImage& q) {
        int n = 0;
        for (int y = 0; y < p.height(); ++y)
            for (int x = 0; x < p.width(); ++x) {
                if (!dark(p, x, y)) continue;
                bool near = false;
                for (int dy = -1; dy <= 1 && !near; ++dy)
                    for (int dx = -1; dx <= 1 && !near; ++dx)
                        near = dark(q, x + dx, y + dy);
                n += !near;
            }
        return n;
    };
    EXPECT_EQ(strays(pa, pb), 0);
    EXPECT_EQ(strays(pb, pa), 0);
}

TEST_F(PdfWriterTest, FontsAreEmbeddedSubsetsThatCopyAsText) {
    const QString pdf = print(PdfEngine::Writer, kFramedJob, "own.pdf");
    const QStringList lines =
        run(QStringLiteral("pdffonts"), {pdf}).split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    for (const QString& line : lines.mid(2)) {
        // name type... emb sub uni object
        const QStringList f = line.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(f.size(), 6) << line.toStdString();
        EXPECT_TRUE(f[0].contains(QRegularExpression(QStringLiteral("^[A-Z]{6}\\+"))))
            << line.toStdString();
        EXPECT_EQ(f.mid(f.size() - 5, 3), (QStringList{"yes", "yes", "yes"})) << line.toStdString();
    }
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Total ПРИВЕ")));
}

TEST_F(PdfWriterTest, ACharacterTheFaceLacksComesFromAFaceThatHasIt) {
    const QString file = qs(dir.path() / "fallback.pdf");
    QtPrinter printer(kPdfPrinterName, PdfEngine::Writer);
    beginInCourier(printer, file, 60, 100);
    int x = 0;
    for (char16_t ch : std::u16string(u"A\u2603B")) // no snowman in the mono face
        printer.drawChar(x += 60, 100, ch);
    printer.endDoc();
    EXPECT_EQ(pdfText(file).simplified(), QStringLiteral("A\u2603B"));
    const QString fonts = run(QStringLiteral("pdffonts"), {file});
    EXPECT_EQ(fonts.count(QStringLiteral("Identity-H")), 2) << fonts.toStdString();
    const auto words = pdfWords(file);
    ASSERT_EQ(words.size(), 1u);
    EXPECT_NEAR(words[0].xMin, (100 + 60) * 72.0 / 600, 0.05);
}

TEST_F(PdfWriterTest, ACharacterNoFaceHasLeavesTheMissingGlyphBox) {
    const QString file = qs(dir.path() / "missing.pdf");
    QtPrinter printer(kPdfPrinterName, PdfEngine::Writer);
    beginInCourier(printer, file, 360, 600);
    printer.drawChar(600, 600, u'\uE8FF'); // private use: no installed face has it
    printer.endDoc();
    const QImage page = pdfPicture(file, 150);
    int ink = 0;
    for (int y = 150; y < 300; ++y)
        for (int x = 150; x < 240; ++x)
            ink += qGray(page.pixel(x, y)) < 128;
    EXPECT_GT(ink, 20) << "the box is drawn in the cell";
}

TEST_F(PdfWriterTest, AFrameIsAFewLongStrokes) {
    const QString pdf = print(PdfEngine::Writer, kFramedJob, "own.pdf");
    QProcess qpdf;
    qpdf.start(QStringLiteral("qpdf"),
               {QStringLiteral("--qdf"), QStringLiteral("--object-streams=disable"), pdf,
                QStringLiteral("-")});
    qpdf.waitForFinished(60000);
    const QByteArray plain = qpdf.readAllStandardOutput();
    // 12 x 4 cells drawn cell by cell are some 40 pieces; joined, the corners'
    // pieces, one top, one bottom and two sides.
    const qsizetype lines = plain.count(" l\n");
    EXPECT_GT(lines, 4);
    EXPECT_LE(lines, 12);
    // The shades and blocks of one colour on one line are one rectangle each.
    EXPECT_EQ(plain.count(" re f\n"), 2);
}

TEST_F(PdfWriterTest, PagesReachTheFileBeforeTheDocumentEnds) {
    const QString file = qs(dir.path() / "long.pdf");
    QtPrinter printer(kPdfPrinterName, PdfEngine::Writer);
    printer.setPdfFile(file);
    printer.beginDoc();
    for (int page = 0; page < 1000; ++page) {
        for (int line = 0; line < 60; ++line)
            for (int col = 0; col < 78; ++col)
                printer.drawChar(col * 50, line * 100, char16_t(u'!' + (page + line + col) % 90));
        printer.newPage();
    }
    const qint64 before = QFileInfo(file + QStringLiteral(".part")).size();
    EXPECT_FALSE(QFileInfo::exists(file)) << "half a PDF under its real name";
    printer.endDoc();
    EXPECT_GT(before, QFileInfo(file).size() / 2) << "pages kept in memory till the end";
    EXPECT_FALSE(QFileInfo::exists(file + QStringLiteral(".part")));
    EXPECT_EQ(pdfPages(file), 1001);
}

TEST_F(PdfWriterTest, ADotImageInksItsSetDotsOnlyOnBothEngines) {
    for (PdfEngine how : {PdfEngine::Writer, PdfEngine::Qt}) {
        const QString file = qs(dir.path() / (how == PdfEngine::Qt ? "qt-image.pdf" : "image.pdf"));
        QtPrinter printer(kPdfPrinterName, how);
        printer.setPdfFile(file);
        printer.beginDoc();
        // Two dots, the left one set, over 600 x 300 printer dots.
        DotImage image{2, 1, {0x80}};
        printer.drawDotImage(600, 600, 600, 300, image, 0x0000FF); // red
        printer.endDoc();
        const QImage page = pdfPicture(file, 100);
        ASSERT_FALSE(page.isNull());
        // The printable area starts 100 dots in; 6 printer dots make one here.
        auto at = [&](int x, int y) { return page.pixel((100 + x) / 6, (100 + y) / 6); };
        EXPECT_LT(qGray(at(750, 750)), 200) << "the set dot, in red";
        EXPECT_EQ(qGray(at(1050, 750)), 255) << "the clear dot leaves the paper";
        EXPECT_EQ(qGray(at(750, 1000)), 255) << "nothing below the image";
    }
}

} // namespace
