// The code page files we ship, read by the program's own reader, byte by byte
// against the characters their sources give: Python's codecs, or for the
// pages without one the published tables that tools/make-codepages names.
// That table is written by the tool next to this test; the words below are
// typed by hand, so a file and a table that agree on the wrong page still fail.
#include "charset/CodeSet.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace marlix;

namespace {

struct Case {
    std::string page;
    std::uint8_t textSet; // the font set of the page's letters
    std::string bytes;    // a word in the page ...
    std::u16string text;  // ... and what it must print
};

// clang-format off
const std::vector<Case> kCases = {
    {"437",  1,   "Gr\x81\xE1" "e \xAB \x9C",                        u"Grüße ½ £"},
    {"737",  161, "\x84\xA2\xA2\xE1\x9B\x98",                        u"Ελλάδα"},
    {"775",  186, "\xB5\xD8uolas \xBEiauliai",                       u"Ąžuolas Šiauliai"},
    {"850",  1,   "\x80" "a co\x96te \x9D",                          u"Ça coûte Ø"},
    {"852",  238, "\x9D\xA2" "d\xAB \xA6lu\x9Cou\x9Fk\xEC",          u"Łódź Žluťoučký"},
    {"855",  204, "\x81\xE7\xE1\x80\xA8\xEB\xA6\xA0\xD4 \x91\xB7\x90\xA0\xD4\xA0", u"Ђурђевдан Љиљана"},
    {"857",  162, "\x98stanbul \xA7\x8D\x9F",                        u"İstanbul ğış"},
    {"858",  1,   "\xD5 100 \xE1",                                   u"€ 100 ß"},
    {"860",  1,   "S\x84o Jo\x84o",                                  u"São João"},
    {"861",  1,   "\x8D\xA2r\x8Cur \x97r",                           u"Þórður Ýr"},
    {"862",  177, "\x99\x8C\x85\x8D",                                u"שלום"},
    {"863",  1,   "Qu\x82" "bec No\x89l",                            u"Québec Noël"},
    {"865",  1,   "\x92" "blegr\x9B" "d \x9D",                       u"Æblegrød Ø"},
    {"866",  204, "\x8F\xE0\xA8\xA2\xA5\xE2 \xF0\xA6",               u"Привет Ёж"},
    {"869",  161, "\xA8\xE5\xE5\x9B\xDD\xD6 \xA1",                   u"Ελλάδα ΐ"},
    {"895",  238, "V\x8F\x9B DOPIS",                                 u"VÁŠ DOPIS"},
    {"667",  238, "Za\xA7\xA2\x92\x8D g\x91\x9El\x86 ja\xA6\xA4",    u"Zażółć gęślą jaźń"},
    {"1250", 238, "P\xF8\xEDli\x9A \x9Elu\x9Dou\xE8k\xFD",           u"Příliš žluťoučký"},
    {"1251", 204, "\xCF\xF0\xE8\xE2\xE5\xF2 \xA8\xE6",               u"Привет Ёж"},
    {"1252", 1,   "\x80 \x9F \x9C",                                  u"€ Ÿ œ"},
};
// clang-format on

// Per page, the character of each byte; none where the page has none.
using Characters = std::vector<std::optional<char16_t>>;

std::map<std::string, Characters> readSourceTable() {
    std::ifstream in(MARLIX_CODEPAGE_CHARACTERS);
    std::map<std::string, Characters> pages;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string page, field;
        fields >> page;
        Characters& chars = pages[page];
        while (fields >> field)
            chars.push_back(field == "----"
                                ? std::nullopt
                                : std::optional(char16_t(std::stoul(field, nullptr, 16))));
    }
    return pages;
}

std::set<std::string> shippedPages() {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(MARLIX_SOURCE_DATA))
        if (entry.path().extension() == ".cp") names.insert(entry.path().stem().string());
    return names;
}

TEST(ShippedCodePages, EveryByteAsItsSourceSays) {
    const auto source = readSourceTable();
    std::set<std::string> covered;
    for (const Case& c : kCases)
        covered.insert(c.page);
    EXPECT_EQ(shippedPages(), covered) << "every shipped page has a case, and every case a file";
    std::set<std::string> tabled;
    for (const auto& [page, chars] : source)
        tabled.insert(page);
    ASSERT_EQ(tabled, covered) << "the tool's table holds the pages we ship";

    // Frames, shades and blocks go to the box-drawing renderer by the code
    // of the same character in 437, wherever a page puts them.
    ASSERT_TRUE(source.count("437"));
    std::map<char16_t, int> box;
    for (int b = 176; b <= 223; ++b)
        box[*source.at("437")[b]] = b;

    for (const Case& c : kCases) {
        SCOPED_TRACE("code page " + c.page);
        ASSERT_TRUE(source.count(c.page));
        const Characters& expected = source.at(c.page);
        ASSERT_EQ(expected.size(), 256u);
        CodePageTable t;
        codeset(t, std::string(MARLIX_SOURCE_DATA) + "/" + c.page + ".cp");

        for (int b = 0; b < 256; ++b) {
            const auto entry = t[std::uint8_t(b)];
            const auto ch = expected[b];
            if (!ch) {
                EXPECT_EQ(entry.set, kInvisibleSet) << "byte " << b << " is undefined";
            } else if (auto it = box.find(*ch); it != box.end()) {
                EXPECT_EQ(entry.set, kBoxDrawingSet) << "byte " << b;
                EXPECT_EQ(entry.code, it->second) << "byte " << b;
            } else {
                EXPECT_EQ(entry.code, *ch) << "byte " << b;
                // ASCII is the reader's identity, in the default font set.
                EXPECT_EQ(entry.set, b < 128 ? 1 : c.textSet) << "byte " << b;
            }
        }
        std::u16string printed;
        for (unsigned char b : c.bytes)
            printed += char16_t(t[b].code);
        EXPECT_EQ(printed, c.text);
    }
}

} // namespace
