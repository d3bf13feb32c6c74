#include "charset/AsciiChart.h"

#include "core/Arith.h"
#include "core/Errors.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace marlix {

namespace {

constexpr std::uint16_t kFirstBoxCode = 176;
// The DOS characters 176..223: shades, lines and blocks.
constexpr std::array<char16_t, 48> kBoxChars = {
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580};

[[noreturn]] void ioError(int error) {
    if (error == ENOENT) throw Error("File not found");
    throw Error("I/O error " + std::to_string(error));
}

} // namespace

ChartCell chartCell(int screenWidth, int screenHeight) {
    return {fit<std::uint16_t>(nearest(screenWidth / 50.0L) - 1),
            fit<std::uint16_t>(nearest(screenHeight / 25.0L) - 1)};
}

char16_t chartChar(const CodePageEntry& entry) {
    if (entry.set == kBoxDrawingSet && entry.code >= kFirstBoxCode &&
        entry.code < kFirstBoxCode + kBoxChars.size())
        return kBoxChars[entry.code - kFirstBoxCode];
    return entry.code;
}

void paintChart(std::string_view bytes, const CodePageTable& table, std::uint16_t cellHeight,
                ChartCanvas& canvas) {
    std::uint8_t fontSet = 0;
    canvas.makeFont(fontSet);
    std::int32_t x = 0, y = 0;
    for (const char ch : bytes) {
        const auto b = static_cast<std::uint8_t>(ch);
        const CodePageEntry& e = table[b];
        if (e.code == 10) {
            y = add32(y, cellHeight);
        } else if (e.code == 13) {
            x = 0;
        } else if (e.code == 32) {
            x = add32(x, canvas.spaceWidth());
        } else if (b >= 32) {
            if (e.set != fontSet) {
                fontSet = e.set;
                canvas.makeFont(fontSet);
            }
            const char16_t c = chartChar(e);
            canvas.drawChar(x, y, c);
            x = add32(x, canvas.charWidth(c));
        }
    }
}

std::string readChartFile(const std::string& path) {
    errno = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!f) ioError(errno);
    std::string bytes;
    std::array<char, 4096> chunk;
    while (const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), f.get()))
        bytes.append(chunk.data(), got);
    // A folder opens on some systems and fails at the first read.
    if (std::ferror(f.get())) ioError(errno != 0 ? errno : EIO);
    return bytes;
}

} // namespace marlix
