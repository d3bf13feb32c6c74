// What the print engine puts on paper for each of the 256 job byte values.
#pragma once

#include <array>
#include <cstdint>

namespace marlix {

struct CodePageEntry {
    std::uint16_t code = 0; // UTF-16 code unit, or a box-drawing code for set 0
    std::uint8_t set = 0;   // font character set; 0 = box drawing, 254 = print nothing
};

inline constexpr std::uint8_t kBoxDrawingSet = 0;
inline constexpr std::uint8_t kDefaultCharSet = 1;
inline constexpr std::uint8_t kInvisibleSet = 254;

class CodePageTable {
public:
    // Until a code page is loaded every entry is code 0, set 0: nothing prints.
    CodePageTable() = default;

    static CodePageTable identity();
    void resetToIdentity();

    const CodePageEntry& operator[](std::uint8_t b) const { return entries_[b]; }
    CodePageEntry& operator[](std::uint8_t b) { return entries_[b]; }

private:
    std::array<CodePageEntry, 256> entries_{};
};

} // namespace marlix
