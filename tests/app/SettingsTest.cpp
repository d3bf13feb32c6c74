// The settings table: the defaults of a first start, what stored values
// change, what stands in for values that can't be used, and saves that keep
// what others wrote into the file meanwhile.
#include "app/Settings.h"

#include "../engine/RecordingPrinter.h"
#include "../support/TempDir.h"
#include "engine/PrintEngine.h"
#include "platform/SettingsRegistry.h"

#include <QFile>
#include <QSettings>
#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    QString file() const { return QString::fromStdString((dir.path() / "s.ini").string()); }
    void writeFile(const char* ini) {
        QFile f(file());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(ini);
    }
    Settings read(const char* ini, StoredValues* stored = nullptr) {
        writeFile(ini);
        registry = std::make_unique<SettingsRegistry>(file());
        return readSettings(registry->openKey(kSettingsKey, false).get(), engine, stored);
    }

    TempDir dir;
    std::unique_ptr<SettingsRegistry> registry;
    RecordingPrinter printer; // 600 dpi, 100-dot border
    PrintEngine engine{printer};
};

TEST_F(SettingsTest, AFirstStartTakesMarginsFromTheBorderAndTheCellFromTheFont) {
    const Settings s = firstStartSettings(engine);
    EXPECT_EQ(s.topMargin, 4); // 100 dots = 4.23 mm
    EXPECT_EQ(s.bottomMargin, 4);
    EXPECT_EQ(s.leftMargin, 4);
    EXPECT_EQ(s.rightMargin, 4);
    EXPECT_EQ(s.fontName, "Courier New");
    EXPECT_EQ(s.fontSize, 10);
    EXPECT_TRUE(s.defaultFont && s.lineWrap && s.pageFeed && s.autoPrint && s.capture);
    EXPECT_FALSE(s.landscape || s.fontBold || s.fontItalic || s.formFeed);
    EXPECT_EQ(s.cpi, 12); // "@" of 10-point Courier is 50 dots wide
    EXPECT_EQ(s.lpi, 6);
    EXPECT_EQ(s.timeOut, 3);
    EXPECT_EQ(s.codePage, "866");
    EXPECT_EQ(s.spool, defaultJobFile());
}

TEST_F(SettingsTest, StoredValuesReplaceTheDefaultsWithinTheirRanges) {
    const Settings s = read("[General]\nOrientation=1\nLineWrap=0\nPageFeed=0\nTopMargin=15\n"
                            "LeftMargin=20\nBottomMargin=5\nRightMargin=6\nFontName=Liberation "
                            "Mono\nFontSize=12\nFontBold=1\nFontItalic=0\nDefaultFont=0\nCPI=40\n"
                            "LPI=0\nTimeOut=50\nEnd=300\nSpool=/dos/PRNSPL\n");
    EXPECT_TRUE(s.landscape);
    EXPECT_FALSE(s.lineWrap || s.pageFeed || s.fontItalic || s.defaultFont);
    EXPECT_EQ(s.topMargin, 15);
    EXPECT_EQ(s.leftMargin, 20);
    EXPECT_EQ(s.bottomMargin, 5);
    EXPECT_EQ(s.rightMargin, 6);
    EXPECT_EQ(s.fontName, "Liberation Mono");
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_TRUE(s.fontBold);
    EXPECT_EQ(s.cpi, 25); // the spin boxes clamp
    EXPECT_EQ(s.lpi, 1);
    EXPECT_EQ(s.timeOut, 10);
    EXPECT_EQ(s.end, 0) << "out of its byte: as if absent";
    EXPECT_EQ(s.spool, "/dos/PRNSPL");
}

TEST_F(SettingsTest, ValuesOfTheWrongTypeOrWithoutTextKeepTheirDefaults) {
    // "dummy" is the window's placeholder: however Marlix starts, it is no font.
    for (const char* name : {"FontName=dummy\n", "FontName=\n"})
        EXPECT_EQ(read(("[General]\n" + std::string(name)).c_str()).fontName, "Courier New")
            << name;
    const Settings s = read("[General]\nFontSize=abc\nTopMargin=ten\nDefaultFont=yes\nSpool=\n");
    EXPECT_EQ(s.fontSize, 10);
    EXPECT_EQ(s.topMargin, 4);
    EXPECT_TRUE(s.defaultFont);
    EXPECT_EQ(s.spool, defaultJobFile());
}

TEST_F(SettingsTest, ASaveWritesWhatChangedOntoTheFileAsItIsNow) {
    StoredValues stored;
    Settings s = read("[General]\nTimeOut=5\nSpool=/old/PRNSPL\nFontName=dummy\n", &stored);
    // Meanwhile the user edits the file by hand.
    {
        QSettings byHand(file(), QSettings::IniFormat);
        byHand.setValue(QStringLiteral("Spool"), QStringLiteral("/new/PRNSPL"));
        byHand.setValue(QStringLiteral("InitStr/Condensed"), QStringLiteral("[#15]"));
    }
    s.timeOut = 7;
    auto key = registry->openKey(kSettingsKey, true);
    writeSettings(*key, s, &stored);
    key->flush();
    QSettings saved(file(), QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("TimeOut")).toInt(), 7) << "changed here";
    EXPECT_EQ(saved.value(QStringLiteral("Spool")).toString(), "/new/PRNSPL") << "changed there";
    EXPECT_EQ(saved.value(QStringLiteral("InitStr/Condensed")).toString(), "[#15]");
    EXPECT_EQ(saved.value(QStringLiteral("FontName")).toString(), "Courier New")
        << "a value that stood for nothing is written as what it became";
    EXPECT_EQ(saved.value(QStringLiteral("CPI")).toInt(), 12) << "every value is in the file";
}

} // namespace
