#pragma once

// Small text rules shared by the HTTP client and the cookie store: byte strings, ASCII case only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarvia::http {

// Without blanks and control characters at both ends.
std::string_view trimmed(std::string_view text);

// ASCII case only (text/Ascii.h): the desktop's locale never changes a byte on the wire.
std::string lowerCased(std::string_view text);
std::string upperCased(std::string_view text);
bool sameTextIgnoringCase(std::string_view a, std::string_view b);

// A decimal number with an optional sign and blanks around it, within min..max; nothing otherwise.
std::optional<std::int64_t> readDecimal(std::string_view text, std::int64_t min, std::int64_t max);

// True when `host` is four decimal parts, each 0 to 255 ("127.0.0.1").
bool isIPv4Address(std::string_view host);

} // namespace qarvia::http
