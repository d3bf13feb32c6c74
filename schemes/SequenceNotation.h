// The text form of byte patterns: "[#27]" for a byte by its decimal value,
// every other character as itself, "||" between alternatives.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace marlix {

inline constexpr std::size_t kMaxNotationLength = 255;

// Notation (one byte per character) to pattern bytes; a text longer than 255
// characters is a "Range check error". Separators pass through.
std::string TextToSeq(std::string_view text);

// Pattern bytes to notation: bytes 0..31 escaped, all others as themselves.
std::string SeqToText(std::string_view bytes);

// The non-empty pieces between "||" separators, in written order.
std::vector<std::string> splitAlternatives(std::string_view bytes);

} // namespace marlix
