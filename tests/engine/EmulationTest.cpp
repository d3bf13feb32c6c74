// The built-in Epson ESC/P2 emulation, chosen like a scheme, on a recording
// printer of 600 dpi: at 10 CPI and 6 LPI a cell is 60 dots wide and a line
// 100 dots high. One data row per command; each row says what it checks.
#include "JobFixture.h"
#include "charset/CodeSet.h"
#include "engine/EscP2.h"

#include <gtest/gtest.h>

using namespace marlix;
using namespace marlix::test;
using namespace std::string_literals;

namespace {

constexpr int kCell = 60, kLine = 100;

class EmulationTest : public InterpreterTest {
protected:
    void SetUp() override {
        InterpreterTest::SetUp();
        scheme(kEscP2Scheme);
        engine.codePageFile = [](const std::string& name) {
            return std::string(MARLIX_SOURCE_DATA "/") + name + ".cp";
        };
    }
    std::u16string drawn() {
        std::u16string all;
        for (const auto& doc : printer.docs)
            for (const auto& page : doc.pages)
                for (const DrawnChar& c : page.chars)
                    all += c.ch;
        return all;
    }
    // The first character ch drawn, on any page.
    const DrawnChar& find(char16_t ch, int* pageIndex = nullptr) {
        int index = 0;
        for (const auto& doc : printer.docs)
            for (const auto& page : doc.pages) {
                for (const DrawnChar& c : page.chars)
                    if (c.ch == ch) {
                        if (pageIndex) *pageIndex = index;
                        return c;
                    }
                ++index;
            }
        throw std::runtime_error("not drawn");
    }
    std::vector<DrawnImage> images() {
        std::vector<DrawnImage> all;
        for (const auto& doc : printer.docs)
            for (const auto& page : doc.pages)
                all.insert(all.end(), page.images.begin(), page.images.end());
        return all;
    }
};

TEST_F(EmulationTest, NoByteOfAnyCommandReachesThePage) {
    for (const escp2::Command& c : escp2::commands()) {
        const escp2::Effect e = c.effect;
        using escp2::Effect;
        // These move the position, as they should; they are text neither.
        if (e == Effect::CarriageReturn || e == Effect::LineFeed || e == Effect::FormFeed ||
            e == Effect::Backspace || e == Effect::VerticalTab)
            continue;
        std::string command = (c.escape ? "\x1b" : "") + std::string(c.bytes);
        const std::string data = command + std::string(2000, '\x01') + '\0';
        command = data.substr(0, escp2::measure(data).size);
        printer.docs.clear();
        print("A" + command + "B");
        EXPECT_EQ(drawn(), u"AB") << "command " << c.bytes << ", " << command.size() << " bytes";
    }
    printer.docs.clear();
    print("A\x1b~B\x1b(z\x02\x00xyC"s); // unknown ones go too
    EXPECT_EQ(drawn(), u"ABC");
}

TEST_F(EmulationTest, ACommandCutOffByTheEndOfTheJobIsDroppedNotPrinted) {
    print("A\x1bK\x10\x00\x41\x42");
    EXPECT_EQ(drawn(), u"A");
    EXPECT_TRUE(images().empty());
}

// Styles: the font and cell of "X", printed after the command.
struct StyleRow {
    const char* name;
    std::string command;
    int weight = 0;
    bool italic = false, underline = false, strikeOut = false;
    int advance = kCell; // to the next character
    int height = kLine;  // the font's cell
    std::uint32_t color = 0;
    int dy = 0; // of X against the line
};

class Styles : public EmulationTest, public ::testing::WithParamInterface<StyleRow> {};

TEST_P(Styles, SetTheFontAndCell) {
    const StyleRow& row = GetParam();
    print("A" + row.command + "XY\r\n");
    const DrawnChar& a = find(u'A');
    const DrawnChar& x = find(u'X');
    const DrawnChar& y = find(u'Y');
    EXPECT_EQ(x.font.weight, row.weight);
    EXPECT_EQ(x.font.italic, row.italic);
    EXPECT_EQ(x.font.underline, row.underline);
    EXPECT_EQ(x.font.strikeOut, row.strikeOut);
    EXPECT_EQ(y.x - x.x, row.advance);
    EXPECT_EQ(x.font.height, row.height);
    EXPECT_EQ(x.color, row.color);
    EXPECT_EQ(x.y - a.y, row.dy);
}

const StyleRow kStyles[] = {
    {"EscE",
     "\x1b"
     "E",
     700},
    {"EscF", "\x1b"
             "E\x1b"
             "F"},
    {"EscG", "\x1bG", 700},
    {"EscH", "\x1bG\x1bH"},
    {"Esc4",
     "\x1b"
     "4",
     0, true},
    {"Esc5", "\x1b"
             "4\x1b"
             "5"},
    {"EscMinus1", "\x1b-\x01", 0, false, true},
    {"EscMinusAscii1", "\x1b-1", 0, false, true},
    {"EscMinus0", "\x1b-\x01\x1b-\x00"s},
    {"EscParenMinusUnder", "\x1b(-\x03\x00\x01\x01\x01"s, 0, false, true},
    {"EscParenMinusThrough", "\x1b(-\x03\x00\x01\x02\x01"s, 0, false, false, true},
    {"EscParenMinusOff", "\x1b(-\x03\x00\x01\x02\x01\x1b(-\x03\x00\x01\x02\x00"s},
    {"EscParenMinusOver", "\x1b(-\x03\x00\x01\x03\x01"s}, // no style stands for it
    {"EscBangElite", "\x1b!\x01", 0, false, false, false, 50},
    {"EscBangCondensed", "\x1b!\x04", 0, false, false, false, 33},
    {"EscBangBold", "\x1b!\x08", 700},
    {"EscBangDoubleStrike", "\x1b!\x10", 700},
    {"EscBangWide", "\x1b!\x20", 0, false, false, false, 120},
    {"EscBangItalic", "\x1b!\x40", 0, true},
    {"EscBangUnderline", "\x1b!\x80", 0, false, true},
    {"EscBangAll", "\x1b!\xff", 700, true, true, false, 2 * 30},
    {"EscBangNone", "\x1b!\xff\x1b!\x00"s},
    {"EscW1", "\x1bW\x01", 0, false, false, false, 120},
    {"EscW0", "\x1bW\x01\x1bW0", 0},
    {"Escw1", "\x1bw\x01", 0, false, false, false, kCell, 2 * kLine},
    {"Escw0", "\x1bw\x01\x1bw\x00"s},
    {"SO", "\x0e", 0, false, false, false, 120},
    {"EscSO", "\x1b\x0e", 0, false, false, false, 120},
    {"DC4", "\x0e\x14"},
    {"SOEndsWithTheLine", "\x0e\r"},
    {"SI", "\x0f", 0, false, false, false, 33},
    {"EscSI", "\x1b\x0f", 0, false, false, false, 33},
    {"DC2", "\x0f\x12"},
    {"EscS0", "\x1bS\x00"s, 0, false, false, false, kCell, 67},
    {"EscS1", "\x1bS\x01", 0, false, false, false, kCell, 67, 0, 33},
    {"EscT", "\x1bS\x01\x1bT"},
    {"EscP", "\x1bM\x1bP"},
    {"EscM", "\x1bM", 0, false, false, false, 50},
    {"Escg", "\x1bg", 0, false, false, false, 40},
    {"EscXPitch", "\x1bX\x1e\x00\x00"s, 0, false, false, false, 50},
    {"EscXPoint", "\x1bX\x00\x28\x00"s, 0, false, false, false, kCell, 200},
    {"EscXTooLarge", "\x1bX\x00\xff\x7f"s},
    {"EscXProportional", "\x1bX\x01\x00\x00"s},
    {"Escc",
     "\x1b"
     "c\x1e\x00"s,
     0, false, false, false, 50}, // 30/360 inch: 12 CPI
    {"Escp", "\x1bp\x01"},        // proportional: the grid stays
    {"Escr", "\x1br\x05", 0, false, false, false, kCell, kLine, 0x0000FF},
    {"EscrUnknown", "\x1br\x09"},
    {"EscAt", "\x1b"
              "E\x1b-\x01\x1bW\x01\x1br\x01\x1b@"},
};

INSTANTIATE_TEST_SUITE_P(Epson, Styles, ::testing::ValuesIn(kStyles),
                         [](const auto& info) { return std::string(info.param.name); });

// Layout: where "B" lands against "A", the first character of the job.
struct LayoutRow {
    const char* name;
    std::string job;
    int dx, dy;
    int page = 0; // of B
};

class Layout : public EmulationTest, public ::testing::WithParamInterface<LayoutRow> {};

TEST_P(Layout, PutsTheNextCharacterInPlace) {
    const LayoutRow& row = GetParam();
    print(row.job);
    int page = -1;
    const DrawnChar& a = find(u'A');
    const DrawnChar& b = find(u'B', &page);
    EXPECT_EQ(b.x - a.x, row.dx);
    EXPECT_EQ(b.y - a.y, row.dy);
    EXPECT_EQ(page, row.page);
}

const LayoutRow kLayout[] = {
    {"CR", "AA\rB", 0, 0},
    {"LFReturnsToo", "A\nB", 0, kLine},
    {"BS", "AA\bB", kCell, 0},
    {"FF", "A\fB", 0, 0, 1},
    {"Esc0",
     "A\x1b"
     "0\nB",
     0, 75},
    {"Esc1",
     "A\x1b"
     "1\nB",
     0, 58},
    {"Esc2",
     "A\x1b"
     "3\x01\x1b"
     "2\nB",
     0, kLine},
    {"Esc3",
     "A\x1b"
     "3\x3c\nB",
     0, 200},
    {"EscPlus", "A\x1b+\x78\nB", 0, 200},
    {"EscA",
     "A\x1b"
     "A\x1e\nB",
     0, 300},
    {"EscJ",
     "A\x1bJ\x5a"
     "B",
     kCell, 300},
    {"Escj",
     "A\x1bJ\xb4\x1bj\x6c"
     "B"s,
     kCell, 300},
    {"EscjNotAboveTheTop",
     "A\x1bj\xff"
     "B"s,
     kCell, 0},
    {"EscDollar",
     "A\x1b$\x3c\x00"
     "B"s,
     600, 0},
    {"EscDollarPastTheMargin",
     "A\x1b$\xff\x7f"
     "B"s,
     kCell, 0},
    {"EscBackslash",
     "A\x1b\\\x3c\x00"
     "B"s,
     kCell + 300, 0},
    {"EscBackslashBack",
     "AAAAAAAAAA\x1b\\\xc4\xff"
     "B"s,
     10 * kCell - 300, 0},
    {"EscParenUThenDollar",
     "A\x1b(U\x01\x00\x3c\x1b$\x01\x00"
     "B"s,
     10, 0},
    {"EscParenV",
     "A\x1b(V\x02\x00\x68\x01"
     "B"s,
     kCell, 600},
    {"EscParenv",
     "A\x1b(v\x02\x00\xb4\x00"
     "B"s,
     kCell, 300},
    {"EscParenvUp",
     "A\x1b(v\x02\x00\xb4\x00\x1b(v\x02\x00\x4c\xff"
     "B"s,
     kCell, 0},
    {"EscParenUThenv",
     "A\x1b(U\x01\x00\x14\x1b(v\x02\x00\x5a\x00"
     "B"s,
     kCell, 300},
    {"HT", "A\tB", 8 * kCell, 0},
    {"EscD",
     "A\x1b"
     "D\x05\x0a\x00\tB"s,
     5 * kCell, 0},
    {"EscDEnd",
     "A\x1b"
     "D\x05\x00\t\tB"s,
     5 * kCell, 0}, // past the last stop it stays
    {"EscDNulClears",
     "A\x1b"
     "D\x00\tB"s,
     kCell, 0},
    {"EscAtTabs",
     "A\x1b"
     "D\x05\x00\x1b@\tB"s,
     8 * kCell, 0},
    {"VT",
     "AA\x0b"
     "B",
     0, kLine},
    {"EscB",
     "A\x1b"
     "B\x03\x07\x00\x0b\x0b"
     "B"s,
     0, 7 * kLine},
    {"EscBPastTheLast",
     "A\x1b"
     "B\x03\x00\x0b\x0b"
     "B"s,
     0, 0, 1},
    {"Escl", "A\x1bl\x05\r\nB", 5 * kCell, kLine},
    {"EsclAtLineStart",
     "\x1bl\x05"
     "A\r\n\x1bl\x02"
     "B",
     -3 * kCell, kLine},
    {"EscQ",
     "A\x1bQ\x02"
     "CB",
     0, kLine}, // C fills column 2, B wraps
    {"EscQBeyondThePaper",
     "A\x1bQ\x02\x1bQ\xff"
     "CB",
     2 * kCell, 0},
    {"EscSP",
     "\x1b \x12"
     "AB",
     kCell + 60, 0},
    {"EscCLines",
     "A\x1b"
     "C\x03\n\nB\nB",
     0, 2 * kLine},
    {"EscCLinesNext",
     "A\x1b"
     "C\x03\n\n\nB",
     0, 0, 1},
    {"EscCInches",
     "A\x1b"
     "C\x00\x01\n\n\n\n\n\nB"s,
     0, 0, 1},
    {"EscN",
     "A\x1b"
     "C\x03\x1bN\x01\n\nB"s,
     0, 0, 1},
    {"EscO",
     "A\x1b"
     "C\x03\x1bN\x01\x1bO\n\nB"s,
     0, 2 * kLine},
    {"EscParenC", "A\x1b(C\x02\x00\x68\x01\n\n\n\n\n\nB"s, 0, 0, 1},
    {"EscParencTop", "A\x1b(c\x04\x00\x24\x00\x68\x01\fB"s, 0, 60, 1},
    {"EscParencBottom", "A\x1b(c\x04\x00\x00\x00\x68\x01\n\n\n\n\n\nB"s, 0, 0, 1},
    {"EscAtForm",
     "A\x1b"
     "C\x03\x1b@\n\n\nB"s,
     0, 3 * kLine},
};

INSTANTIATE_TEST_SUITE_P(Epson, Layout, ::testing::ValuesIn(kLayout),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulationTest, TheRightMarginEndsTheLine) {
    print("A\x1bQ\x02"
          "BC");
    EXPECT_EQ(find(u'B').x - find(u'A').x, kCell);
    EXPECT_EQ(find(u'C').x, find(u'A').x) << "wrapped at column 2";
    EXPECT_EQ(find(u'C').y - find(u'A').y, kLine);
}

// Character tables: what the bytes after the command print.
struct TableRow {
    const char* name;
    std::string job;
    std::u16string printed;
};

class Tables : public EmulationTest, public ::testing::WithParamInterface<TableRow> {};

TEST_P(Tables, PrintTheirCharacters) {
    print(GetParam().job);
    EXPECT_EQ(drawn(), GetParam().printed);
}

// ESC ( t assigning a registered table (d2 d3) to table 1, then ESC t 1.
std::string table(char d2) {
    return "\x1b(t\x03\x00\x01"s + d2 + '\0' + "\x1bt\x01";
}

const TableRow kTables[] = {
    {"LoadedTableByDefault", "\x80[", u"\u0080["},
    {"Pc437", table(1) + "\x80\x85", u"Çà"},
    {"Pc850", table(3) + "\x9b", u"ø"},
    {"Pc852", table(10) + "\x85", u"ů"},
    {"Pc866", table(14) + "\x80\xaf", u"Ап"},
    {"UnknownTableKeepsTheSlot", table(29) + "\x80", u"\u0080"},
    {"SwitchedMidJob", table(14) + "\x80\x1b(t\x03\x00\x03\x01\x00\x1bt\x03\x80\x1bt\x01\x80"s,
     u"АÇА"},
    {"EscTAscii", "\x1b(t\x03\x00\x01\x0e\x00\x1bt1\x80"s, u"А"},
    {"ItalicTable", "\x1bt\x00\xc1\xe2"s, u"Ab"},
    {"ItalicUpperControls",
     "\x1bt\x00"
     "A\x8d"
     "B"s,
     u"AB"},
    {"Esc6",
     "\x1bt\x00\x1b"
     "6\x8d"s,
     u"\u008d"},
    {"Esc7",
     "\x1bt\x00\x1b"
     "6\x1b"
     "7A\x8a"
     "B"s,
     u"AB"},
    {"EscRUsa", "\x1bR\x00[#]"s, u"[#]"},
    {"EscRFrance", "\x1bR\x01@[\\]{|}~", u"à°ç§éùè¨"},
    {"EscRGermany", "\x1bR\x02[\\]{|}~", u"ÄÖÜäöüß"},
    {"EscRUk", "\x1bR\x03#", u"£"},
    {"EscRDenmark1", "\x1bR\x04[\\]", u"ÆØÅ"},
    {"EscRSweden", "\x1bR\x05$@^`", u"¤ÉÜé"},
    {"EscRItaly", "\x1bR\x06[`{|}~", u"°ùàòèì"},
    {"EscRSpain1", "\x1bR\x07#[\\]{|", u"₧¡Ñ¿¨ñ"},
    {"EscRJapan", "\x1bR\x08\\", u"¥"},
    {"EscRNorway", "\x1bR\x09$[", u"¤Æ"},
    {"EscRDenmark2", "\x1bR\x0a@", u"É"},
    {"EscRSpain2", "\x1bR\x0b@^{}~", u"áéíóú"},
    {"EscRLatinAmerica", "\x1bR\x0c`", u"ü"},
    {"EscRKorea", "\x1bR\x0d\\", u"₩"},
    {"EscRLegal", "\x1bR\x40@[\\]^{|}~", u"§°'\"¶©®†™"},
    {"EscRUnknown", "\x1bR\x0e[", u"["},
    {"EscRWithItalics", "\x1bR\x02\x1bt\x00\xdb"s, u"Ä"},
    {"EscI1", "\x1bI\x01\x01\x1c\x1f", u"☺∟▼"},
    {"EscI1KeepsControls",
     "\x1bI\x01"
     "A\rB",
     u"AB"},
    {"EscI0", "\x1bI\x01\x1bI\x00\x01"s, u" "},
    {"EscAtTables", "\x1bR\x02" + table(14) + "\x1b@[\x80", u"[\u0080"},
};

INSTANTIATE_TEST_SUITE_P(Epson, Tables, ::testing::ValuesIn(kTables),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulationTest, TheItalicTablePrintsItsUpperHalfInItalics) {
    print("\x1bt\x00"
          "A\xc1"s);
    EXPECT_FALSE(find(u'A').font.italic);
    const auto& c = chars();
    ASSERT_EQ(c.size(), 2u);
    EXPECT_TRUE(c[1].font.italic);
    EXPECT_EQ(c[1].x - c[0].x, kCell);
}

TEST_F(EmulationTest, TheLoadedCodePageIsTheDefaultTable) {
    codeset(engine.codePage, MARLIX_SOURCE_DATA "/866.cp");
    print("\x80\x1bR\x02[\x1bt\x03\x80");
    EXPECT_EQ(drawn(), u"АÄА");
}

TEST_F(EmulationTest, ItsOwnInitialisationStringIsInterpreted) {
    registry.openKey(SchemeStore::schemeKey(kEscP2Scheme), true)
        ->writeString("InitStr", "[#27]R[#3]");
    print("#");
    EXPECT_EQ(drawn(), u"£");
}

TEST_F(EmulationTest, AChosenInitialisationStringIsInterpretedToo) {
    registry.openKey(kInitStrKey, true)->writeString("German", "[#27]R[#2]");
    store.SelInit("&German");
    print("[");
    EXPECT_EQ(drawn(), u"Ä");
}

// Bit images: placed after "A" on its line, at their true density.
struct ImageRow {
    const char* name;
    std::string command;
    int columns, rows;
    int width, height;                     // in 600 dpi dots
    std::vector<std::pair<int, int>> dots; // set (column, row) to check
    std::uint32_t color = 0;
};

class Images : public EmulationTest, public ::testing::WithParamInterface<ImageRow> {};

TEST_P(Images, ArePlacedAtTheirDensity) {
    const ImageRow& row = GetParam();
    print("A" + row.command + "B");
    const auto all = images();
    const DrawnChar& a = find(u'A');
    if (row.columns == 0) {
        // A density the printers don't define: the command goes whole, unprinted.
        EXPECT_TRUE(all.empty());
        EXPECT_EQ(drawn(), u"AB");
        EXPECT_EQ(find(u'B').x, a.x + kCell);
        return;
    }
    ASSERT_EQ(all.size(), 1u);
    const DrawnImage& image = all[0];
    EXPECT_EQ(image.x, a.x + kCell);
    EXPECT_EQ(image.y, a.y);
    ASSERT_EQ(image.image.columns, row.columns);
    ASSERT_EQ(image.image.rows, row.rows);
    EXPECT_EQ(image.width, row.width);
    EXPECT_EQ(image.height, row.height);
    EXPECT_EQ(image.color, row.color);
    for (auto [c, r] : row.dots)
        EXPECT_TRUE(image.image.dot(c, r)) << c << "," << r;
    int set = 0;
    for (int r = 0; r < image.image.rows; ++r)
        for (int c = 0; c < image.image.columns; ++c)
            set += image.image.dot(c, r);
    EXPECT_EQ(set, int(row.dots.size())) << "no other dot";
    EXPECT_EQ(find(u'B').x, image.x + image.width) << "text goes on after the image";
}

// Two columns: the first one's top and bottom dot, the second one's second dot.
const std::string k8 = "\x81\x40";
const std::string k24 = "\x80\x00\x01\x40\x00\x00"s;
const std::string k48 = "\x80\x00\x00\x00\x00\x01\x40\x00\x00\x00\x00\x00"s;
const std::vector<std::pair<int, int>> kDots8 = {{0, 0}, {0, 7}, {1, 1}};
const std::vector<std::pair<int, int>> kDots24 = {{0, 0}, {0, 23}, {1, 1}};
const std::vector<std::pair<int, int>> kDots48 = {{0, 0}, {0, 47}, {1, 1}};

const ImageRow kImages[] = {
    {"EscK", "\x1bK\x02\x00"s + k8, 2, 8, 20, 80, kDots8},
    {"EscL", "\x1bL\x02\x00"s + k8, 2, 8, 10, 80, kDots8},
    {"EscY", "\x1bY\x02\x00"s + k8, 2, 8, 10, 80, kDots8},
    {"EscZ", "\x1bZ\x02\x00"s + k8, 2, 8, 5, 80, kDots8},
    {"EscStar0", "\x1b*\x00\x02\x00"s + k8, 2, 8, 20, 80, kDots8},
    {"EscStar1", "\x1b*\x01\x02\x00"s + k8, 2, 8, 10, 80, kDots8},
    {"EscStar2", "\x1b*\x02\x02\x00"s + k8, 2, 8, 10, 80, kDots8},
    {"EscStar3", "\x1b*\x03\x02\x00"s + k8, 2, 8, 5, 80, kDots8},
    {"EscStar4", "\x1b*\x04\x02\x00"s + k8, 2, 8, 15, 80, kDots8},
    {"EscStar5", "\x1b*\x05\x02\x00"s + k8, 2, 8, 17, 80, kDots8},
    {"EscStar6", "\x1b*\x06\x02\x00"s + k8, 2, 8, 13, 80, kDots8},
    {"EscStar7", "\x1b*\x07\x02\x00"s + k8, 2, 8, 8, 80, kDots8},
    {"EscStar32", "\x1b*\x20\x02\x00"s + k24, 2, 24, 20, 80, kDots24},
    {"EscStar33", "\x1b*\x21\x02\x00"s + k24, 2, 24, 10, 80, kDots24},
    {"EscStar38", "\x1b*\x26\x02\x00"s + k24, 2, 24, 13, 80, kDots24},
    {"EscStar39", "\x1b*\x27\x02\x00"s + k24, 2, 24, 7, 80, kDots24},
    {"EscStar40", "\x1b*\x28\x02\x00"s + k24, 2, 24, 3, 80, kDots24},
    {"EscStar71", "\x1b*\x47\x02\x00"s + k48, 2, 48, 7, 80, kDots48},
    {"EscStar72", "\x1b*\x48\x02\x00"s + k48, 2, 48, 3, 80, kDots48},
    {"EscStar73", "\x1b*\x49\x02\x00"s + k48, 2, 48, 3, 80, kDots48},
    {"EscCaret", "\x1b^\x00\x02\x00\x80\x80\x40\x00"s, 2, 9, 20, 75, {{0, 0}, {0, 8}, {1, 1}}},
    {"EscCaret120", "\x1b^\x01\x02\x00\x80\x80\x40\x00"s, 2, 9, 10, 75, {{0, 0}, {0, 8}, {1, 1}}},
    {"EscQuestion", "\x1b?K\x03\x1bK\x02\x00"s + k8, 2, 8, 5, 80, kDots8},
    {"EscQuestion24", "\x1b?L\x21\x1bL\x02\x00"s + k24, 2, 24, 10, 80, kDots24},
    {"EscStarUndefined", "\x1b*\x80\x20\x00"s, 0, 0, 0, 0, {}},
    {"EscStarUndefinedWide", "\x1b*\xff\x20\xff"s, 0, 0, 0, 0, {}},
    {"EscCaretUndefined", "\x1b^\x02\x01\x00\x80\x80"s, 0, 0, 0, 0, {}},
    {"InColour", "\x1br\x05\x1bK\x02\x00"s + k8, 2, 8, 20, 80, kDots8, 0x0000FF},
    // ESC . c v h m nL nH: 2 rows of 16 dots at 360 dpi.
    {"Raster",
     "\x1b.\x00\x0a\x0a\x02\x10\x00\x80\x01\x00\x02"s,
     16,
     2,
     27,
     3,
     {{0, 0}, {15, 0}, {14, 1}}},
    {"RasterFinerThanThePrinter", "\x1b.\x00\x01\x01\x01\x01\x00\x80"s, 1, 1, 1, 1, {{0, 0}}},
    {"RasterRunLength",
     "\x1b.\x01\x14\x14\x02\x10\x00\xff\xff\x01\x80\x02"s,
     16,
     2,
     53,
     7,
     {{0, 0},
      {1, 0},
      {2, 0},
      {3, 0},
      {4, 0},
      {5, 0},
      {6, 0},
      {7, 0},
      {8, 0},
      {9, 0},
      {10, 0},
      {11, 0},
      {12, 0},
      {13, 0},
      {14, 0},
      {15, 0},
      {0, 1},
      {14, 1}}}, // a run of 2, then 2 bytes
};

INSTANTIATE_TEST_SUITE_P(Epson, Images, ::testing::ValuesIn(kImages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulationTest, AnImageStopsAtTheRightMargin) {
    // Column 2 is 120 dots from the left: after "A" there is room for 6
    // columns of 1/60 inch.
    print("A\x1bQ\x02\x1bK\x14\x00"s + std::string(20, '\xff'));
    const auto all = images();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].image.columns, 6);
    EXPECT_EQ(all[0].width, 60);
}

TEST_F(EmulationTest, AnImageStartsAPageOfItsOwn) {
    print("\x1bK\x01\x00\xff"s);
    ASSERT_EQ(printer.docs.size(), 1u);
    EXPECT_EQ(printer.docs[0].pages.at(0).images.size(), 1u);
}

} // namespace
