#pragma once

// The parts of a URL as the HTTP client uses them.

#include <string>
#include <string_view>

namespace qarvia::http {

struct THttpURI {
    std::string Protocol; // "http", without "://"; empty for a relative URL
    std::string Username;
    std::string Password;
    std::string Host;
    std::string Port;     // as written; empty when the URL gives none
    std::string Path;     // directory part, starting and ending with "/" (empty for a bare document)
    std::string Document; // text after the last "/" of the path, before "?"
    std::string Params;   // from "?" on, the "?" included
    std::string Bookmark; // after "#", the "#" excluded

    // Splits `url`. Back-slashes count as "/", except the second byte of a GBK double-byte character.
    static THttpURI parse(std::string_view url);

    // `newPath` resolved against `basePath`: an absolute path replaces the base, a relative one is appended
    // to it; "." and ".." segments are then resolved (never above the root).
    static std::string resolvePath(std::string_view basePath, std::string_view newPath);

    // The request target: path + document + parameters (the bookmark is never sent).
    std::string target() const { return Path + Document + Params; }
};

} // namespace qarvia::http
