// The box-drawing renderer on a canvas that records its calls.
#include "charset/Pseudo.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <vector>

using namespace marlix;

namespace {

struct Fill {
    int l, t, r, b;
    std::uint32_t bgr;
    bool operator==(const Fill&) const = default;
};

class RecordingCanvas : public BoxCanvas {
public:
    struct Point {
        int x, y;
        bool operator==(const Point&) const = default;
    };
    int pen = -1;
    std::vector<std::vector<Point>> chains;
    std::vector<Fill> fills;

    void setPenWidth(int w) override { pen = w; }
    void moveTo(int x, int y) override { chains.push_back({{x, y}}); }
    void lineTo(int x, int y) override { chains.back().push_back({x, y}); }
    void fillRect(int l, int t, int r, int b, std::uint32_t bgr) override {
        fills.push_back({l, t, r, b, bgr});
    }
};

using Chains = std::vector<std::vector<RecordingCanvas::Point>>;

RecordingCanvas draw(std::uint16_t code, int x = 100, int y = 200, int w = 20, int h = 40) {
    RecordingCanvas c;
    Pseudo(c, x, y, std::uint16_t(w), std::uint16_t(h), code);
    EXPECT_EQ(code, 32);
    return c;
}

// W = 20, H = 40 at (100, 200): d = 2, xc = 109, xl = 107, xr = 113,
// yc = 219, yt = 217, yb = 223, xe = 120, ye = 240.
TEST(Pseudo, StrokePositionsInA20By40Cell) {
    auto c = draw(179);
    EXPECT_EQ(c.pen, 2);
    EXPECT_EQ(c.chains, (Chains{{{109, 200}, {109, 240}}}));
    EXPECT_EQ(draw(186).chains, (Chains{{{107, 200}, {107, 240}}, {{113, 200}, {113, 240}}}));
    EXPECT_EQ(draw(205).chains, (Chains{{{100, 217}, {120, 217}}, {{100, 223}, {120, 223}}}));
    EXPECT_EQ(draw(191).chains, (Chains{{{100, 219}, {109, 219}, {109, 240}}}));
    // Strokes drawn towards the left or top border end one dot outside the cell.
    EXPECT_EQ(draw(217).chains, (Chains{{{100, 219}, {109, 219}, {109, 199}}}));
    EXPECT_EQ(draw(181).chains,
              (Chains{{{109, 200}, {109, 240}}, {{109, 217}, {99, 217}}, {{109, 223}, {99, 223}}}));
    EXPECT_EQ(draw(206).chains, (Chains{{{100, 217}, {107, 217}, {107, 199}},
                                        {{100, 223}, {107, 223}, {107, 240}},
                                        {{113, 240}, {113, 223}, {120, 223}},
                                        {{113, 200}, {113, 217}, {120, 217}}}));
}

TEST(Pseudo, HalvesRoundToTheEvenNeighbour) {
    // W = 21: x + 10.5 - 1 is x + 9.5.
    EXPECT_EQ(draw(179, 100, 200, 21).chains[0][0].x, 110);
    EXPECT_EQ(draw(179, 101, 200, 21).chains[0][0].x, 110);
}

TEST(Pseudo, SmallCellsGiveOneLineForDoubleAndTheThinnestPen) {
    auto c = draw(186, 100, 200, 9, 15);
    EXPECT_EQ(c.pen, 0);
    ASSERT_EQ(c.chains.size(), 2u);
    EXPECT_EQ(c.chains[0][0].x, c.chains[1][0].x) << "d = 0: both strokes on the same dots";
}

TEST(Pseudo, ShadesDarkenAndBlocksAreSolid) {
    EXPECT_EQ(draw(176).fills, (std::vector<Fill>{{100, 200, 120, 240, 0xC0C0C0}}));
    EXPECT_EQ(draw(177).fills, (std::vector<Fill>{{100, 200, 120, 240, 0x808080}}));
    EXPECT_EQ(draw(178).fills, (std::vector<Fill>{{100, 200, 120, 240, 0x404040}}));
    EXPECT_EQ(draw(219).fills, (std::vector<Fill>{{100, 200, 120, 240, 0}}));
    EXPECT_EQ(draw(220).fills, (std::vector<Fill>{{100, 220, 120, 240, 0}}));
    EXPECT_EQ(draw(221).fills, (std::vector<Fill>{{100, 200, 110, 240, 0}}));
    EXPECT_EQ(draw(222).fills, (std::vector<Fill>{{110, 200, 120, 240, 0}}));
    EXPECT_EQ(draw(223).fills, (std::vector<Fill>{{100, 200, 120, 220, 0}}));
}

TEST(Pseudo, NothingIsDrawnOutside176To223) {
    for (std::uint16_t code : {0, 32, 65, 175, 224, 255, 0x2500, 0xFFFF}) {
        auto c = draw(code);
        EXPECT_TRUE(c.chains.empty()) << code;
        EXPECT_TRUE(c.fills.empty()) << code;
    }
}

// Every line character leaves its cell where its glyph does, single or double,
// so that neighbouring cells join: derived from the strokes, compared with the
// arms of each glyph (left, right, up, down: '.' none, 's' single, 'd' double).
TEST(Pseudo, EveryLineCharacterJoinsItsNeighboursLikeItsGlyph) {
    const std::map<int, std::string> arms = {
        {179, "..ss"}, {180, "s.ss"}, {181, "d.ss"}, {182, "s.dd"}, {183, "s..d"}, {184, "d..s"},
        {185, "d.dd"}, {186, "..dd"}, {187, "d..d"}, {188, "d.d."}, {189, "s.d."}, {190, "d.s."},
        {191, "s..s"}, {192, ".ss."}, {193, "sss."}, {194, "ss.s"}, {195, ".sss"}, {196, "ss.."},
        {197, "ssss"}, {198, ".dss"}, {199, ".sdd"}, {200, ".dd."}, {201, ".d.d"}, {202, "ddd."},
        {203, "dd.d"}, {204, ".ddd"}, {205, "dd.."}, {206, "dddd"}, {207, "dds."}, {208, "ssd."},
        {209, "dd.s"}, {210, "ss.d"}, {211, ".sd."}, {212, ".ds."}, {213, ".d.s"}, {214, ".s.d"},
        {215, "ssdd"}, {216, "ddss"}, {217, "s.s."}, {218, ".s.s"}};
    const int x = 100, y = 200, xe = 120, ye = 240;
    auto kind = [](const std::set<int>& at, int single, int a, int b) {
        if (at.empty()) return '.';
        if (at == std::set<int>{single}) return 's';
        if (at == std::set<int>{a, b}) return 'd';
        return '?';
    };
    for (const auto& [code, expected] : arms) {
        std::set<int> left, right, up, down;
        for (const auto& chain : draw(std::uint16_t(code)).chains)
            for (auto p : chain) {
                if (p.x == x || p.x == x - 1) left.insert(p.y);
                if (p.x == xe) right.insert(p.y);
                if (p.y == y || p.y == y - 1) up.insert(p.x);
                if (p.y == ye) down.insert(p.x);
            }
        const std::string got = {kind(left, 219, 217, 223), kind(right, 219, 217, 223),
                                 kind(up, 109, 107, 113), kind(down, 109, 107, 113)};
        EXPECT_EQ(got, expected) << "code " << code;
    }
}

} // namespace
