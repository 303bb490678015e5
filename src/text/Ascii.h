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

} // namespace qarvia::text
