#include "ranking/HttpText.h"

#include "text/Ascii.h"

namespace qarvia::http {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::string lowerCased(std::string_view text) {
    return text::asciiLowerCased(text);
}

std::string upperCased(std::string_view text) {
    return text::asciiUpperCased(text);
}

bool sameTextIgnoringCase(std::string_view a, std::string_view b) {
    return text::equalsIgnoringAsciiCase(a, b);
}

std::optional<std::int64_t> readDecimal(std::string_view text, std::int64_t min, std::int64_t max) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    std::int64_t value = 0;
    for (char c : text) {
        if (!text::isAsciiDigit(c))
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    value = negative ? -value : value;
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

bool isIPv4Address(std::string_view host) {
    int parts = 0;
    std::size_t i = 0;
    while (true) {
        std::size_t start = i;
        int value = 0;
        while (i < host.size() && text::isAsciiDigit(host[i]) && i - start < 3)
            value = value * 10 + (host[i++] - '0');
        if (i == start || value > 255)
            return false;
        if (++parts == 4)
            return i == host.size();
        if (i >= host.size() || host[i] != '.')
            return false;
        ++i;
    }
}

} // namespace qarvia::http
