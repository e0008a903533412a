#include "toolkit/toolkit.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <string>

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

// The digits come from the C++ library's conversion, not printf; both must agree digit for digit
// on every float and number of decimals, ties included (0.125 to two decimals is "0.12").
TEST(FloatToText, WritesTheDigitsPrintfWrites) {
    const auto printfText = [](float value, int decimals) {
        char buffer[700];
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, static_cast<double>(value));
        std::string text = buffer;
        if (decimals == 10) { // the trimmed form: trailing zeros and a bare point go
            text.erase(text.find_last_not_of('0') + 1);
            if (text.back() == '.') {
                text.pop_back();
            }
        }
        if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos) {
            text.erase(0, 1);
        }
        return text;
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> mantissa(-10.0f, 10.0f);
    std::uniform_int_distribution<int> exponent(-12, 12);
    for (int i = 0; i < 20000; ++i) {
        const float value =
            mantissa(random) * std::pow(10.0f, static_cast<float>(exponent(random)));
        for (const int decimals : {0, 1, 2, 3, 6}) {
            ASSERT_EQ(floatToText(value, decimals), printfText(value, decimals))
                << value << " with " << decimals << " decimals";
        }
        ASSERT_EQ(floatToText(value, -1), printfText(value, 10)) << value;
    }
    for (const float tie : {0.125f, 0.375f, -0.625f, 2.5f, 3.5f, 1.0625f}) {
        for (const int decimals : {0, 1, 2, 3}) {
            EXPECT_EQ(floatToText(tie, decimals), printfText(tie, decimals)) << tie;
        }
    }
    EXPECT_EQ(floatToText(0.125f, 2), "0.12");
    EXPECT_EQ(floatToText(0.375f, 2), "0.38");
}
