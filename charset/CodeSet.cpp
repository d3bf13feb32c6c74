#include "charset/CodeSet.h"

#include "core/Arith.h"
#include "core/Errors.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <string_view>
#include <vector>

namespace marlix {

namespace {

constexpr std::size_t kMaxLines = 256;

std::vector<std::string_view> splitLines(std::string_view text) {
    if (auto nul = text.find('\0'); nul != std::string_view::npos) text = text.substr(0, nul);
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

// Plain decimal with an optional minus sign, as an integer of the program's
// 32-bit type; anything else is not an integer.
std::int64_t toInteger(std::string_view text) {
    std::int32_t value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, ec] = std::from_chars(first, last, value);
    if (text.empty() || ec != std::errc() || end != last)
        throw Error(formatMessage("'%s' is not a valid integer value", quoted(text)));
    return value;
}

[[noreturn]] void badLine(std::string_view line) {
    throw Error(formatMessage("'%s' is not a valid code page line", quoted(line)));
}

void applyLine(CodePageTable& table, std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || eq == 0) badLine(line);
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = line.substr(eq + 1);

    std::string_view code = value, set = "1";
    if (auto hash = value.find('#'); hash != std::string_view::npos) {
        code = value.substr(0, hash);
        set = value.substr(hash + 1);
    }
    if (auto dots = code.find(".."); dots != std::string_view::npos) code = code.substr(0, dots);
    if (code.empty()) badLine(line);

    const bool relative = code[0] == '+';
    const std::int64_t number = toInteger(relative ? code.substr(1) : code);
    const std::uint8_t setNumber = fit<std::uint8_t>(toInteger(set));
    if (number < 0 || number > 0xFFFF) rangeError();

    const auto first = static_cast<std::uint8_t>(key[0]);
    const auto last = key.size() == 4 ? static_cast<std::uint8_t>(key[3]) : first;
    for (unsigned b = first; b <= last; ++b) {
        const std::int64_t out = relative ? b + number : number + (b - first);
        table[static_cast<std::uint8_t>(b)] = {fit<std::uint16_t>(out), setNumber};
    }
}

} // namespace

void codeset(CodePageTable& table, const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw Error(formatMessage(kCannotOpenFile, fileName));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw Error(formatMessage(kCannotOpenFile, fileName));

    const auto lines = splitLines(text);
    if (lines.empty())
        throw Error(withReason(std::string(kRangeCheckError), fileName + ": it holds no line"));
    if (lines.size() > kMaxLines)
        throw Error(
            withReason(std::string(kRangeCheckError), fileName + ": it holds more than 256 lines"));

    table.resetToIdentity();
    for (std::size_t n = 0; n < lines.size(); ++n) {
        if (lines[n].empty()) continue;
        try {
            applyLine(table, lines[n]);
        } catch (const Error& e) {
            // Which file and which line, so the user can mend it.
            throw Error(withReason(e.what(), fileName + ", line " + std::to_string(n + 1)));
        }
    }
}

} // namespace marlix
