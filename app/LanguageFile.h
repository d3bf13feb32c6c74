// Language files: the interface texts as key=text lines, in UTF-8 or, for
// files written on older systems, Windows-1251.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace marlix {

class LanguageFile {
public:
    // A key as first spelled in the file, and its text, both UTF-8.
    struct Entry {
        std::string key;
        std::string text;
    };

    LanguageFile() = default;

    // Any bytes parse: a file that is not valid UTF-8 is Windows-1251 as a
    // whole, lines without "=" are comments, and the first of several
    // definitions of a key wins.
    static LanguageFile parse(std::string_view bytes);
    // Throws Error("Cannot open file <path>") when the file cannot be read.
    static LanguageFile read(const std::string& path);

    // Keys match whatever the letter case of ASCII and Cyrillic letters; a
    // key the file lacks reads as "".
    std::string text(std::string_view key) const;
    bool contains(std::string_view key) const;
    std::size_t size() const { return entries_.size(); }
    // The distinct keys in the order of the file.
    const std::vector<Entry>& entries() const { return entries_; }

private:
    void load(std::string_view utf8);
    void add(std::string_view key, std::string_view text);

    std::vector<Entry> entries_;
    std::unordered_map<std::string, std::size_t> index_; // folded key -> entry
};

} // namespace marlix
