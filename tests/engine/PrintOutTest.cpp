// The job driver on a recording printer: pages, control codes, wrapping,
// progress, orientation and what happens when a job can't be printed.
#include "../support/TempDir.h"
#include "RecordingPrinter.h"
#include "engine/PrintEngine.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace marlix;
using namespace marlix::test;

namespace {

// 600 dpi, 100-dot border, 10 mm margins, 10 CPI and 6 LPI: the page area is
// 136..4624 across and 136..6680 down, the cell 60 by 100 dots.
PrintSettings standardSettings() {
    PrintSettings s;
    s.topMargin = s.bottomMargin = s.leftMargin = s.rightMargin = 10;
    s.defaultFont = false;
    s.cpi = 10;
    s.lpi = 6;
    return s;
}

class PrintOutTest : public ::testing::Test {
protected:
    void SetUp() override { engine.settings = standardSettings(); }
    void print(std::string_view bytes) { engine.PrintOut(dir.write("job", bytes)); }

    TempDir dir;
    RecordingPrinter printer;
    PrintEngine engine{printer};
};

TEST_F(PrintOutTest, FormFeedEndsThePageWhenPageFeedIsOn) {
    print("AB\r\nCD\fEF");
    ASSERT_EQ(printer.docs.size(), 1u);
    EXPECT_EQ(printer.docs[0].title, "DOS-console task");
    EXPECT_EQ(printer.pageTexts(), (std::vector<std::string>{"ABCD", "EF"}));
    const auto& first = printer.docs[0].pages[0].chars;
    EXPECT_EQ(first[0].x, 136);
    EXPECT_EQ(first[0].y, 136);
    EXPECT_EQ(first[1].x, 196);
    EXPECT_EQ(first[2].x, 136);
    EXPECT_EQ(first[2].y, 236);
    const auto& second = printer.docs[0].pages[1].chars;
    EXPECT_EQ(second[0].x, 136) << "after FF the line starts at the left edge";
    EXPECT_EQ(second[0].y, 136);
    EXPECT_TRUE(printer.docs[0].ended);
}

TEST_F(PrintOutTest, FormFeedKeepsTheLineWhenPageFeedIsOff) {
    engine.settings.pageFeed = false;
    print("AB\r\nCD\fEF");
    ASSERT_EQ(printer.pageTexts(), (std::vector<std::string>{"ABCDEF"}));
    const auto& chars = printer.docs[0].pages[0].chars;
    EXPECT_EQ(chars[4].x, 136);
    EXPECT_EQ(chars[4].y, 236) << "EF stands on the line of CD";
}

TEST_F(PrintOutTest, TrailingFormFeedsAddNoBlankPage) {
    print("AB\f\f\f");
    EXPECT_EQ(printer.pageTexts(), (std::vector<std::string>{"AB"}));
}

TEST_F(PrintOutTest, AJobWithNothingToDrawOpensNoDocument) {
    print("\r\n\f\r\n\f\f");
    EXPECT_TRUE(printer.docs.empty());
    print("");
    EXPECT_TRUE(printer.docs.empty());
}

TEST_F(PrintOutTest, ControlBytesWithoutMeaningPrintAsOneSpace) {
    print("A\tB\x1b"
          "C\x01");
    const auto& chars = printer.docs[0].pages[0].chars;
    ASSERT_EQ(printer.pageTexts()[0], "A B C ");
    EXPECT_EQ(chars[2].x, 136 + 2 * 60);
}

TEST_F(PrintOutTest, BackspaceStepsOneCellBack) {
    print("AB\bC");
    const auto& chars = printer.docs[0].pages[0].chars;
    ASSERT_EQ(chars.size(), 3u);
    EXPECT_EQ(chars[2].x, chars[1].x);
}

TEST_F(PrintOutTest, LongLinesWrapAtTheRightLimit) {
    print(std::string(80, 'x'));
    const auto& chars = printer.docs[0].pages[0].chars;
    // The 74th character ends the line: the next would pass right limit - one cell.
    EXPECT_EQ(chars[73].y, 136);
    EXPECT_EQ(chars[73].x, 136 + 73 * 60);
    EXPECT_EQ(chars[74].x, 136);
    EXPECT_EQ(chars[74].y, 236);
    EXPECT_EQ(chars.size(), 80u);
}

TEST_F(PrintOutTest, WithoutWrapCharactersPastTheRightLimitAreDropped) {
    engine.settings.lineWrap = false;
    print(std::string(80, 'x') + "\r\nyy");
    const auto& chars = printer.docs[0].pages[0].chars;
    // Cells start while x < 4624: 75 of them.
    ASSERT_EQ(chars.size(), 77u);
    EXPECT_EQ(chars[74].x, 136 + 74 * 60);
    EXPECT_EQ(chars[75].ch, u'y');
    EXPECT_EQ(chars[75].x, 136);
    EXPECT_EQ(chars[75].y, 236);
}

TEST_F(PrintOutTest, PassingTheBottomStartsANewPageAtTheTopWithXKept) {
    // y passes 6680 - 2 * 100 after the 64th line feed.
    print("A" + std::string(63, '\n') + "B" + std::string(1, '\n') + "C");
    const auto texts = printer.pageTexts();
    ASSERT_EQ(texts, (std::vector<std::string>{"AB", "C"}));
    const auto& c = printer.docs[0].pages[1].chars[0];
    EXPECT_EQ(c.y, 136);
    EXPECT_EQ(c.x, 136 + 2 * 60);
}

TEST_F(PrintOutTest, ProgressFramesOnlyForJobsOfSixteenBytesOrMore) {
    std::vector<int> frames;
    engine.UpdateProgress = [&](int f) { frames.push_back(f); };
    print(std::string(15, 'a'));
    EXPECT_EQ(frames, std::vector<int>{255});

    frames.clear();
    print(std::string(16, 'a'));
    std::vector<int> expected;
    for (int f = 0; f <= 15; ++f)
        expected.push_back(f);
    expected.push_back(255);
    EXPECT_EQ(frames, expected);

    // 31 bytes: the step is 1, so the raw frame would climb to 30.
    frames.clear();
    print(std::string(31, 'a'));
    EXPECT_EQ(frames, expected);
}

TEST_F(PrintOutTest, OrientationComesFromTheSettingsAndIsRestoredAtTheEnd) {
    engine.settings.landscape = true;
    print("A");
    ASSERT_EQ(printer.docs.size(), 1u);
    EXPECT_EQ(printer.docs[0].orientation, Orientation::Landscape);
    EXPECT_EQ(printer.orientation(), Orientation::Landscape);
    // Landscape swaps the physical sides: the right limit grows.
    EXPECT_EQ(engine.pageArea().right, 7016 - 236 - 100);

    engine.settings.landscape = false;
    print("B");
    EXPECT_EQ(printer.docs[1].orientation, Orientation::Portrait);
    EXPECT_EQ(engine.pageArea().right, 4960 - 236 - 100);
}

TEST_F(PrintOutTest, AMissingOrLockedJobFileFailsBeforeAnythingPrints) {
    try {
        engine.PrintOut((dir.path() / "gone").string());
        FAIL() << "a missing file must fail";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos);
    }

    const std::string path = dir.write("locked", "AB");
    int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_THROW(engine.PrintOut(path), Error);
    ::close(fd);
    EXPECT_TRUE(printer.docs.empty());

    engine.PrintOut(path);
    EXPECT_EQ(printer.pageTexts(), std::vector<std::string>{"AB"});

    // A FIFO in the job file's place: refused at once, not waited on.
    const std::string fifo = (dir.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    try {
        engine.PrintOut(fifo);
        ADD_FAILURE() << "a FIFO is no job";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("it is a FIFO"), std::string::npos) << e.what();
    }
}

TEST_F(PrintOutTest, AFailedJobAbortsItsDocumentSoTheNextJobRuns) {
    printer.failAfterChars = 1;
    EXPECT_THROW(print("ABC"), Error);
    ASSERT_EQ(printer.docs.size(), 1u);
    EXPECT_TRUE(printer.docs[0].aborted);
    EXPECT_FALSE(printer.printing());

    printer.failAfterChars = -1;
    print("D");
    EXPECT_EQ(printer.docs.back().pages[0].text(), "D");
}

TEST_F(PrintOutTest, AnAbortedDocumentStopsTheJob) {
    std::vector<int> frames;
    engine.UpdateProgress = [&](int f) {
        frames.push_back(f);
        if (f == 4) printer.reportAborted = true;
    };
    print(std::string(32, 'a'));
    ASSERT_EQ(printer.docs.size(), 1u);
    EXPECT_TRUE(printer.docs[0].aborted);
    EXPECT_EQ(printer.docs[0].pages[0].chars.size(), 9u);
    EXPECT_EQ(frames.back(), 255);
}

TEST_F(PrintOutTest, BytesAppendedAfterTheJobOpenedWaitForTheNextJob) {
    const std::string path = dir.write("growing", std::string(16, 'a'));
    engine.UpdateProgress = [&](int f) {
        if (f == 0) std::ofstream(path, std::ios::app) << "bbbb";
    };
    engine.PrintOut(path);
    EXPECT_EQ(printer.pageTexts()[0], std::string(16, 'a'));
}

TEST_F(PrintOutTest, MarginsThatLeaveNoRoomAreAnErrorThatNamesThemBeforeAnythingPrints) {
    // Else a job printed nothing and counted as printed, or a character a page.
    struct Case {
        int top, bottom, left, right;
        const char* message;
    } const cases[] = {
        {10, 10, 100, 120, "no room for a character: left 100 mm, right 120 mm"},
        {10, 10, 100, 108, "no room for a character: left 100 mm, right 108 mm"},
        {150, 140, 10, 10, "no room for a line: top 150 mm, bottom 140 mm"},
    };
    for (const Case& c : cases) {
        engine.settings.topMargin = c.top;
        engine.settings.bottomMargin = c.bottom;
        engine.settings.leftMargin = c.left;
        engine.settings.rightMargin = c.right;
        try {
            print("ABC");
            ADD_FAILURE() << c.message;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_TRUE(printer.docs.empty()) << c.message;
    }
}

TEST_F(PrintOutTest, CharacterSetsChooseTextBoxDrawingOrNothing) {
    engine.codePage[0xC4] = {196, kBoxDrawingSet}; // a horizontal line
    engine.codePage[0x80] = {0x0410, 204};         // Cyrillic A
    engine.codePage['~'] = {'~', kInvisibleSet};
    print("A\xC4~\x80"
          "B");
    const auto& chars = printer.docs[0].pages[0].chars;
    ASSERT_EQ(printer.pageTexts()[0], "A?B");
    EXPECT_EQ(chars[1].ch, u'\u0410');
    EXPECT_EQ(chars[1].x, 136 + 3 * 60) << "the box cell and the blank cell each take one step";
    ASSERT_EQ(printer.strokes.size(), 1u);
    EXPECT_EQ(printer.strokes[0].x1, 136 + 60);
    EXPECT_EQ(printer.strokes[0].x2, 136 + 120);
    // The font is made again only when the character set changes.
    std::vector<int> sets;
    for (const auto& f : printer.fonts)
        sets.push_back(f.charSet);
    EXPECT_EQ(std::vector<int>(sets.end() - 4, sets.end()), (std::vector<int>{0, 254, 204, 1}));
}

// A scheme source that only feeds an initialisation string.
class InitOnly : public SequenceSource {
public:
    std::string init;
    std::size_t entries = 0;
    std::string activeScheme() const override { return "Default"; }
    LoadedSequences LoadSequences() override {
        LoadedSequences l;
        l.initStr = init;
        l.table.resize(entries);
        return l;
    }
};

TEST_F(PrintOutTest, TheInitialisationStringIsFedOnlyAheadOfNonEmptyJobs) {
    InitOnly source;
    source.init = "I:";
    engine.sequences = &source;
    print("AB");
    EXPECT_EQ(printer.pageTexts(), std::vector<std::string>{"I:AB"});
    print("");
    EXPECT_EQ(printer.docs.size(), 1u);
}

TEST_F(PrintOutTest, AnInitialisationStringOver65535BytesIsARangeError) {
    InitOnly source;
    source.init = std::string(65536, 'i');
    engine.sequences = &source;
    EXPECT_THROW(print("A"), Error);
    source.init.pop_back();
    print("A");
    EXPECT_EQ(printer.docs.size(), 1u);
}

TEST_F(PrintOutTest, ASchemeOfMoreThan256EntriesFailsBeforeTheFileIsOpened) {
    InitOnly source;
    source.entries = 257;
    engine.sequences = &source;
    try {
        engine.PrintOut((dir.path() / "gone").string());
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

TEST_F(PrintOutTest, DefaultFontTakesTheCellFromTheFontSize) {
    engine.settings.defaultFont = true;
    engine.settings.fontSize = 10; // 83-dot em at 600 dpi: "@" is 50 dots wide
    print("AB");
    const auto& chars = printer.docs[0].pages[0].chars;
    EXPECT_EQ(chars[1].x - chars[0].x, 50);
    EXPECT_EQ(printer.font().width, 50);
    EXPECT_EQ(printer.font().height, 100); // 1.2 em of the 83-dot font
    EXPECT_EQ(printer.font().pitchAndFamily, 1);
}

} // namespace
