#include "update/TransferUrl.h"

#include "text/Ascii.h"

#include <algorithm>

namespace qarvia::update {

namespace {

constexpr std::size_t schemeLimit = 32;
constexpr std::size_t hostLimit = 256;
constexpr std::size_t loginLimit = 128;
constexpr std::size_t pathLimit = 2048;

constexpr char hexDigits[] = "0123456789ABCDEF";

using qarvia::text::asciiHexValue;

bool startsEscape(std::string_view text, std::size_t at) {
    return at + 2 < text.size() && text[at] == '%' && asciiHexValue(text[at + 1]) >= 0 &&
           asciiHexValue(text[at + 2]) >= 0;
}

void appendEscaped(std::string& out, unsigned char byte) {
    out += '%';
    out += hexDigits[byte >> 4];
    out += hexDigits[byte & 0x0F];
}

// Escapes what may not travel raw in a request target; escapes already written stay as they are.
std::string encodeForWire(std::string_view text, std::string_view alsoEscaped) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool escape = byte < 0x20 || byte >= 0x80 || byte == 0x7F || byte == ' ' ||
                            (byte == '%' && !startsEscape(text, i)) ||
                            alsoEscaped.find(char(byte)) != std::string_view::npos;
        if (escape)
            appendEscaped(out, byte);
        else
            out += char(byte);
    }
    return out;
}

bool validScheme(std::string_view scheme) {
    if (scheme.empty())
        return false;
    for (char c : scheme) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

bool validHost(std::string_view host) {
    for (char c : host) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == '@' || c == '?' || c == '#' || c == '%')
            return false;
    }
    return true;
}

} // namespace

std::string DecodeURLEscapes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (startsEscape(text, i)) {
            out += static_cast<char>(asciiHexValue(text[i + 1]) * 16 + asciiHexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string EncodeExtraInfo(std::string_view extra) {
    return encodeForWire(extra, "#*+<>");
}

std::optional<TsuURLParts> SplitTransferURL(std::string_view url, std::string_view defaultUser,
                                            std::string_view defaultPassword) {
    std::string full;
    std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) {
        full = "http://" + std::string(url);
        schemeEnd = 4;
    } else {
        full = std::string(url);
    }
    const std::string_view text = full;

    TsuURLParts parts;
    parts.scheme = qarvia::text::asciiLowerCased(text.substr(0, schemeEnd));
    if (parts.scheme.size() > schemeLimit || !validScheme(parts.scheme))
        return std::nullopt;

    std::string_view rest = text.substr(schemeEnd + 3);
    // The fragment names a place in the document and never travels to the server.
    rest = rest.substr(0, rest.find('#'));
    const std::size_t authorityEnd = rest.find_first_of("/?");
    const std::string_view authority = rest.substr(0, authorityEnd);
    rest = authorityEnd == std::string_view::npos ? std::string_view{} : rest.substr(authorityEnd);
    const std::size_t queryStart = rest.find('?');
    std::string_view path = rest.substr(0, queryStart);
    const std::string_view query = queryStart == std::string_view::npos ? std::string_view{} : rest.substr(queryStart);

    std::string_view hostPort = authority;
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view login = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
        const std::size_t colon = login.find(':');
        parts.userName = DecodeURLEscapes(login.substr(0, colon));
        if (colon != std::string_view::npos)
            parts.password = DecodeURLEscapes(login.substr(colon + 1));
    }
    if (parts.userName.size() > loginLimit || parts.password.size() > loginLimit)
        return std::nullopt;
    if (parts.userName.empty())
        parts.userName = std::string(defaultUser);
    if (parts.password.empty())
        parts.password = std::string(defaultPassword);

    std::string_view portText;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            return std::nullopt;
        parts.host = std::string(hostPort.substr(1, close - 1));
        const std::string_view after = hostPort.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return std::nullopt;
            portText = after.substr(1);
        }
    } else {
        const std::size_t colon = hostPort.rfind(':');
        parts.host = std::string(hostPort.substr(0, colon));
        if (colon != std::string_view::npos)
            portText = hostPort.substr(colon + 1);
    }
    if (parts.host.size() > hostLimit || !validHost(parts.host))
        return std::nullopt;

    if (parts.scheme == "https")
        parts.port = 443;
    else if (parts.scheme == "http")
        parts.port = 80;
    if (!portText.empty()) {
        unsigned long port = 0;
        for (char c : portText) {
            if (c < '0' || c > '9' || port > 65535)
                return std::nullopt;
            port = port * 10 + static_cast<unsigned long>(c - '0');
        }
        if (port == 0 || port > 65535)
            return std::nullopt;
        parts.port = static_cast<std::uint16_t>(port);
    }

    if (path.size() > pathLimit || query.size() > pathLimit)
        return std::nullopt;
    if (parts.scheme == "file") {
        parts.path = DecodeURLEscapes(path);
        return parts;
    }
    if (parts.host.empty())
        return std::nullopt;
    parts.path = path.empty() ? std::string("/") : encodeForWire(path, "\"<>\\^`{|}");
    parts.extra = EncodeExtraInfo(query);
    return parts;
}

std::string TransferRequestURL(const TsuURLParts& parts) {
    const bool bracketed = parts.host.find(':') != std::string::npos;
    std::string url = parts.scheme;
    url.append("://").append(bracketed ? "[" : "").append(parts.host).append(bracketed ? "]" : "");
    url.append(":").append(std::to_string(parts.port));
    url += parts.path;
    url += parts.extra;
    return url;
}

} // namespace qarvia::update
