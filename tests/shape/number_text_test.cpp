// Numbers into fixed-width numeric fields: exact text, fixed and exponent
// forms, rounding only where the width leaves no room, checked by reading the
// text back as shapelib and GDAL do (strtod).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "shape/number_text.h"

namespace {

tvDecimal parse(const std::string& p_text) {
    tvDecimal value;
    EXPECT_TRUE(tvParseDecimal(p_text, value)) << p_text;
    return value;
}

std::string field(const std::string& p_value, int p_width, int p_decimals,
                  tvNumberFit p_expected = NUMBER_EXACT) {
    std::string text;
    EXPECT_EQ(tvFormatNumberField(parse(p_value), p_width, p_decimals, text), p_expected)
        << p_value << " " << p_width << "." << p_decimals;
    EXPECT_TRUE(p_expected == NUMBER_UNFIT || text.size() == static_cast<size_t>(p_width)) << text;
    size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? text : text.substr(first);
}

}  // namespace

TEST(NumberText, ParsesTheDatabaseAndLibraryForms) {
    tvDecimal v = parse("-123.4500");
    EXPECT_TRUE(v.negative);
    EXPECT_EQ(v.digits, "12345");
    EXPECT_EQ(v.exponent, -2);
    v = parse(".5");
    EXPECT_EQ(v.digits, "5");
    EXPECT_EQ(v.exponent, -1);
    v = parse("-.05");
    EXPECT_TRUE(v.negative);
    EXPECT_EQ(v.exponent, -2);
    v = parse("1.0E+125");
    EXPECT_EQ(v.digits, "1");
    EXPECT_EQ(v.exponent, 125);
    v = parse("12e-07");
    EXPECT_EQ(v.digits, "12");
    EXPECT_EQ(v.exponent, -7);
    v = parse("99999999999999999999999999999999999999");
    EXPECT_EQ(v.digits.size(), 38u);
    v = parse("0000");
    EXPECT_TRUE(v.digits.empty());
    v = parse(" 1200 ");
    EXPECT_EQ(v.digits, "12");
    EXPECT_EQ(v.exponent, 2);
    tvDecimal bad;
    for (const char* text : {"", "-", ".", "1,5", "#####", "~", "inf", "nan", "1e", "1e+", "1.2.3", "1e999999999"}) {
        EXPECT_FALSE(tvParseDecimal(text, bad)) << text;
    }
}

TEST(NumberText, DoublesAndFloatsAsTheirShortestDecimal) {
    tvDecimal v;
    ASSERT_TRUE(tvDecimalFromDouble(0.1, v));
    EXPECT_EQ(v.digits, "1");
    EXPECT_EQ(v.exponent, -1);
    ASSERT_TRUE(tvDecimalFromDouble(-0.0, v));
    EXPECT_TRUE(v.negative);
    EXPECT_TRUE(v.digits.empty());
    ASSERT_TRUE(tvDecimalFromFloat(0.1f, v));
    EXPECT_EQ(v.digits, "1");
    ASSERT_TRUE(tvDecimalFromDouble(1e100, v));
    EXPECT_EQ(v.exponent, 100);
    EXPECT_FALSE(tvDecimalFromDouble(INFINITY, v));
    EXPECT_FALSE(tvDecimalFromDouble(-INFINITY, v));
    EXPECT_FALSE(tvDecimalFromDouble(NAN, v));
    EXPECT_FALSE(tvDecimalFromFloat(NAN, v));
}

TEST(NumberText, FixedFormWithTheFieldsDecimals) {
    EXPECT_EQ(field("12.5", 12, 2), "12.50");
    EXPECT_EQ(field("-12345678.25", 12, 2), "-12345678.25");
    EXPECT_EQ(field("0", 5, 2), "0.00");
    EXPECT_EQ(field("-.005", 8, 5), "-0.00500");
    EXPECT_EQ(field("7", 6, 0), "7");
    EXPECT_EQ(field("99999999999999999999999999999999999999", 39, 0),
              "99999999999999999999999999999999999999");
    EXPECT_EQ(field("-9223372036854775807", 39, 0), "-9223372036854775807");
    EXPECT_EQ(field("1e-10", 24, 15), "0.000000000100000");
    EXPECT_EQ(field("0.000001", 24, 15), "0.000001000000000");
    EXPECT_EQ(field("3.14159265", 24, 15), "3.141592650000000");
    // Fewer decimals when the integer part needs the room and they are zeros.
    EXPECT_EQ(field("1234567890123456789012", 24, 15), "1234567890123456789012.0");
    EXPECT_EQ(field("12345678901234567890123", 24, 15), "12345678901234567890123");
    EXPECT_EQ(field("123456789.5", 12, 4), "123456789.50");
    // The sign of a binary float's negative zero is kept.
    EXPECT_EQ(field("-0", 24, 15), "-0.000000000000000");
}

TEST(NumberText, ExponentFormWhenFixedWouldLoseDigits) {
    EXPECT_EQ(field("1e30", 24, 15), "1e+30");
    EXPECT_EQ(field("1e100", 24, 15), "1e+100");
    EXPECT_EQ(field("1e125", 24, 15), "1e+125");
    EXPECT_EQ(field("-1.23456789012345e37", 24, 15), "-1.23456789012345e+37");
    EXPECT_EQ(field("1.5e-20", 24, 15), "1.5e-20");
    EXPECT_EQ(field("1e-130", 24, 15), "1e-130");
    EXPECT_EQ(field("0.3333333333333333", 24, 15), "3.333333333333333e-01");
    // Integers wider than their field (a described width that is too small).
    EXPECT_EQ(field("123456789012", 10, 0, NUMBER_ROUNDED), "1.2346e+11");
}

TEST(NumberText, RoundsOnlyWhereTheWidthLeavesNoRoom) {
    // 40 significant digits in 24 characters: 19 in exponent form.
    EXPECT_EQ(field("0.1234567890123456789012345678901234567891", 24, 15, NUMBER_ROUNDED), "1.234567890123456789e-01");
    // Rounding carries into a new leading digit.
    EXPECT_EQ(field("9.99999", 5, 0, NUMBER_ROUNDED), "10");
    EXPECT_EQ(field("-9.9999999999999999999e99", 10, 2, NUMBER_ROUNDED), "-1e+100");
    EXPECT_EQ(field("2.675", 4, 2, NUMBER_ROUNDED), "2.68");
    EXPECT_EQ(field("-2.665", 5, 2, NUMBER_ROUNDED), "-2.67");
    // Nothing fits in one character but a digit.
    std::string text;
    EXPECT_EQ(tvFormatNumberField(parse("-5"), 1, 0, text), NUMBER_UNFIT);
    EXPECT_EQ(tvFormatNumberField(parse("1e100"), 4, 0, text), NUMBER_UNFIT);
    EXPECT_EQ(tvFormatNumberField(parse("1"), 0, 0, text), NUMBER_UNFIT);
}

// Every double, at every width from 1 to 30: the text fits, reads back as the
// same double whenever the fit is exact, and otherwise within the rounding of
// the digits it keeps.
TEST(NumberText, EveryWidthReadsBackAsTheValue) {
    std::mt19937_64 random(11);
    std::uniform_int_distribution<int> exponent(-300, 300);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    for (int i = 0; i < 3000; ++i) {
        double value = mantissa(random) * std::pow(10.0, exponent(random) % (i % 3 == 0 ? 300 : 20));
        if (i % 7 == 0) value = std::round(value);
        tvDecimal decimal;
        ASSERT_TRUE(tvDecimalFromDouble(value, decimal));
        for (int width = 1; width <= 30; ++width) {
            for (int decimals : {0, 2, 15}) {
                if (decimals >= width) continue;
                std::string text;
                tvNumberFit fit = tvFormatNumberField(decimal, width, decimals, text);
                if (fit == NUMBER_UNFIT) {
                    EXPECT_LT(width, 8) << value;
                    continue;
                }
                ASSERT_EQ(text.size(), static_cast<size_t>(width)) << value << " " << text;
                double back = std::strtod(text.c_str(), nullptr);
                if (fit == NUMBER_EXACT) {
                    EXPECT_EQ(back, value) << text;
                } else if (width >= 24) {
                    // 24 characters keep at least 15 significant digits.
                    EXPECT_NEAR(back, value, std::fabs(value) * 1e-14) << text;
                }
            }
        }
    }
}

// The integer path must give the decimal path's text and verdict for every
// value, width and decimals, including the ones it hands over to it.
TEST(NumberText, IntegersAsTheDecimalPathWritesThem) {
    std::mt19937_64 random(15);
    std::vector<long long> values = {0, 1, -1, 9, -9, 10, -10, 99999999, -99999999, 1000000000,
                                     9007199254740991LL, -9007199254740992LL,
                                     999999999999999999LL, -999999999999999999LL,
                                     9223372036854775807LL, -9223372036854775807LL - 1};
    for (int i = 0; i < 300; ++i) {
        long long value = static_cast<long long>(random() >> (random() % 64));
        values.push_back(i % 2 ? -value : value);
    }
    for (long long value : values) {
        for (int width = 0; width <= 22; ++width) {
            for (int decimals : {0, 2}) {
                std::string expected, text = "stale";
                tvNumberFit expectedFit =
                    tvFormatNumberField(parse(std::to_string(value)), width, decimals, expected);
                ASSERT_EQ(tvFormatIntegerField(value, width, decimals, text), expectedFit)
                    << value << " " << width << "." << decimals;
                if (expectedFit != NUMBER_UNFIT) {
                    ASSERT_EQ(text, expected) << value << " " << width << "." << decimals;
                }
            }
        }
    }
}
