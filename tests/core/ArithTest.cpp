// Rounding and range checks that every layout value goes through.
#include "core/Arith.h"

#include <gtest/gtest.h>
#include <limits>

using namespace marlix;

TEST(Nearest, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(nearest(2.5L), 2);
    EXPECT_EQ(nearest(3.5L), 4);
    EXPECT_EQ(nearest(-2.5L), -2);
    EXPECT_EQ(nearest(33.333L), 33);
    EXPECT_THROW(nearest(std::numeric_limits<long double>::infinity()), Error);
    EXPECT_THROW(nearest(std::numeric_limits<long double>::quiet_NaN()), Error);
}

TEST(Fit, ValuesOutsideTheFieldAreRangeErrors) {
    EXPECT_EQ(fit<std::uint16_t>(65535), 65535);
    EXPECT_THROW(fit<std::uint16_t>(65536), Error);
    EXPECT_THROW(fit<std::uint8_t>(-1), Error);
    EXPECT_THROW(nearestAs<std::uint8_t>(255.5L), Error); // 256
    try {
        fit<std::int32_t>(std::int64_t{1} << 40);
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Range check error");
    }
}

TEST(Add32, OverflowIsAnError) {
    EXPECT_EQ(add32(2147483600, 47), 2147483647);
    try {
        add32(2147483600, 48);
        FAIL();
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "Integer overflow");
    }
    EXPECT_THROW(add32(-2147483647, -2), Error);
}
