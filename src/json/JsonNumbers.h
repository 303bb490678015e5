#pragma once

// Number text helpers shared by the conversions, the reader and the writer. Never locale-dependent.

#include <cstdint>
#include <string_view>

namespace qarvia::json::numbers {

// Value of a hex digit unit, or -1.
inline int hexDigit(char16_t c) noexcept {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

// Rounds to the nearest integer, ties to even, saturating at the 64-bit limits (NaN gives 0).
int64_t roundEven(double d) noexcept;

// a * b saturating at the 64-bit limits.
int64_t saturatingMultiply(int64_t a, int64_t b) noexcept;

// Whole text as a 64-bit integer: optional leading spaces and sign, then decimal digits or, after '$', 'x'
// or '0x' (either case), up to 16 hex digits. False when the text is not wholly such a number or the
// decimal value does not fit.
bool textToInteger(std::u16string_view text, int64_t& out) noexcept;

// Whole text as a real: optional leading spaces and sign, digits with an optional '.' and exponent.
bool textToReal(std::u16string_view text, double& out) noexcept;

// ASCII digits to a double (from_chars syntax: optional '-', no leading '+'); overflow gives an infinity,
// underflow zero. Returns the number of characters used (0 when there is no number at the start).
size_t readDouble(const char* first, const char* last, double& out) noexcept;

// Text of a double with 15 significant digits in general format ("%.15g"), or the shortest text that reads
// back as the same double where the 15-digit text would read back as an infinity; non-finite values give
// "null" since JSON has no text for them. Returns the length written into buf (at least 32 chars).
int formatDouble(double d, char* buf) noexcept;

} // namespace qarvia::json::numbers
