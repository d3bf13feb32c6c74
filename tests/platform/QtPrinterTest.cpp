// The real "Print to PDF" printer: page data, fonts, documents and the PDF
// files a job leaves behind, read back with poppler.
#include "platform/QtPrinter.h"

#include "../support/Pdf.h"
#include "../support/TempDir.h"
#include "core/Errors.h"
#include "engine/PrintEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

QString qs(const std::filesystem::path& p) {
    return QString::fromStdString(p.string());
}

// Every case on both ways of making the PDF: the printer's own writer and
// Qt's PDF engine.
class PdfPrinterTest : public ::testing::TestWithParam<PdfEngine> {
protected:
    void SetUp() override {
        printer.setPdfFolder(qs(dir.path() / "pdf"));
        engine.settings.topMargin = engine.settings.bottomMargin = 10;
        engine.settings.leftMargin = engine.settings.rightMargin = 10;
        engine.settings.defaultFont = false;
        engine.settings.cpi = 10;
        engine.settings.lpi = 6;
    }
    void print(std::string_view bytes) {
        engine.checksize();
        engine.PrintOut(dir.write("job", bytes));
    }

    TempDir dir;
    QtPrinter printer{kPdfPrinterName, GetParam()};
    PrintEngine engine{printer};
};

INSTANTIATE_TEST_SUITE_P(Engines, PdfPrinterTest,
                         ::testing::Values(PdfEngine::Writer, PdfEngine::Qt), [](const auto& info) {
                             return info.param == PdfEngine::Writer ? "Writer" : "Qt";
                         });

TEST(PdfPrinter, IsAnA4LaserPrinterAt600DpiWithA100DotBorder) {
    QtPrinter printer(kPdfPrinterName);
    EXPECT_TRUE(printer.isPdf());
    EXPECT_TRUE(QtPrinter::printerNames().contains(kPdfPrinterName));
    EXPECT_EQ(printer.resolutionX(), 600);
    EXPECT_EQ(printer.resolutionY(), 600);
    const PageData p = printer.pageData();
    EXPECT_EQ(p.offsetX, 100);
    EXPECT_EQ(p.offsetY, 100);
    EXPECT_NEAR(p.width, 4960, 3);  // 210 mm
    EXPECT_NEAR(p.height, 7016, 3); // 297 mm
    printer.setOrientation(Orientation::Landscape);
    EXPECT_EQ(printer.pageData().width, p.height);
    EXPECT_EQ(QtPrinter::findPrinter(QStringLiteral("print to pdf")), kPdfPrinterName);
    EXPECT_TRUE(QtPrinter::findPrinter(QStringLiteral("No such printer")).isEmpty());
}

TEST(PdfPrinter, CourierNewIsAFixedPitchFaceThatTakesTheCellWidth) {
    QtPrinter printer(kPdfPrinterName);
    LogicalFont lf;
    lf.face = "Courier New";
    lf.height = 100;
    lf.pitchAndFamily = 1;
    printer.setFont(lf);
    EXPECT_EQ(printer.textWidth(u'!'), printer.textWidth(u'W'));
    EXPECT_NEAR(printer.textHeight(u'@'), 100, 1);
    lf.width = 120; // double width at 10 characters per inch
    printer.setFont(lf);
    EXPECT_NEAR(printer.textWidth(u'@'), 120, 1);
    EXPECT_NEAR(printer.textHeight(u'@'), 100, 1);
}

TEST_P(PdfPrinterTest, CharactersStandInTheirCellsInThePdf) {
    print("A B\r\nCD\fEF");
    ASSERT_EQ(printer.writtenFiles().size(), 1);
    const QString pdf = printer.writtenFiles().first();
    EXPECT_TRUE(QFileInfo(pdf).fileName().startsWith(QStringLiteral("DOS-console task ")));
    EXPECT_EQ(pdfPages(pdf), 2);

    const auto words = pdfWords(pdf);
    ASSERT_EQ(words.size(), 4u);
    // The printable area starts 100 dots in; the first cell 136 dots further,
    // each cell 60 dots: in points, 72 / 600 of that.
    const double dot = 72.0 / 600.0;
    EXPECT_EQ(words[0].text, QStringLiteral("A"));
    EXPECT_NEAR(words[0].xMin, (100 + 136) * dot, 0.05);
    EXPECT_NEAR(words[0].xMax - words[0].xMin, 60 * dot, 0.1);
    EXPECT_NEAR(words[1].xMin, (100 + 136 + 2 * 60) * dot, 0.05);
    EXPECT_EQ(words[2].text, QStringLiteral("CD"));
    EXPECT_NEAR(words[2].xMin, (100 + 136) * dot, 0.05);
    EXPECT_NEAR(words[2].yMin - words[0].yMin, 100 * dot, 0.5);
    EXPECT_EQ(words[3].text, QStringLiteral("EF"));
    EXPECT_EQ(words[3].page, 2);
    EXPECT_NEAR(words[3].xMin, (100 + 136) * dot, 0.05);
}

TEST_P(PdfPrinterTest, PageFeedOffKeepsOnePage) {
    engine.settings.pageFeed = false;
    print("AB\r\nCD\fEF");
    ASSERT_EQ(printer.writtenFiles().size(), 1);
    EXPECT_EQ(pdfPages(printer.writtenFiles().first()), 1);
    // EF starts the line of CD again at the left edge.
    const auto words = pdfWords(printer.writtenFiles().first());
    auto find = [&](const char* text) {
        return *std::find_if(words.begin(), words.end(),
                             [&](const PdfWord& w) { return w.text == QLatin1String(text); });
    };
    ASSERT_EQ(words.size(), 3u);
    EXPECT_NEAR(find("EF").xMin, find("CD").xMin, 0.05);
    EXPECT_NEAR(find("EF").yMin, find("CD").yMin, 0.05);
}

TEST_P(PdfPrinterTest, AJobOfControlCodesWritesNoPdf) {
    print("\r\n\f\r\n\f");
    EXPECT_TRUE(printer.writtenFiles().isEmpty());
    EXPECT_TRUE(QDir(qs(dir.path() / "pdf")).entryList(QDir::Files).isEmpty());
}

TEST_P(PdfPrinterTest, LandscapeSettingGivesALandscapePage) {
    engine.settings.landscape = true;
    print("Landscape");
    ASSERT_EQ(printer.writtenFiles().size(), 1);
    const QString info = run(QStringLiteral("pdfinfo"), {printer.writtenFiles().first()});
    EXPECT_TRUE(info.contains(QStringLiteral("842 x 595"))) << info.toStdString();
}

TEST_P(PdfPrinterTest, DocumentsNeverOverwriteEachOther) {
    print("one");
    print("two");
    ASSERT_EQ(printer.writtenFiles().size(), 2);
    EXPECT_NE(printer.writtenFiles()[0], printer.writtenFiles()[1]);
    EXPECT_TRUE(pdfText(printer.writtenFiles()[0]).contains(QStringLiteral("one")));
    EXPECT_TRUE(pdfText(printer.writtenFiles()[1]).contains(QStringLiteral("two")));
}

TEST_P(PdfPrinterTest, OrientationCannotChangeWhileADocumentIsOpen) {
    printer.setTitle(kJobTitle);
    printer.beginDoc();
    try {
        printer.setOrientation(Orientation::Landscape);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Printing in progress");
    }
    printer.abortDoc();
    EXPECT_FALSE(printer.printing());
    EXPECT_TRUE(QDir(qs(dir.path() / "pdf")).entryList(QDir::Files).isEmpty())
        << "an aborted document leaves no PDF";
}

TEST_P(PdfPrinterTest, AnUnwritablePdfFolderIsAClearErrorAndKeepsTheJob) {
    const std::string blocker = dir.write("not-a-folder", "x");
    printer.setPdfFolder(QString::fromStdString(blocker + "/pdf"));
    const std::string job = dir.write("job", "AB");
    try {
        engine.PrintOut(job);
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create file"), std::string::npos);
    }
    EXPECT_FALSE(printer.printing());
    EXPECT_TRUE(std::filesystem::exists(job));
}

} // namespace
