#pragma once

// ASCII letter case for wire text (keys of the update information file, header names): A-Z and a-z only,
// whatever locale the desktop set. Header-only, so plain libraries can use it without linking anything.

#include <cstddef>
#include <string_view>

namespace qarvia::text {

constexpr char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
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
