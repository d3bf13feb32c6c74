// Reading language files. The whole file is decoded to UTF-8 first, so keys
// fold and texts come out the same whichever encoding the file was saved in.
#include "app/LanguageFile.h"

#include "core/Errors.h"
#include "schemes/AnsiText.h"

#include <cstdint>
#include <fstream>

namespace marlix {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Strict, so that a Windows-1251 file whose bytes happen to look like
// overlong forms or surrogates is still read as Windows-1251.
bool isUtf8(std::string_view s) {
    const std::size_t n = s.size();
    for (std::size_t i = 0; i < n;) {
        const auto lead = static_cast<std::uint8_t>(s[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        char32_t c = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            c = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            c = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            c = lead & 0x07;
        } else {
            return false; // a stray continuation byte, C0/C1 or a lead past U+10FFFF
        }
        if (n - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(s[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = (c << 6) | (next & 0x3F);
        }
        if (length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) return false;
        if (length == 4 && (c < 0x10000 || c > 0x10FFFF)) return false;
        i += length;
    }
    return true;
}

// Lower case of ASCII letters and of the Cyrillic letters Windows-1251 has
// (U+0400..U+042F and U+0490), worked on the UTF-8 bytes: the two-byte forms
// of these letters are the only ones that change.
std::string foldKey(std::string_view key) {
    std::string out(key);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto b = static_cast<std::uint8_t>(out[i]);
        if (b >= 'A' && b <= 'Z') {
            out[i] = static_cast<char>(b + ('a' - 'A'));
            continue;
        }
        if ((b != 0xD0 && b != 0xD2) || i + 1 == out.size()) continue;
        const auto c = static_cast<std::uint8_t>(out[i + 1]);
        if (b == 0xD0 && c >= 0x80 && c <= 0x8F) { // Ѐ..Џ -> ѐ..џ
            out[i] = '\xD1';
            out[i + 1] = static_cast<char>(c + 0x10);
        } else if (b == 0xD0 && c >= 0x90 && c <= 0x9F) { // А..П -> а..п
            out[i + 1] = static_cast<char>(c + 0x20);
        } else if (b == 0xD0 && c >= 0xA0 && c <= 0xAF) { // Р..Я -> р..я
            out[i] = '\xD1';
            out[i + 1] = static_cast<char>(c - 0x20);
        } else if (b == 0xD2 && c == 0x90) { // Ґ -> ґ
            out[i + 1] = '\x91';
        }
        ++i;
    }
    return out;
}

} // namespace

LanguageFile LanguageFile::parse(std::string_view bytes) {
    if (const auto nul = bytes.find('\0'); nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);
    // Editors put the mark there; it is never meant as part of the first key,
    // whichever encoding the rest turns out to be.
    if (bytes.starts_with(kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
    LanguageFile file;
    if (isUtf8(bytes))
        file.load(bytes);
    else
        file.load(fromAnsi(bytes));
    return file;
}

LanguageFile LanguageFile::read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in) {
        char buffer[16384];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0)
            bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    // A folder opens but cannot be read; that is not a language file either.
    if (!in.is_open() || in.bad()) throw Error(formatMessage(kCannotOpenFile, path));
    return parse(bytes);
}

std::string LanguageFile::text(std::string_view key) const {
    const auto it = index_.find(foldKey(key));
    return it == index_.end() ? std::string() : entries_[it->second].text;
}

bool LanguageFile::contains(std::string_view key) const {
    return index_.contains(foldKey(key));
}

void LanguageFile::load(std::string_view utf8) {
    std::size_t start = 0;
    while (start < utf8.size()) {
        auto end = utf8.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = utf8.size();
        const auto line = utf8.substr(start, end - start);
        if (const auto eq = line.find('='); eq != std::string_view::npos)
            add(line.substr(0, eq), line.substr(eq + 1));
        start = end + 1;
        if (end < utf8.size() && utf8[end] == '\r' && start < utf8.size() && utf8[start] == '\n')
            ++start;
    }
}

void LanguageFile::add(std::string_view key, std::string_view text) {
    if (index_.try_emplace(foldKey(key), entries_.size()).second)
        entries_.push_back({std::string(key), std::string(text)});
}

} // namespace marlix
