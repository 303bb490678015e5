#include "calc/Numbers.h"

#include "text/Blanks.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace qarvia::calc {
namespace {

using text::trimBlanks;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Adds one unit in the last place of a string of decimal digits; returns true when it carried out of it.
bool incrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return false;
        }
        *it = '0';
    }
    return true;
}

std::string grouped(const std::string& integerDigits) {
    std::string out;
    const std::size_t n = integerDigits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += ',';
        out += integerDigits[i];
    }
    return out;
}

} // namespace

std::string formatNumber(double value, int decimals) {
    if (std::isnan(value))
        return "NAN";
    if (std::isinf(value))
        return value < 0 ? "-INF" : "INF";
    if (decimals < 0)
        decimals = 0;

    // The shortest fixed-notation text that reads back as the same double: the "decimal value" rounded below.
    char buffer[512];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::fixed);
    if (ec != std::errc())
        return "NAN";
    const std::string_view text(buffer, std::size_t(end - buffer));
    const std::size_t point = text.find('.');
    std::string integer(text.substr(0, point));
    std::string fraction(point == std::string_view::npos ? std::string_view() : text.substr(point + 1));

    const bool roundUp = int(fraction.size()) > decimals && fraction[std::size_t(decimals)] >= '5';
    fraction.resize(std::size_t(decimals), '0');
    if (roundUp) {
        std::string all = integer + fraction;
        if (incrementDigits(all))
            all.insert(all.begin(), '1');
        integer = all.substr(0, all.size() - fraction.size());
        fraction = all.substr(all.size() - fraction.size());
    }

    bool zero = true;
    for (char c : integer + fraction)
        zero = zero && c == '0';
    std::string out = (value < 0 && !zero) ? "-" : "";
    out += grouped(integer);
    if (decimals > 0)
        out += '.' + fraction;
    return out;
}

int toInteger(std::string_view text) {
    const std::string_view t = trimBlanks(text);
    std::string_view digits = t;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    bool valid = !digits.empty();
    long long value = 0;
    for (char c : digits) {
        if (!isDigit(c) || value > (1LL << 31)) {
            valid = false;
            break;
        }
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (!valid || value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
    return int(value);
}

double toFloat(std::string_view text) {
    const std::string_view t = trimBlanks(text);
    // sign, digits with at most one ".", at least one digit, then an optional exponent with digits
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-'))
        ++i;
    std::size_t mantissaDigits = 0;
    bool point = false;
    for (; i < t.size(); ++i) {
        if (isDigit(t[i]))
            ++mantissaDigits;
        else if (t[i] == '.' && !point)
            point = true;
        else
            break;
    }
    bool valid = mantissaDigits > 0;
    if (valid && i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-'))
            ++i;
        std::size_t exponentDigits = 0;
        for (; i < t.size() && isDigit(t[i]); ++i)
            ++exponentDigits;
        valid = exponentDigits > 0;
    }
    valid = valid && i == t.size();

    double value = 0;
    if (valid) {
        // from_chars takes no leading "+"
        const std::string_view number = t.front() == '+' ? t.substr(1) : t;
        const auto [ptr, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
        // Beyond the range of a double is no valid value either.
        valid = ptr == number.data() + number.size() && ec == std::errc();
    }
    if (!valid)
        throw ConvertError("'" + std::string(text) + "' is not a valid floating point value");
    return value;
}

int toIntegerOrZero(std::string_view text) {
    return text.empty() ? 0 : toInteger(text);
}

double toFloatOrZero(std::string_view text) {
    return text.empty() ? 0.0 : toFloat(text);
}

} // namespace qarvia::calc
