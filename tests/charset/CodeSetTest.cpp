// Loading code page files: the format's rules, the failures, and the shipped
// tables against the published mappings.
#include "charset/CodeSet.h"

#include "../support/TempDir.h"
#include "core/Errors.h"

#include <gtest/gtest.h>
#include <string>

using namespace marlix;
using namespace marlix::test;

namespace {

class CodeSetTest : public ::testing::Test {
protected:
    // Loads a file of these bytes; returns the error message's first line
    // (the second says where), empty when none.
    std::string load(std::string_view bytes) {
        const std::string whole = loadWhole(bytes);
        return whole.substr(0, whole.find('\n'));
    }
    std::string loadWhole(std::string_view bytes) {
        try {
            codeset(table, dir.write("test.cp", bytes));
            return {};
        } catch (const Error& e) {
            return e.what();
        }
    }
    void expectIdentityExcept(std::initializer_list<int> changed) {
        for (int b = 0; b < 256; ++b) {
            if (std::find(changed.begin(), changed.end(), b) != changed.end()) continue;
            EXPECT_EQ(table[b].code, b) << b;
            EXPECT_EQ(table[b].set, 1) << b;
        }
    }

    TempDir dir;
    CodePageTable table; // all zero until a load resets it
};

TEST_F(CodeSetTest, TheTableStartsEmptyAndALoadStartsFromTheIdentity) {
    EXPECT_EQ(table['A'].code, 0);
    EXPECT_EQ(table['A'].set, 0);
    EXPECT_EQ(load("\r\n"), "");
    expectIdentityExcept({});
}

TEST_F(CodeSetTest, LineCountsFromOneTo256) {
    std::string lines;
    for (int i = 0; i < 256; ++i)
        lines += "A=" + std::to_string(i) + "\r\n";
    EXPECT_EQ(load(lines), "");
    EXPECT_EQ(table['A'].code, 255) << "later lines override earlier ones";

    table['A'].code = 7;
    EXPECT_EQ(load(lines + "B=1\r\n"), "Range check error");
    EXPECT_EQ(table['A'].code, 7) << "a rejected file leaves the table alone";
    EXPECT_EQ(load(""), "Range check error");
    EXPECT_EQ(table['A'].code, 7);
    // A last line without a break counts; NUL ends the text.
    EXPECT_EQ(load("A=66\nB=67"), "");
    EXPECT_EQ(table['B'].code, 67);
    EXPECT_EQ(load(std::string("A=66\0B=67", 9)), "");
    EXPECT_EQ(table['B'].code, 'B');
}

TEST_F(CodeSetTest, RangesSingleBytesAndRelativeCodes) {
    EXPECT_EQ(load("A..Z=97"), "");
    for (int b = 'A'; b <= 'Z'; ++b) {
        EXPECT_EQ(table[b].code, b + 32);
        EXPECT_EQ(table[b].set, 1);
    }
    EXPECT_EQ(load("A..Z=+32#0"), "");
    EXPECT_EQ(table['Q'].code, 'q');
    EXPECT_EQ(table['Q'].set, 0);

    EXPECT_EQ(load("Z..A=97"), "");
    expectIdentityExcept({});

    EXPECT_EQ(load("AB=300"), "");
    EXPECT_EQ(table['A'].code, 300);
    expectIdentityExcept({'A'});

    EXPECT_EQ(load("A=200..210"), "");
    EXPECT_EQ(table['A'].code, 200);

    EXPECT_EQ(load("A=1=2#204"), "'1=2' is not a valid integer value");
    EXPECT_EQ(load("\x80..\x9f=1040#204"), "");
    EXPECT_EQ(table[0x9f].code, 1071);
    EXPECT_EQ(table[0x9f].set, 204);
}

TEST_F(CodeSetTest, OutOfRangeValuesStopTheLoadAndKeepEarlierLines) {
    EXPECT_EQ(load("A=200\r\nB=+70000\r\nC=300"), "Range check error");
    EXPECT_EQ(table['A'].code, 200);
    EXPECT_EQ(table['C'].code, 'C');
    EXPECT_EQ(load("A=70000"), "Range check error");
    EXPECT_EQ(load("A=-1"), "Range check error");
    EXPECT_EQ(load("A=1#256"), "Range check error");
    EXPECT_EQ(load("\xff=+65535"), "Range check error"); // 255 + 65535
    EXPECT_EQ(load("A=65535#255"), "");
}

TEST_F(CodeSetTest, TextThatIsNoIntegerIsNamed) {
    EXPECT_EQ(load("x=y"), "'y' is not a valid integer value");
    expectIdentityExcept({});
    EXPECT_EQ(load("A= 65"), "' 65' is not a valid integer value");
    EXPECT_EQ(load("A=$41"), "'$41' is not a valid integer value");
    EXPECT_EQ(load("A=65#x"), "'x' is not a valid integer value");
    EXPECT_EQ(load("A=99999999999"), "'99999999999' is not a valid integer value");
}

TEST_F(CodeSetTest, LinesOutsideTheFormatAreRejectedWithTheLine) {
    EXPECT_EQ(load("A=65\r\nno equals sign"), "'no equals sign' is not a valid code page line");
    EXPECT_EQ(table['A'].code, 65);
    EXPECT_EQ(load("=65"), "'=65' is not a valid code page line");
    EXPECT_EQ(load("A=#204"), "'A=#204' is not a valid code page line");
    EXPECT_EQ(load("A="), "'A=' is not a valid code page line");
}

TEST_F(CodeSetTest, TheReasonSaysWhereAndEchoesNoMoreThanALineOfPrintableText) {
    const std::string file = (dir.path() / "test.cp").string();
    EXPECT_EQ(loadWhole("A=65\r\nB=+70000"), "Range check error\n" + file + ", line 2");
    EXPECT_EQ(loadWhole(""), "Range check error\n" + file + ": it holds no line");
    // A 50 MB line of random bytes would otherwise be echoed whole, raw.
    const std::string junk = "\x01\xff" + std::string(50 << 20, 'x');
    EXPECT_EQ(loadWhole(junk), "'\\x01\\xFF" + std::string(78, 'x') +
                                   "...' is not a valid code page line\n" + file + ", line 1");
}

TEST_F(CodeSetTest, AMissingFileIsNamedAndChangesNothing) {
    table.resetToIdentity();
    table['A'].code = 9;
    const std::string missing = (dir.path() / "none.cp").string();
    try {
        codeset(table, missing);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
    }
    EXPECT_EQ(table['A'].code, 9);
}

} // namespace
