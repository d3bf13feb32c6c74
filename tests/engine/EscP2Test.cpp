// The ESC/P2 command table: every command's exact length, data included, so
// that none of its bytes could be taken for text.
#include "engine/EscP2.h"

#include <gtest/gtest.h>
#include <set>
#include <string>

using namespace marlix::escp2;
using namespace std::string_literals;

namespace {

struct Row {
    std::string bytes;
    std::size_t size;
    Effect effect;
};

class Lengths : public ::testing::TestWithParam<Row> {};

TEST_P(Lengths, AreMeasuredFromTheBytes) {
    const Row& row = GetParam();
    // Text after the command is not part of it.
    const Measured m = measure(row.bytes + "text");
    ASSERT_NE(m.command, nullptr);
    EXPECT_EQ(m.size, row.size);
    EXPECT_FALSE(m.incomplete);
    EXPECT_EQ(m.command->effect, row.effect);
    // One byte short of the whole command is not a command yet.
    const Measured cut = measure(row.bytes.substr(0, row.size - 1));
    if (row.size > 1) {
        EXPECT_TRUE(cut.incomplete) << "cut at " << row.size - 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EscP2, Lengths,
    ::testing::Values(
        Row{"\x0e", 1, Effect::WideOneLine}, Row{"\x0d", 1, Effect::CarriageReturn},
        Row{"\x1b@", 2, Effect::Reset}, Row{"\x1bx\x01", 3, Effect::Skip},
        Row{"\x1b!\x38", 3, Effect::MasterSelect},
        Row{"\x1b"
            "3\x18",
            3, Effect::Spacing180},
        Row{"\x1b$\x10\x01", 4, Effect::Absolute},
        Row{"\x1bX\x00\x14\x00"s, 5, Effect::PitchAndPoint},
        Row{"\x1b"
            "C\x42",
            3, Effect::SetFormLength},
        Row{"\x1b"
            "C\x00\x0b"s,
            4, Effect::SetFormLength},
        Row{"\x1b"
            "D\x08\x10\x18\x00"s,
            6, Effect::TabStops},
        Row{"\x1b"
            "B\x05\x0a\x00"s,
            5, Effect::VerticalTabs},
        Row{"\x1b(C\x02\x00\x10\x0e"s, 7, Effect::PageFormat},
        Row{"\x1b(-\x03\x00\x01\x01\x01"s, 8, Effect::ScoreLine},
        Row{"\x1b(t\x03\x00\x01\x11\x00"s, 8, Effect::AssignTable},
        Row{"\x1b(z\x01\x00\x07"s, 6, Effect::Skip}, // one of the family we don't act on
        Row{"\x1b"
            "K\x03\x00\x01\x02\x03"s,
            7, Effect::BitImage60},
        Row{"\x1b"
            "*\x00\x02\x00\xff\xff"s,
            7, Effect::BitImage},
        Row{"\x1b"
            "*\x27\x02\x00"s +
                std::string(6, '\x55'),
            11, Effect::BitImage},
        Row{"\x1b"
            "*\x48\x01\x00"s +
                std::string(6, '\x55'),
            11, Effect::BitImage},
        Row{"\x1b^\x01\x02\x00\x01\x02\x03\x04"s, 9, Effect::BitImage9Pin},
        Row{"\x1b?K\x03", 4, Effect::ReassignImage},
        Row{"\x1b"
            "b\x00\x05\x0a\x00"s,
            6, Effect::Skip}, // channel 0's stops
        // 2 rows of 16 dots: 4 bytes plain, or compressed as "3 copies of FF" + "1 literal".
        Row{"\x1b.\x00\x0a\x0a\x02\x10\x00\x01\x02\x03\x04"s, 12, Effect::RasterImage},
        Row{"\x1b.\x01\x0a\x0a\x02\x10\x00\xfe\xff\x00\x07"s, 12, Effect::RasterImage},
        Row{"\x1b&\x00\x41\x42\x00\x01\x00\x01\x02\x03\x00\x01\x00\x04\x05\x06"s, 17, Effect::Skip},
        Row{"\x1b~", 2, Effect::Skip})); // no printer knows it: the two bytes go

TEST(EscP2, TextIsNoCommand) {
    EXPECT_EQ(measure("A").command, nullptr);
    EXPECT_EQ(measure("\x1b").incomplete, true);
    EXPECT_EQ(measure("").command, nullptr);
}

TEST(EscP2, EveryRowIsFoundAndNoneTwice) {
    std::set<std::pair<bool, std::string>> seen;
    for (const Command& c : commands()) {
        EXPECT_TRUE(seen.insert({c.escape, std::string(c.bytes)}).second) << c.bytes;
        const std::string bytes = (c.escape ? "\x1b" : "") + std::string(c.bytes) +
                                  std::string(40, '\x01') + std::string(1, '\0');
        const Measured m = measure(bytes);
        EXPECT_EQ(m.command, &c) << c.bytes;
    }
}

TEST(EscP2, ACommandWithoutItsEndIsNeverText) {
    // A tab list without its NUL stops at its longest; an unknown image
    // mode has no data to measure.
    EXPECT_EQ(measure("\x1b"
                      "D" +
                      std::string(40, '\x08'))
                  .size,
              2u + 33u);
    EXPECT_EQ(measure("\x1b"
                      "*\x05\x02\x00\x01\x02"s)
                  .size,
              7u);
    EXPECT_EQ(measure("\x1b"
                      "*\x63\x02\x00"s)
                  .size,
              5u);
    EXPECT_TRUE(measure("\x1b"
                        "K\xff\xff"s)
                    .incomplete)
        << "65535 columns to come";
}

} // namespace
