#pragma once

// Splitting a transfer URL into the parts the transfer needs, with the limits of the transfer layer.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qarvia::update {

struct TsuURLParts {
    std::string scheme; // lower case: "http", "https", "file", ...
    std::string host;   // without brackets for an IPv6 literal
    std::uint16_t port = 0;
    std::string userName; // decoded
    std::string password; // decoded
    std::string path;     // as written (escapes kept); for "file" the decoded local path
    std::string extra;    // query as sent on the wire: "?" + re-encoded text, or ""
};

// Splits `url`; a URL without "://" is read as "http://" + url. Empty user name or password are replaced
// by `defaultUser` / `defaultPassword`. Nothing (std::nullopt) for a URL the transfer cannot use: a part
// longer than its limit (scheme 32, host 256, user name and password 128, path and query 2048 bytes), an
// empty host for http/https, a bad port, or control bytes in the host.
std::optional<TsuURLParts> SplitTransferURL(std::string_view url, std::string_view defaultUser = {},
                                            std::string_view defaultPassword = {});

// Makes the query part safe to send: every byte below 0x20, from 0x80 up, or one of ' ', '#', '*', '+',
// '<', '>' becomes "%" and two upper-case hexadecimal digits, and so does a "%" that does not start an
// escape sequence; escapes already present are kept as written. The input includes the leading "?".
std::string EncodeExtraInfo(std::string_view extra);

// The URL handed to the HTTP library: scheme://host:port + path + extra (no credentials).
std::string TransferRequestURL(const TsuURLParts& parts);

// Decodes "%XX" escapes; a "%" without two hexadecimal digits stays as it is.
std::string DecodeURLEscapes(std::string_view text);

} // namespace qarvia::update
