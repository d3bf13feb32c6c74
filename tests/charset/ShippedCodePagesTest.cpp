// The code page files we ship, byte by byte against the published Unicode
// mapping tables of each code page.
#include "charset/CodeSet.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>

using namespace marlix;

namespace {

CodePageTable loadShipped(const std::string& name) {
    CodePageTable t;
    codeset(t, std::string(MARLIX_SOURCE_DATA) + "/" + name + ".cp");
    return t;
}

void expectText(const CodePageTable& t, const std::map<int, int>& bytes, std::uint8_t set) {
    for (auto [b, code] : bytes) {
        EXPECT_EQ(t[std::uint8_t(b)].code, code) << "byte " << b;
        EXPECT_EQ(t[std::uint8_t(b)].set, set) << "byte " << b;
    }
}

void expectAsciiAndControls(const CodePageTable& t) {
    for (int b = 0; b < 128; ++b) {
        EXPECT_EQ(t[std::uint8_t(b)].code, b);
        EXPECT_EQ(t[std::uint8_t(b)].set, 1);
    }
}

// Bytes among 176..223 drawn as lines, shades and blocks; the rest are text.
void expectBoxBytes(const CodePageTable& t, const std::set<int>& box) {
    for (int b = 176; b <= 223; ++b) {
        if (!box.count(b)) {
            EXPECT_NE(t[std::uint8_t(b)].set, 0) << "byte " << b << " is text";
            continue;
        }
        EXPECT_EQ(t[std::uint8_t(b)].set, 0) << "byte " << b;
        EXPECT_EQ(t[std::uint8_t(b)].code, b) << "byte " << b;
    }
}

std::set<int> allBoxBytes() {
    std::set<int> s;
    for (int b = 176; b <= 223; ++b)
        s.insert(b);
    return s;
}

TEST(ShippedCodePages, Cp437) {
    const auto t = loadShipped("437");
    expectAsciiAndControls(t);
    expectBoxBytes(t, allBoxBytes());
    expectText(t, {{128, 0x00C7}, {129, 0x00FC}, {130, 0x00E9}, {142, 0x00C4}, {153, 0x00D6},
                   {155, 0x00A2}, {156, 0x00A3}, {157, 0x00A5}, {158, 0x20A7}, {159, 0x0192},
                   {164, 0x00F1}, {168, 0x00BF}, {173, 0x00A1}, {224, 0x03B1}, {225, 0x00DF},
                   {227, 0x03C0}, {230, 0x00B5}, {236, 0x221E}, {241, 0x00B1}, {248, 0x00B0},
                   {251, 0x221A}, {253, 0x00B2}, {254, 0x25A0}, {255, 0x00A0}},
               1);
}

TEST(ShippedCodePages, Cp866) {
    const auto t = loadShipped("866");
    expectAsciiAndControls(t);
    expectBoxBytes(t, allBoxBytes());
    std::map<int, int> cyrillic;
    for (int b = 128; b <= 175; ++b)
        cyrillic[b] = 0x0410 + (b - 128); // А..п
    for (int b = 224; b <= 239; ++b)
        cyrillic[b] = 0x0440 + (b - 224); // р..я
    cyrillic.insert({{240, 0x0401},
                     {241, 0x0451},
                     {242, 0x0404},
                     {243, 0x0454},
                     {244, 0x0407},
                     {245, 0x0457},
                     {246, 0x040E},
                     {247, 0x045E},
                     {248, 0x00B0},
                     {249, 0x2219},
                     {250, 0x00B7},
                     {251, 0x221A},
                     {252, 0x2116},
                     {253, 0x00A4},
                     {254, 0x25A0},
                     {255, 0x00A0}});
    expectText(t, cyrillic, 204);
}

TEST(ShippedCodePages, Cp850) {
    const auto t = loadShipped("850");
    expectAsciiAndControls(t);
    expectBoxBytes(t, {176, 177, 178, 179, 180, 185, 186, 187, 188, 191, 192, 193, 194, 195,
                       196, 197, 200, 201, 202, 203, 204, 205, 206, 217, 218, 219, 220, 223});
    expectText(t, {{128, 0x00C7}, {155, 0x00F8}, {157, 0x00D8}, {158, 0x00D7}, {159, 0x0192},
                   {181, 0x00C1}, {182, 0x00C2}, {183, 0x00C0}, {184, 0x00A9}, {189, 0x00A2},
                   {190, 0x00A5}, {198, 0x00E3}, {199, 0x00C3}, {207, 0x00A4}, {208, 0x00F0},
                   {209, 0x00D0}, {210, 0x00CA}, {211, 0x00CB}, {212, 0x00C8}, {213, 0x0131},
                   {214, 0x00CD}, {215, 0x00CE}, {216, 0x00CF}, {221, 0x00A6}, {222, 0x00CC},
                   {238, 0x00AF}, {244, 0x00B6}, {245, 0x00A7}},
               1);
}

TEST(ShippedCodePages, Cp852) {
    const auto t = loadShipped("852");
    expectAsciiAndControls(t);
    expectBoxBytes(t, {176, 177, 178, 179, 180, 185, 186, 187, 188, 191, 192, 193, 194, 195,
                       196, 197, 200, 201, 202, 203, 204, 205, 206, 217, 218, 219, 220, 223});
    expectText(t, {{133, 0x016F}, {134, 0x0107}, {136, 0x0142}, {141, 0x0179}, {143, 0x0106},
                   {157, 0x0141}, {164, 0x0104}, {165, 0x0105}, {181, 0x00C1}, {182, 0x00C2},
                   {183, 0x011A}, {184, 0x015E}, {189, 0x017B}, {190, 0x017C}, {198, 0x0102},
                   {199, 0x0103}, {207, 0x00A4}, {208, 0x0111}, {209, 0x0110}, {210, 0x010E},
                   {211, 0x00CB}, {212, 0x010F}, {213, 0x0147}, {214, 0x00CD}, {215, 0x00CE},
                   {216, 0x011B}, {221, 0x0162}, {222, 0x016E}, {230, 0x0160}, {231, 0x0161},
                   {252, 0x0158}, {253, 0x0159}},
               238);
}

TEST(ShippedCodePages, Cp1251) {
    const auto t = loadShipped("1251");
    expectAsciiAndControls(t);
    expectBoxBytes(t, {});
    std::map<int, int> cyrillic;
    for (int b = 192; b <= 255; ++b)
        cyrillic[b] = 0x0410 + (b - 192); // А..я
    cyrillic.insert({{128, 0x0402},
                     {136, 0x20AC},
                     {168, 0x0401},
                     {184, 0x0451},
                     {185, 0x2116},
                     {150, 0x2013},
                     {171, 0x00AB},
                     {187, 0x00BB}});
    expectText(t, cyrillic, 204);
    EXPECT_EQ(t[152].set, 254) << "undefined in the code page: prints nothing";
}

} // namespace
