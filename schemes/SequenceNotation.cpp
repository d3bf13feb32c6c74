#include "schemes/SequenceNotation.h"

#include "core/Errors.h"

#include <charconv>

namespace marlix {

std::string TextToSeq(std::string_view text) {
    if (text.size() > kMaxNotationLength) rangeError();
    std::string out;
    bool inNumber = false;
    std::string digits;
    // An escape that does not complete stays as the text it was.
    auto literal = [&] { out += "[#" + digits; };
    const std::size_t L = text.size();
    for (std::size_t i = 0; i < L; ++i) {
        const char c = text[i];
        // "[#" opens an escape only with at least two characters after the "#".
        if (c == '[' && i + 3 < L && text[i + 1] == '#') {
            if (inNumber) literal();
            inNumber = true;
            digits.clear();
            ++i; // the "#"
            continue;
        }
        if (!inNumber) {
            out += c;
        } else if (c == '#') {
        } else if (c >= '0' && c <= '9') {
            digits += c;
        } else if (c == ']' && !digits.empty()) {
            std::int32_t value = 0;
            auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
            (void)end;
            // Too large for a 32-bit integer: byte 0.
            out += static_cast<char>(ec == std::errc() ? value % 256 : 0);
            inNumber = false;
        } else if (c == ']') {
            out += "[#]";
            inNumber = false;
        } else {
            literal();
            out += c;
            inNumber = false;
        }
    }
    if (inNumber) literal();
    return out;
}

std::string SeqToText(std::string_view bytes) {
    std::string out;
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 32)
            out += "[#" + std::to_string(b) + "]";
        else
            out += ch;
    }
    return out;
}

std::vector<std::string> splitAlternatives(std::string_view bytes) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= bytes.size()) {
        std::size_t bar = bytes.find("||", start);
        if (bar == std::string_view::npos) bar = bytes.size();
        if (bar > start) pieces.emplace_back(bytes.substr(start, bar - start));
        start = bar + 2;
    }
    return pieces;
}

} // namespace marlix
