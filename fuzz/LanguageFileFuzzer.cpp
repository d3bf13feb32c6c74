// Fuzzes the language file reader: any bytes parse into UTF-8 keys and texts
// that look up the same in either letter case and survive being written out
// and read back.
#include "app/LanguageFile.h"
#include "schemes/AnsiText.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace marlix;

namespace {

void check(bool ok) {
    if (!ok) __builtin_trap();
}

// Code points of valid UTF-8, or nothing when the bytes are not; written
// apart from the reader's own check so that the two can disagree.
bool decode(std::string_view s, std::vector<char32_t>& out) {
    out.clear();
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<std::uint8_t>(s[i]);
        const std::size_t n = b < 0x80         ? 1
                              : (b >> 5) == 6  ? 2
                              : (b >> 4) == 14 ? 3
                              : (b >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size()) return false;
        char32_t c = n == 1 ? b : b & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k) {
            const auto next = static_cast<std::uint8_t>(s[i + k]);
            if ((next >> 6) != 2) return false;
            c = (c << 6) | (next & 0x3F);
        }
        constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out.push_back(c);
        i += n;
    }
    return true;
}

std::string encode(const std::vector<char32_t>& cs) {
    std::string out;
    for (char32_t c : cs) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The letters whose case keys ignore: ASCII and the Cyrillic of Windows-1251.
char32_t upper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c == 0x491 ? 0x490 : c;
}

char32_t lower(char32_t c) {
    if (c >= 'A' && c <= 'Z') return c + 0x20;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    return c == 0x490 ? 0x491 : c;
}

std::string recase(const std::vector<char32_t>& cs, char32_t (*to)(char32_t)) {
    std::vector<char32_t> out;
    out.reserve(cs.size());
    for (char32_t c : cs)
        out.push_back(to(c));
    return encode(out);
}

bool sameEntries(const LanguageFile& a, const LanguageFile& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a.entries()[i].key != b.entries()[i].key || a.entries()[i].text != b.entries()[i].text)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    LanguageFile file;
    try {
        file = LanguageFile::parse(bytes);
    } catch (...) {
        check(false);
    }
    check(file.size() == file.entries().size());
    file.text(bytes); // a lookup with any bytes is safe

    // Without "\n" ahead, a first key that starts with U+FEFF would lose it.
    std::string written = "\n";
    std::vector<char32_t> cs;
    for (const auto& [key, text] : file.entries()) {
        check(key.find_first_of(std::string_view("=\r\n\0", 4)) == std::string::npos);
        check(text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        check(decode(text, cs));
        check(decode(key, cs));
        check(file.contains(key) && file.text(key) == text);
        check(file.text(recase(cs, upper)) == text);
        check(file.text(recase(cs, lower)) == text);
        written += key + "=" + text + "\n";
    }
    // Keys are distinct however they are spelt, or they would merge here.
    check(sameEntries(LanguageFile::parse(written), file));

    // Not UTF-8: the same as the file decoded from Windows-1251 up front.
    auto cut = bytes.substr(0, bytes.find('\0'));
    if (cut.starts_with("\xEF\xBB\xBF")) cut.remove_prefix(3);
    if (!decode(cut, cs)) check(sameEntries(LanguageFile::parse(fromAnsi(cut)), file));
    return 0;
}
