#include "ranking/HttpUri.h"

#include "text/Ascii.h"

#include <algorithm>
#include <vector>

namespace qarvia::http {

namespace {

// Back-slashes become "/", leaving the trail byte of a GBK double-byte character (which may be 0x5C) alone.
std::string normaliseSlashes(std::string_view url) {
    std::string result(url);
    for (std::size_t i = 0; i < result.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(result[i]);
        if (c >= 0x81 && c <= 0xFE && i + 1 < result.size())
            ++i;
        else if (c == '\\')
            result[i] = '/';
    }
    return result;
}

} // namespace

THttpURI THttpURI::parse(std::string_view input) {
    THttpURI uri;
    std::string url = normaliseSlashes(input);

    if (std::size_t hash = url.find('#'); hash != std::string::npos) {
        uri.Bookmark = url.substr(hash + 1);
        url.erase(hash);
    }
    if (std::size_t query = url.find('?'); query != std::string::npos) {
        uri.Params = url.substr(query);
        url.erase(query);
    }

    std::string_view rest = url;
    if (std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
        uri.Protocol = text::asciiLowerCased(rest.substr(0, scheme));
        rest.remove_prefix(scheme + 3);

        std::size_t slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view("/") : rest.substr(slash);

        if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
            std::string_view credentials = authority.substr(0, at);
            authority.remove_prefix(at + 1);
            std::size_t colon = credentials.find(':');
            uri.Username = std::string(credentials.substr(0, colon));
            if (colon != std::string_view::npos)
                uri.Password = std::string(credentials.substr(colon + 1));
        }
        if (std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
            uri.Port = std::string(authority.substr(colon + 1));
            authority = authority.substr(0, colon);
        }
        uri.Host = std::string(authority);
    }

    std::size_t lastSlash = rest.rfind('/');
    if (lastSlash == std::string_view::npos) {
        uri.Document = std::string(rest);
    } else {
        uri.Path = std::string(rest.substr(0, lastSlash + 1));
        uri.Document = std::string(rest.substr(lastSlash + 1));
    }
    return uri;
}

std::string THttpURI::resolvePath(std::string_view basePath, std::string_view newPath) {
    std::string joined;
    if (newPath.empty() || newPath.front() != '/') {
        joined.append(basePath);
        if (joined.empty() || joined.back() != '/')
            joined.push_back('/');
    }
    joined.append(newPath);

    // Resolve "." and ".." segments; the result keeps its trailing "/".
    std::vector<std::string_view> segments;
    std::string_view rest(joined);
    rest.remove_prefix(1);
    while (!rest.empty()) {
        std::size_t slash = rest.find('/');
        std::string_view segment = rest.substr(0, slash);
        bool directory = slash != std::string_view::npos;
        rest = directory ? rest.substr(slash + 1) : std::string_view();
        if (segment == ".")
            continue;
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
            continue;
        }
        segments.push_back(segment);
    }
    std::string result = "/";
    for (std::string_view segment : segments) {
        result += segment;
        result += '/';
    }
    return result;
}

} // namespace qarvia::http
