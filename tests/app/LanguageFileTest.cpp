// Language files as users and translators write them, and the two we ship.
#include "app/LanguageFile.h"

#include "../support/TempDir.h"
#include "app/LanguageTexts.h"
#include "core/Errors.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <string>

using namespace marlix;

namespace {

using namespace std::string_literals;

TEST(LanguageFile, KeyIsEverythingBeforeTheFirstEquals) {
    const auto only = LanguageFile::parse("Title=X");
    EXPECT_EQ(only.text("Title"), "X");
    EXPECT_EQ(only.size(), 1u);
    for (const auto& t : kLanguageTexts) {
        if (t.key == "Title") continue;
        EXPECT_EQ(only.text(t.key), "") << t.key;
        EXPECT_FALSE(only.contains(t.key)) << t.key;
    }

    const auto spaced = LanguageFile::parse("Title = X\n");
    EXPECT_FALSE(spaced.contains("Title"));
    EXPECT_EQ(spaced.text("Title"), "");
    EXPECT_EQ(spaced.text("Title "), " X");

    const auto f = LanguageFile::parse("Title=A=B\n; a comment\n\nEmpty=\n=no key\n");
    EXPECT_EQ(f.text("Title"), "A=B");
    EXPECT_TRUE(f.contains("Empty"));
    EXPECT_EQ(f.text("Empty"), "");
    EXPECT_EQ(f.text(""), "no key");
    EXPECT_FALSE(f.contains("; a comment"));
    EXPECT_EQ(f.size(), 3u);
    EXPECT_EQ(LanguageFile().size(), 0u);
    EXPECT_EQ(LanguageFile().text("Title"), "");
}

TEST(LanguageFile, KeysIgnoreLetterCase) {
    const auto f = LanguageFile::parse("title=X\n"
                                       "Ключ=К\n"
                                       "ЁЖИК=Ё\n"
                                       "ґанок=Ґ\n"
                                       "ЇЖАК=Ї\n");
    EXPECT_EQ(f.text("Title"), "X");
    EXPECT_EQ(f.text("TITLE"), "X");
    EXPECT_EQ(f.text("КЛЮЧ"), "К");
    EXPECT_EQ(f.text("ключ"), "К");
    EXPECT_EQ(f.text("ёжик"), "Ё");
    EXPECT_EQ(f.text("ҐАНОК"), "Ґ");
    EXPECT_EQ(f.text("їжак"), "Ї");
    EXPECT_FALSE(f.contains("Title "));
    // Letters outside ASCII and Cyrillic keep their case.
    EXPECT_FALSE(LanguageFile::parse("Ä=1").contains("ä"));

    // "Ключ" in Windows-1251 matches the UTF-8 spelling in either case.
    const auto ansi = LanguageFile::parse("\xCA\xEB\xFE\xF7=1");
    EXPECT_EQ(ansi.text("ключ"), "1");
    EXPECT_EQ(ansi.text("КЛЮЧ"), "1");
}

TEST(LanguageFile, FirstDefinitionWins) {
    const auto f = LanguageFile::parse("Title=first\nTitle=second\nTITLE=third\n"
                                       "Ключ=первый\nКЛЮЧ=второй\n");
    EXPECT_EQ(f.text("Title"), "first");
    EXPECT_EQ(f.text("ключ"), "первый");
    EXPECT_EQ(f.size(), 2u);
    ASSERT_EQ(f.entries().size(), 2u);
    EXPECT_EQ(f.entries()[0].key, "Title");
    EXPECT_EQ(f.entries()[1].key, "Ключ");
}

TEST(LanguageFile, LineEnds) {
    const auto f = LanguageFile::parse("A=1\rB=2\nC=3\r\nD=4\n\rE=5\r\r\nF=6\r");
    EXPECT_EQ(f.text("A"), "1");
    EXPECT_EQ(f.text("B"), "2");
    EXPECT_EQ(f.text("C"), "3");
    EXPECT_EQ(f.text("D"), "4");
    EXPECT_EQ(f.text("E"), "5");
    EXPECT_EQ(f.text("F"), "6");
    EXPECT_EQ(f.size(), 6u);
}

TEST(LanguageFile, NulEndsTheText) {
    const auto f = LanguageFile::parse("A=1\nB=tw\0o\nC=3\n"s);
    EXPECT_EQ(f.text("A"), "1");
    EXPECT_EQ(f.text("B"), "tw");
    EXPECT_FALSE(f.contains("C"));
    EXPECT_EQ(LanguageFile::parse("\0A=1"s).size(), 0u);
    // A byte after the NUL cannot turn the file into Windows-1251.
    EXPECT_EQ(LanguageFile::parse("A=Шрифт\0\xFF"s).text("A"), "Шрифт");
}

TEST(LanguageFile, Encodings) {
    EXPECT_EQ(LanguageFile::parse("Title=\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8").text("Title"),
              "Настройки");
    EXPECT_EQ(LanguageFile::parse("Title=Настройки\n").text("Title"), "Настройки");
    EXPECT_EQ(LanguageFile::parse("A=\xF0\x9F\x96\xA8 \xF4\x8F\xBF\xBF").text("A"),
              "\xF0\x9F\x96\xA8 \xF4\x8F\xBF\xBF");

    // One byte that is not UTF-8 makes the whole file Windows-1251, also the
    // lines before it.
    const auto mixed = LanguageFile::parse("A=Ок\nB=\xCE\xEA\n");
    EXPECT_EQ(mixed.text("A"), "РћРє");
    EXPECT_EQ(mixed.text("B"), "Ок");

    // Forms a lax decoder would take: overlong, surrogate, past U+10FFFF,
    // cut short at the end, stray continuation.
    const std::pair<std::string, std::string> invalid[] = {
        {"\xC0\xAF", "АЇ"},           {"\xE0\x80\xAF", "аЂЇ"}, {"\xED\xA0\x80", "н\u00A0Ђ"},
        {"\xF4\x90\x80\x80", "фђЂЂ"}, {"\xD0", "Р"},           {"\xBF", "ї"},
    };
    for (const auto& [bytes, utf8] : invalid)
        EXPECT_EQ(LanguageFile::parse("A=" + bytes).text("A"), utf8) << utf8;
    // Cut short by the end of the input, not by a bad byte after it.
    EXPECT_EQ(LanguageFile::parse(std::string_view("A=\xD0\x9E", 3)).text("A"), "Р");
}

TEST(LanguageFile, ByteOrderMarkIsNotPartOfTheFirstKey) {
    const auto f = LanguageFile::parse("\xEF\xBB\xBFTitle=X\n\xEF\xBB\xBFTab=Y\n");
    EXPECT_EQ(f.text("Title"), "X");
    EXPECT_FALSE(f.contains("Tab"));
    EXPECT_EQ(f.text("\xEF\xBB\xBFTab"), "Y");
    EXPECT_EQ(LanguageFile::parse("\xEF\xBB\xBFTitle=\xCD\xE0").text("Title"), "На");
}

TEST(LanguageFile, BigInputsParseInLinearTime) {
    std::string bytes;
    for (int i = 0; i < 200000; ++i)
        bytes += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    bytes += std::string(1 << 20, '=') + "\n" + std::string(1 << 20, '\r') + "Last=1";
    const auto f = LanguageFile::parse(bytes);
    EXPECT_EQ(f.size(), 200002u);
    EXPECT_EQ(f.text("KEY199999"), "199999");
    EXPECT_EQ(f.text("").size(), (1u << 20) - 1);
    EXPECT_EQ(f.text("last"), "1");
}

TEST(LanguageFile, ReadsFiles) {
    test::TempDir dir;
    const auto path = dir.write("ru.lng", "; c\r\nTitle=\xCD\xE0\xF1\xF2\xF0\xEE\xE9\xEA\xE8\r\n");
    EXPECT_EQ(LanguageFile::read(path).text("title"), "Настройки");
    EXPECT_EQ(LanguageFile::read(dir.write("empty.lng", "")).size(), 0u);

    for (const auto& bad : {(dir.path() / "missing.lng").string(), dir.path().string()}) {
        try {
            LanguageFile::read(bad);
            ADD_FAILURE() << bad;
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + bad);
        }
    }
}

TEST(LanguageTexts, TrayCaptionsFallBackToTheWindowTexts) {
    EXPECT_EQ(builtinTrayText("Print"), "Печать");
    EXPECT_EQ(builtinText("Print"), "Распечатать");
    EXPECT_EQ(builtinTrayText("MenuExit"), "Выход");
    EXPECT_EQ(builtinText("SpoolParam"), " Параметры очереди ");
    EXPECT_EQ(builtinText("NoSuchKey"), "");
}

std::string shippedPath(const std::string& name) {
    return std::string(MARLIX_SOURCE_DATA) + "/" + name + ".lng";
}

class ShippedLanguageFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedLanguageFile, DefinesEveryKeyAndNoOther) {
    const auto f = LanguageFile::read(shippedPath(GetParam()));
    EXPECT_NE(f.text("Title"), "");
    std::set<std::string_view> keys;
    for (const auto& t : kLanguageTexts) {
        keys.insert(t.key);
        EXPECT_NE(f.text(t.key), "") << t.key;
        // "&" marks the accelerator; a second one or none after it is a typo.
        const auto text = f.text(t.key);
        const auto amp = text.find('&');
        if (amp == std::string::npos) continue;
        EXPECT_EQ(text.find('&', amp + 1), std::string::npos) << t.key;
        EXPECT_LT(amp + 1, text.size()) << t.key;
    }
    for (const auto& e : f.entries())
        EXPECT_TRUE(keys.contains(e.key)) << "unknown or misspelt key " << e.key;
    EXPECT_EQ(f.size(), kLanguageTexts.size());
}

TEST_P(ShippedLanguageFile, IsPlainUtf8WithLfLineEnds) {
    std::ifstream in(shippedPath(GetParam()), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_FALSE(bytes.empty());
    EXPECT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
    EXPECT_EQ(bytes.find('\r'), std::string::npos);
    EXPECT_TRUE(bytes.ends_with('\n'));
    EXPECT_EQ(bytes.substr(0, bytes.find('\n')).find('='), std::string::npos)
        << "the first line says what the file is";
}

INSTANTIATE_TEST_SUITE_P(Data, ShippedLanguageFile, ::testing::Values("English", "Russian"));

TEST(ShippedLanguageFiles, RussianHoldsTheBuiltInTexts) {
    const auto f = LanguageFile::read(shippedPath("Russian"));
    for (const auto& t : kLanguageTexts) {
        if (t.key == "FontPreview") continue;
        EXPECT_EQ(f.text(t.key), t.builtin) << t.key;
    }
    const auto en = LanguageFile::read(shippedPath("English"));
    EXPECT_NE(en.text("FontPreview"), f.text("FontPreview"));
    EXPECT_NE(en.text("Title"), f.text("Title"));
}

} // namespace
