#include "calc/Numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>

namespace qarvia::calc {
namespace {

struct FormatCase {
    double value;
    int decimals;
    const char* expected;
};

const FormatCase kFormats[] = {
    {5896376410.0, 0, "5,896,376,410"},
    {40, 0, "40"},
    {999, 0, "999"},
    {1000, 0, "1,000"},
    {-138000986, 0, "-138,000,986"},
    // halves away from zero, on the decimal value
    {0.5, 0, "1"},
    {1.5, 0, "2"},
    {2.5, 0, "3"},
    {-0.5, 0, "-1"},
    {16.896, 2, "16.90"},
    {12.91584, 2, "12.92"},
    {1.005, 2, "1.01"},
    {294.2461538, 0, "294"},
    {24.2984, 0, "24"},
    {999.9995, 3, "1,000.000"},
    {105.6, 3, "105.600"},
    {0, 3, "0.000"},
    {0, 2, "0.00"},
    {-0.4, 0, "0"},
    {std::numeric_limits<double>::infinity(), 2, "INF"},
};

TEST(FormatNumber, FixedDecimalsWithGrouping) {
    for (const FormatCase& c : kFormats)
        EXPECT_EQ(formatNumber(c.value, c.decimals), c.expected) << c.value << " with " << c.decimals;
}

// A desktop whose locale writes "1.234,5" changes none of the program's number texts.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(FormatNumber, IndependentOfTheLocale) {
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
    for (const FormatCase& c : kFormats)
        EXPECT_EQ(formatNumber(c.value, c.decimals), c.expected) << c.value;
    EXPECT_EQ(toFloat("1.5"), 1.5);
    EXPECT_THROW(toFloat("1,5"), ConvertError);
    std::locale::global(previous);
}

TEST(ToInteger, ReadsThirtyTwoBitDecimals) {
    const std::pair<const char*, int> good[] = {
        {"0", 0},
        {"80", 80},
        {"007", 7},
        {"+7", 7},
        {"-5", -5},
        {" 12 ", 12},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
    };
    for (auto [text, value] : good)
        EXPECT_EQ(toInteger(text), value) << text;
}

TEST(ToInteger, RefusesEverythingElseWithTheConversionMessage) {
    for (const char* text : {"", " ", "2147483648", "-2147483649", "99999999999999999999", "1.5", "12a", "+", "一"}) {
        try {
            toInteger(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
    EXPECT_EQ(toIntegerOrZero(""), 0);
}

TEST(ToFloat, ReadsDecimalNumbers) {
    const std::pair<const char*, double> good[] = {
        {"160", 160}, {"1.5", 1.5}, {".5", 0.5}, {"5.", 5}, {"-2.5e1", -25}, {" 35 ", 35}, {"+3", 3}, {"1E2", 100},
    };
    for (auto [text, value] : good)
        EXPECT_EQ(toFloat(text), value) << text;
    EXPECT_EQ(toFloatOrZero(""), 0);
}

TEST(ToFloat, RefusesEverythingElseWithTheConversionMessage) {
    for (const char* text : {"", ".", "-", "1,5", "1e", "1e+", "1.2.3", "abc", "nan", "inf", "1e999", "0x10"}) {
        try {
            toFloat(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid floating point value");
        }
    }
}

} // namespace
} // namespace qarvia::calc
