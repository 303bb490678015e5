#include "json/JsonNumbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <locale.h>
#include <string>

namespace qarvia::json::numbers {

int64_t roundEven(double d) noexcept {
    if (std::isnan(d))
        return 0;
    const double r = std::nearbyint(d);
    if (r >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (r < -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(r);
}

int64_t saturatingMultiply(int64_t a, int64_t b) noexcept {
    int64_t r;
    if (!__builtin_mul_overflow(a, b, &r))
        return r;
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
}

namespace {

// Reads a double from ASCII text through strtod in the C locale; used only where from_chars reports a
// value out of range, to get the infinity or zero that the IEEE rounding gives.
double strtodC(const char* text) noexcept {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c ? strtod_l(text, nullptr, c) : 0.0;
}

} // namespace

size_t readDouble(const char* first, const char* last, double& out) noexcept {
    double v = 0;
    const auto r = std::from_chars(first, last, v, std::chars_format::general);
    if (r.ec == std::errc()) {
        out = v;
        return static_cast<size_t>(r.ptr - first);
    }
    if (r.ec == std::errc::result_out_of_range) {
        const std::string copy(first, r.ptr);
        out = strtodC(copy.c_str());
        return static_cast<size_t>(r.ptr - first);
    }
    out = 0;
    return 0;
}

bool textToInteger(std::u16string_view text, int64_t& out) noexcept {
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    bool hex = false;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size())
        return false;
    uint64_t value = 0;
    if (hex) {
        if (text.size() - i > 16)
            return false;
        for (; i < text.size(); ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                return false;
            value = value << 4 | static_cast<unsigned>(d);
        }
        out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
        return true;
    }
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c < u'0' || c > u'9')
            return false;
        const unsigned d = c - u'0';
        if (value > (limit - d) / 10)
            return false;
        value = value * 10 + d;
    }
    out = negative ? static_cast<int64_t>(0 - value) : static_cast<int64_t>(value);
    return true;
}

bool textToReal(std::u16string_view text, double& out) noexcept {
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    std::string ascii;
    ascii.reserve(text.size() - i);
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        if (text[i] == u'-')
            ascii.push_back('-');
        ++i;
    }
    size_t digits = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits)
        ascii.push_back(static_cast<char>(text[i]));
    if (i < text.size() && text[i] == u'.') {
        ascii.push_back('.');
        for (++i; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits)
            ascii.push_back(static_cast<char>(text[i]));
    }
    if (digits == 0)
        return false;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
            ascii.push_back(static_cast<char>(text[i++]));
        size_t expDigits = 0;
        for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++expDigits)
            ascii.push_back(static_cast<char>(text[i]));
        if (expDigits == 0)
            return false;
    }
    if (i != text.size())
        return false;
    // from_chars rejects a mantissa that starts with '.', so give it a leading zero.
    const size_t dot = ascii.find('.');
    if (dot != std::string::npos && (dot == 0 || ascii[dot - 1] == '-'))
        ascii.insert(dot, 1, '0');
    double v = 0;
    if (readDouble(ascii.data(), ascii.data() + ascii.size(), v) != ascii.size())
        return false;
    out = v;
    return true;
}

int formatDouble(double d, char* buf) noexcept {
    if (!std::isfinite(d)) {
        std::memcpy(buf, "null", 4);
        return 4;
    }
    if (d == 0) {
        // Negative zero too: a "-0" would read back as the integer 0 and write differently.
        buf[0] = '0';
        return 1;
    }
    const auto r = std::to_chars(buf, buf + 32, d, std::chars_format::general, 15);
    // Next to the largest double, 15 digits round up past it and would read back as an infinity; such a
    // value gets the shortest text that reads back as itself.
    if (std::fabs(d) > 1.7976931348623e308) {
        double back = 0;
        readDouble(buf, r.ptr, back);
        if (std::isinf(back))
            return static_cast<int>(std::to_chars(buf, buf + 32, d).ptr - buf);
    }
    return static_cast<int>(r.ptr - buf);
}

} // namespace qarvia::json::numbers
