#include "toolkit/toolkit.h"

#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>

using namespace veltrace::toolkit;

TEST(FloatToText, FixedDecimalsRoundLikeTheCLibrary) {
    EXPECT_EQ(floatToText(1.0f, 2), "1.00");
    EXPECT_EQ(floatToText(1500.0f, 2), "1500.00");
    EXPECT_EQ(floatToText(0.15f, 2), "0.15");
    EXPECT_EQ(floatToText(-0.006f, 2), "-0.01");
    EXPECT_EQ(floatToText(-1.5f, 1), "-1.5");
    EXPECT_EQ(floatToText(3.7f, 0), "4");
}

TEST(FloatToText, ZeroNeverShowsAMinusSign) {
    EXPECT_EQ(floatToText(-0.0f, 2), "0.00");
    EXPECT_EQ(floatToText(-0.001f, 2), "0.00");
    EXPECT_EQ(floatToText(-0.4f, 0), "0");
    EXPECT_EQ(floatToText(-1e-12f, -1), "0");
}

TEST(FloatToText, MinusOneKeepsOnlyTheNeededDecimals) {
    EXPECT_EQ(floatToText(2.5f, -1), "2.5");
    EXPECT_EQ(floatToText(100.0f, -1), "100");
    // The float nearest 0.1, widened to double, shows its error at the tenth decimal.
    EXPECT_EQ(floatToText(0.1f, -1), "0.1000000015");
}

TEST(FloatToText, DecimalsAreClampedToZeroAnd512) {
    EXPECT_EQ(floatToText(3.25f, -7), "3");
    EXPECT_EQ(floatToText(1.0f, 600), "1." + std::string(512, '0'));
    const std::string widest = floatToText(-FLT_MAX, 512);
    EXPECT_EQ(widest, "-340282346638528859811704183484516925440." + std::string(512, '0'));
}

TEST(FloatToText, InfinitiesAndNaN) {
    EXPECT_EQ(floatToText(INFINITY, 2), "+Infinity");
    EXPECT_EQ(floatToText(-INFINITY, -1), "-Infinity");
    EXPECT_EQ(floatToText(NAN, 3), "NaN");
}

TEST(IntegerToText, PlainDecimal) {
    EXPECT_EQ(integerToText(1), "1");
    EXPECT_EQ(integerToText(0), "0");
    EXPECT_EQ(integerToText(-305), "-305");
    EXPECT_EQ(integerToText(INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(integerToText(INT64_MAX), "9223372036854775807");
}

TEST(TextEqual, ComparesEveryByte) {
    EXPECT_EQ(textEqual("", std::string()), 1);
    EXPECT_EQ(textEqual("COM3", "COM3"), 1);
    EXPECT_EQ(textEqual("COM3", "COM30"), 0);
    EXPECT_EQ(textEqual("com3", "COM3"), 0);
    EXPECT_EQ(textEqual(std::string("a\0b", 3), std::string("a\0c", 3)), 0);
}
