// Print settings read from the store: defaults of a first start and what
// stored values change.
#include "app/StoredSettings.h"

#include "../engine/RecordingPrinter.h"
#include "../support/TempDir.h"
#include "platform/SettingsRegistry.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

class StoredSettingsTest : public ::testing::Test {
protected:
    std::unique_ptr<RegistryKey> store(const char* ini) {
        const QString file = QString::fromStdString((dir.path() / "s.ini").string());
        QFile f(file);
        f.open(QIODevice::WriteOnly);
        f.write(ini);
        f.close();
        registry = std::make_unique<SettingsRegistry>(file);
        return registry->openKey(kSettingsKey, false);
    }

    TempDir dir;
    std::unique_ptr<SettingsRegistry> registry;
    RecordingPrinter printer; // 600 dpi, 100-dot border
    PrintEngine engine{printer};
};

TEST_F(StoredSettingsTest, AFirstStartTakesMarginsFromTheBorderAndTheCellFromTheFont) {
    const PrintSettings s = readPrintSettings(nullptr, engine);
    EXPECT_EQ(s.topMargin, 4); // 100 dots = 4.23 mm
    EXPECT_EQ(s.bottomMargin, 4);
    EXPECT_EQ(s.leftMargin, 4);
    EXPECT_EQ(s.rightMargin, 4);
    EXPECT_EQ(s.fontName, "Courier New");
    EXPECT_EQ(s.fontSize, 10);
    EXPECT_TRUE(s.defaultFont);
    EXPECT_TRUE(s.lineWrap);
    EXPECT_TRUE(s.pageFeed);
    EXPECT_FALSE(s.landscape);
    EXPECT_FALSE(s.bold || s.italic || s.underline || s.strikeOut);
    EXPECT_EQ(s.cpi, 12); // "@" of 10-point Courier is 50 dots wide
    EXPECT_EQ(s.lpi, 6);
}

TEST_F(StoredSettingsTest, StoredValuesReplaceTheDefaults) {
    auto key = store("[General]\nOrientation=1\nLineWrap=0\nPageFeed=0\nTopMargin=15\n"
                     "LeftMargin=20\nBottomMargin=5\nRightMargin=6\nFontName=Liberation Mono\n"
                     "FontSize=12\nFontBold=1\nFontItalic=0\nDefaultFont=0\nCPI=40\nLPI=0\n");
    const PrintSettings s = readPrintSettings(key.get(), engine);
    EXPECT_TRUE(s.landscape);
    EXPECT_FALSE(s.lineWrap);
    EXPECT_FALSE(s.pageFeed);
    EXPECT_EQ(s.topMargin, 15);
    EXPECT_EQ(s.leftMargin, 20);
    EXPECT_EQ(s.bottomMargin, 5);
    EXPECT_EQ(s.rightMargin, 6);
    EXPECT_EQ(s.fontName, "Liberation Mono");
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_TRUE(s.bold);
    EXPECT_FALSE(s.italic);
    EXPECT_FALSE(s.defaultFont);
    EXPECT_EQ(s.cpi, 25); // the spin boxes clamp
    EXPECT_EQ(s.lpi, 1);
}

TEST_F(StoredSettingsTest, ValuesOfTheWrongTypeKeepTheirDefaults) {
    auto key = store("[General]\nFontSize=abc\nTopMargin=ten\nDefaultFont=yes\n");
    const PrintSettings s = readPrintSettings(key.get(), engine);
    EXPECT_EQ(s.fontSize, 10);
    EXPECT_EQ(s.topMargin, 4);
    EXPECT_TRUE(s.defaultFont);
}

TEST_F(StoredSettingsTest, PrinterChoice) {
    auto key = store("[General]\nPrinter=marlixtest\nPdfFolder=/tmp/out\n");
    const PrinterChoice c = readPrinterChoice(key.get());
    EXPECT_EQ(c.printer, "marlixtest");
    EXPECT_EQ(c.pdfFolder, "/tmp/out");
    EXPECT_TRUE(readPrinterChoice(nullptr).printer.empty());
}

} // namespace
