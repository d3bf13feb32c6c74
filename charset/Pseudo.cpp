// The strokes of the box-drawing characters are data: for each code a few
// chains of points named by the cell's stroke positions.
#include "charset/Pseudo.h"

#include "core/Arith.h"

#include <array>

namespace marlix {

namespace {

// Horizontal positions: the cell's left edge, one dot left of it (strokes
// drawn towards the left border end there), the single stroke, the left and
// right strokes of a double line, the right edge. The vertical ones alike.
enum Px : std::uint8_t { X0, XM, XC, XL, XR, XE };
enum Py : std::uint8_t { Y0, YM, YC, YT, YB, YE };

struct Pt {
    Px x;
    Py y;
};
struct Chain {
    std::uint8_t points = 0;
    std::array<Pt, 3> p{};
};
struct Strokes {
    std::uint8_t chains = 0;
    std::array<Chain, 4> c{};
};

constexpr Chain line(Pt a, Pt b) {
    return {2, {a, b, {}}};
}
constexpr Chain line(Pt a, Pt b, Pt c) {
    return {3, {a, b, c}};
}
constexpr Strokes strokes(Chain a) {
    return {1, {a, {}, {}, {}}};
}
constexpr Strokes strokes(Chain a, Chain b) {
    return {2, {a, b, {}, {}}};
}
constexpr Strokes strokes(Chain a, Chain b, Chain c) {
    return {3, {a, b, c, {}}};
}
constexpr Strokes strokes(Chain a, Chain b, Chain c, Chain d) {
    return {4, {a, b, c, d}};
}

constexpr std::uint16_t kFirstLine = 179;
// clang-format off
constexpr std::array<Strokes, 40> kLines = {
    /* 179 │ */ strokes(line({XC, Y0}, {XC, YE})),
    /* 180 ┤ */ strokes(line({XC, Y0}, {XC, YE}), line({X0, YC}, {XC, YC})),
    /* 181 ╡ */ strokes(line({XC, Y0}, {XC, YE}), line({XC, YT}, {XM, YT}), line({XC, YB}, {XM, YB})),
    /* 182 ╢ */ strokes(line({XL, Y0}, {XL, YE}), line({XR, Y0}, {XR, YE}), line({X0, YC}, {XL, YC})),
    /* 183 ╖ */ strokes(line({XL, YC}, {XL, YE}), line({XR, YC}, {XR, YE}), line({X0, YC}, {XR, YC})),
    /* 184 ╕ */ strokes(line({XC, YT}, {XC, YE}), line({XC, YT}, {XM, YT}), line({XC, YB}, {XM, YB})),
    /* 185 ╣ */ strokes(line({X0, YT}, {XL, YT}, {XL, YM}), line({X0, YB}, {XL, YB}, {XL, YE}), line({XR, Y0}, {XR, YE})),
    /* 186 ║ */ strokes(line({XL, Y0}, {XL, YE}), line({XR, Y0}, {XR, YE})),
    /* 187 ╗ */ strokes(line({X0, YB}, {XL, YB}, {XL, YE}), line({X0, YT}, {XR, YT}, {XR, YE})),
    /* 188 ╝ */ strokes(line({X0, YT}, {XL, YT}, {XL, YM}), line({X0, YB}, {XR, YB}, {XR, YM})),
    /* 189 ╜ */ strokes(line({XL, YC}, {XL, YM}), line({XR, YC}, {XR, YM}), line({X0, YC}, {XR, YC})),
    /* 190 ╛ */ strokes(line({XC, YB}, {XC, YM}), line({XC, YT}, {XM, YT}), line({XC, YB}, {XM, YB})),
    /* 191 ┐ */ strokes(line({X0, YC}, {XC, YC}, {XC, YE})),
    /* 192 └ */ strokes(line({XE, YC}, {XC, YC}, {XC, YM})),
    /* 193 ┴ */ strokes(line({X0, YC}, {XE, YC}), line({XC, Y0}, {XC, YC})),
    /* 194 ┬ */ strokes(line({X0, YC}, {XE, YC}), line({XC, YE}, {XC, YC})),
    /* 195 ├ */ strokes(line({XC, Y0}, {XC, YE}), line({XE, YC}, {XC, YC})),
    /* 196 ─ */ strokes(line({X0, YC}, {XE, YC})),
    /* 197 ┼ */ strokes(line({X0, YC}, {XE, YC}), line({XC, Y0}, {XC, YE})),
    /* 198 ╞ */ strokes(line({XC, Y0}, {XC, YE}), line({XC, YT}, {XE, YT}), line({XC, YB}, {XE, YB})),
    /* 199 ╟ */ strokes(line({XL, Y0}, {XL, YE}), line({XR, Y0}, {XR, YE}), line({XR, YC}, {XE, YC})),
    /* 200 ╚ */ strokes(line({XR, Y0}, {XR, YT}, {XE, YT}), line({XL, Y0}, {XL, YB}, {XE, YB})),
    /* 201 ╔ */ strokes(line({XR, YE}, {XR, YB}, {XE, YB}), line({XL, YE}, {XL, YT}, {XE, YT})),
    /* 202 ╩ */ strokes(line({X0, YT}, {XL, YT}, {XL, YM}), line({XR, Y0}, {XR, YT}, {XE, YT}), line({X0, YB}, {XE, YB})),
    /* 203 ╦ */ strokes(line({X0, YB}, {XL, YB}, {XL, YE}), line({XR, YE}, {XR, YB}, {XE, YB}), line({X0, YT}, {XE, YT})),
    /* 204 ╠ */ strokes(line({XR, YE}, {XR, YB}, {XE, YB}), line({XR, Y0}, {XR, YT}, {XE, YT}), line({XL, Y0}, {XL, YE})),
    /* 205 ═ */ strokes(line({X0, YT}, {XE, YT}), line({X0, YB}, {XE, YB})),
    /* 206 ╬ */ strokes(line({X0, YT}, {XL, YT}, {XL, YM}), line({X0, YB}, {XL, YB}, {XL, YE}), line({XR, YE}, {XR, YB}, {XE, YB}), line({XR, Y0}, {XR, YT}, {XE, YT})),
    /* 207 ╧ */ strokes(line({X0, YT}, {XE, YT}), line({X0, YB}, {XE, YB}), line({XC, YT}, {XC, YM})),
    /* 208 ╨ */ strokes(line({X0, YC}, {XE, YC}), line({XL, YC}, {XL, YM}), line({XR, YC}, {XR, YM})),
    /* 209 ╤ */ strokes(line({X0, YT}, {XE, YT}), line({X0, YB}, {XE, YB}), line({XC, YB}, {XC, YE})),
    /* 210 ╥ */ strokes(line({X0, YC}, {XE, YC}), line({XL, YC}, {XL, YE}), line({XR, YC}, {XR, YE})),
    /* 211 ╙ */ strokes(line({XL, YC}, {XL, YM}), line({XR, YC}, {XR, YM}), line({XL, YC}, {XE, YC})),
    /* 212 ╘ */ strokes(line({XC, YB}, {XC, YM}), line({XC, YT}, {XE, YT}), line({XC, YB}, {XE, YB})),
    /* 213 ╒ */ strokes(line({XC, YT}, {XC, YE}), line({XC, YT}, {XE, YT}), line({XC, YB}, {XE, YB})),
    /* 214 ╓ */ strokes(line({XL, YC}, {XL, YE}), line({XR, YC}, {XR, YE}), line({XL, YC}, {XE, YC})),
    /* 215 ╫ */ strokes(line({XL, Y0}, {XL, YE}), line({XR, Y0}, {XR, YE}), line({X0, YC}, {XE, YC})),
    /* 216 ╪ */ strokes(line({XC, Y0}, {XC, YE}), line({X0, YT}, {XE, YT}), line({X0, YB}, {XE, YB})),
    /* 217 ┘ */ strokes(line({X0, YC}, {XC, YC}, {XC, YM})),
    /* 218 ┌ */ strokes(line({XE, YC}, {XC, YC}, {XC, YE})),
};
// clang-format on

// Shades darken from 176 to 178 as their glyphs do; blocks are solid.
constexpr std::array<std::uint32_t, 3> kShades = {0xC0C0C0, 0x808080, 0x404040};
constexpr std::uint32_t kBlock = 0x000000;

} // namespace

void Pseudo(BoxCanvas& canvas, int x, int y, std::uint16_t cellWidth, std::uint16_t cellHeight,
            std::uint16_t& code) {
    const int W = cellWidth, H = cellHeight;
    const int d = H / 16;
    canvas.setPenWidth(W / 10);
    const std::int32_t xe = add32(x, W), ye = add32(y, H);
    const long double midX = x + W / 2.0L, midY = y + H / 2.0L;
    const std::int32_t halfW = nearestAs<std::int32_t>(W / 2.0L);
    const std::int32_t halfH = nearestAs<std::int32_t>(H / 2.0L);

    if (code >= 176 && code <= 178) {
        canvas.fillRect(x, y, xe, ye, kShades[code - 176]);
    } else if (code >= kFirstLine && code <= 218) {
        // The stroke positions along one axis, in the order of Px and Py.
        auto stops = [d](std::int32_t from, long double mid, std::int32_t to) {
            return std::array<std::int32_t, 6>{from,
                                               add32(from, -1),
                                               nearestAs<std::int32_t>(mid - d / 2.0L),
                                               nearestAs<std::int32_t>(mid - 3 * d / 2.0L),
                                               nearestAs<std::int32_t>(mid + 3 * d / 2.0L),
                                               to};
        };
        const auto xs = stops(x, midX, xe), ys = stops(y, midY, ye);
        const Strokes& s = kLines[code - kFirstLine];
        for (std::uint8_t i = 0; i < s.chains; ++i) {
            const Chain& c = s.c[i];
            canvas.moveTo(xs[c.p[0].x], ys[c.p[0].y]);
            for (std::uint8_t k = 1; k < c.points; ++k)
                canvas.lineTo(xs[c.p[k].x], ys[c.p[k].y]);
        }
    } else if (code == 219) {
        canvas.fillRect(x, y, xe, ye, kBlock);
    } else if (code == 220) {
        canvas.fillRect(x, add32(y, halfH), xe, ye, kBlock);
    } else if (code == 221) {
        canvas.fillRect(x, y, add32(x, halfW), ye, kBlock);
    } else if (code == 222) {
        canvas.fillRect(add32(x, halfW), y, xe, ye, kBlock);
    } else if (code == 223) {
        canvas.fillRect(x, y, xe, add32(y, halfH), kBlock);
    }
    code = 32;
}

} // namespace marlix
