#pragma once

// Number texts of the calculators, independent of the desktop's locale: "," groups thousands, "." is the
// decimal point. Texts are UTF-8.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qarvia::calc {

// A text that is not the number it should be; what() is the message the user sees.
class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value rounded to `decimals` places, halves away from zero on its shortest decimal form, with thousands
// grouped by ",": formatNumber(5896376410, 0) is "5,896,376,410", formatNumber(16.896, 2) is "16.90".
std::string formatNumber(double value, int decimals);

// A 32-bit signed integer in decimal, with an optional sign and surrounding blanks; anything else throws
// ConvertError("'text' is not a valid integer value").
int toInteger(std::string_view text);

// A decimal floating-point number ("12", "-1.5", "2.5e3"), with surrounding blanks allowed; anything else,
// the empty text included, throws ConvertError("'text' is not a valid floating point value").
double toFloat(std::string_view text);

// Reading rules of the level boxes: an empty box is 0.
int toIntegerOrZero(std::string_view text);
double toFloatOrZero(std::string_view text);

} // namespace qarvia::calc
