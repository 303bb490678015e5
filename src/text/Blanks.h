#pragma once

// Blanks as the number and date readers understand them: space and tab only. Header-only, so plain
// libraries can use it without linking the conversions.

#include <string_view>

namespace qarvia::text {

constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// `s` without its leading and trailing blanks.
constexpr std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace qarvia::text
