#pragma once

// ASCII character classes and case folding for wire text: headers, form values, cookie attributes, dates,
// URL schemes, file keys. <cctype> answers by the C locale, which Qt takes from the desktop at start-up, so
// under a Latin-1 locale 0xE5 is a letter and under a Turkish one "i" upper-cases to 0xDD. These rules look
// at ASCII only: every byte above 0x7F is neither letter nor digit and keeps its case. Header-only.

#include <string>
#include <string_view>

namespace qarvia::text {

constexpr bool isAsciiDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr bool isAsciiUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

constexpr bool isAsciiLower(char c) {
    return c >= 'a' && c <= 'z';
}

constexpr bool isAsciiAlpha(char c) {
    return isAsciiUpper(c) || isAsciiLower(c);
}

constexpr bool isAsciiAlnum(char c) {
    return isAsciiAlpha(c) || isAsciiDigit(c);
}

// The value of a hexadecimal digit (either case), -1 for any other byte.
constexpr int asciiHexValue(char c) {
    if (isAsciiDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

constexpr bool isAsciiHexDigit(char c) {
    return asciiHexValue(c) >= 0;
}

constexpr char asciiLower(char c) {
    return isAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char asciiUpper(char c) {
    return isAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string asciiLowerCased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = asciiLower(c);
    return result;
}

inline std::string asciiUpperCased(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        c = asciiUpper(c);
    return result;
}

constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i]))
            return false;
    }
    return true;
}

// Whether `text` reads `lowerNeedle` (written in lower case) at `at`, in any ASCII letter case; the caller
// makes sure the needle fits.
constexpr bool matchesIgnoringAsciiCase(std::string_view text, std::size_t at, std::string_view lowerNeedle) {
    for (std::size_t i = 0; i < lowerNeedle.size(); ++i) {
        if (asciiLower(text[at + i]) != lowerNeedle[i])
            return false;
    }
    return true;
}

// The first position at or after `from` where `text` reads `lowerNeedle` (written in lower case) in any
// ASCII letter case, or npos. Nothing is copied.
constexpr std::size_t findIgnoringAsciiCase(std::string_view text, std::string_view lowerNeedle, std::size_t from = 0) {
    if (lowerNeedle.empty())
        return from <= text.size() ? from : std::string_view::npos;
    if (text.size() < lowerNeedle.size())
        return std::string_view::npos;
    const std::size_t last = text.size() - lowerNeedle.size();
    // A needle that opens with a byte without case (the "#" of a key) jumps from one candidate to the next.
    const bool caseless = !(lowerNeedle[0] >= 'a' && lowerNeedle[0] <= 'z');
    for (std::size_t at = from; at <= last; ++at) {
        if (caseless) {
            at = text.find(lowerNeedle[0], at);
            if (at == std::string_view::npos || at > last)
                return std::string_view::npos;
        }
        if (matchesIgnoringAsciiCase(text, at, lowerNeedle))
            return at;
    }
    return std::string_view::npos;
}

// The last position where `text` reads `lowerNeedle` in any ASCII letter case, or npos.
constexpr std::size_t rfindIgnoringAsciiCase(std::string_view text, std::string_view lowerNeedle) {
    if (text.size() < lowerNeedle.size())
        return std::string_view::npos;
    for (std::size_t at = text.size() - lowerNeedle.size() + 1; at-- > 0;) {
        if (matchesIgnoringAsciiCase(text, at, lowerNeedle))
            return at;
    }
    return std::string_view::npos;
}

static_assert(asciiLower('Q') == 'q' && asciiLower('q') == 'q' && asciiLower('\xC9') == '\xC9');
static_assert(findIgnoringAsciiCase("x#URL=1", "#url=") == 1 && rfindIgnoringAsciiCase("#a#A", "#a") == 2);

} // namespace qarvia::text
