#include "ranking/HttpCookies.h"

#include "ranking/HttpText.h"
#include "text/Ascii.h"

#include <algorithm>
#include <mutex>

namespace qarvia::http {

namespace {

// Host-name characters: letters, digits, "-", "_" and ".".
bool isHostName(std::string_view host) {
    if (host.empty())
        return false;
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return text::isAsciiAlnum(c) || c == '-' || c == '_' || c == '.'; });
}

// The host from its first "." on: ".example.org" for "svc.example.org"; empty without a ".".
std::string_view domainPartOf(std::string_view host) {
    std::size_t dot = host.find('.');
    return dot == std::string_view::npos ? std::string_view() : host.substr(dot);
}

// Whether a cookie for `domain` may be set by `host`.
bool domainAllowed(const std::string& domain, const std::string& host) {
    if (isIPv4Address(host))
        return domain == host;
    if (isHostName(host)) {
        if (!domain.empty() && domain.front() != '.' && !isIPv4Address(domain))
            return domain == host;
        // A domain needs a dot of its own after the leading one: ".org" would reach every host under ".org".
        if (domain.find('.', 1) == std::string::npos)
            return false;
        return domain == domainPartOf(host);
    }
    return sameTextIgnoringCase(domain, domainPartOf(host));
}

// Whether a cookie stored for `domain` goes to `host`: the host itself or a host under it. (A bare
// substring test would also hand "example.org" cookies to "example.org.attacker.net".)
bool domainMatches(std::string_view domain, std::string_view host) {
    std::string d = upperCased(domain);
    std::string h = upperCased(host);
    if (d.empty())
        return false;
    if (d == h)
        return true;
    if (d.front() != '.')
        d.insert(d.begin(), '.');
    return h.size() > d.size() && h.compare(h.size() - d.size(), d.size(), d) == 0;
}

bool isExpired(const THttpNetscapeCookie& cookie, THttpDateTime now) {
    if (cookie.Expires.empty())
        return false;
    std::optional<THttpDateTime> expiry = parseHttpDate(cookie.Expires);
    // An unreadable expiry counts as long past.
    return !expiry || *expiry <= now;
}

} // namespace

const THttpNetscapeCookie::Attribute* THttpNetscapeCookie::find(const std::vector<Attribute>& attributes,
                                                                std::string_view upperName) {
    for (const Attribute& attribute : attributes) {
        if (attribute.name == upperName)
            return &attribute;
    }
    return nullptr;
}

void THttpNetscapeCookie::parse(std::string_view text, std::string_view requestPath, THttpDateTime now) {
    if (!CookieText.empty() && text == CookieText)
        return;
    CookieText = std::string(text);

    std::vector<std::string_view> parts;
    std::string_view rest = text;
    for (;;) {
        std::size_t semicolon = rest.find(';');
        if (semicolon == std::string_view::npos) {
            std::string_view last = trimmed(rest);
            if (!last.empty() || parts.empty())
                parts.push_back(last);
            break;
        }
        parts.push_back(trimmed(rest.substr(0, semicolon)));
        rest.remove_prefix(semicolon + 1);
    }

    std::string_view first = parts.front();
    std::size_t equals = first.find('=');
    CookieName = std::string(trimmed(first.substr(0, equals)));
    Value = equals == std::string_view::npos ? std::string() : std::string(trimmed(first.substr(equals + 1)));

    std::vector<Attribute> attributes;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        std::size_t at = parts[i].find('=');
        Attribute attribute;
        attribute.name = upperCased(trimmed(parts[i].substr(0, at)));
        if (at != std::string_view::npos) {
            attribute.value = std::string(trimmed(parts[i].substr(at + 1)));
            attribute.hasValue = true;
        }
        attributes.push_back(std::move(attribute));
    }

    Path.clear();
    Domain.clear();
    Expires.clear();
    Secure = false;
    readAttributes(attributes, now);

    if (!find(attributes, "PATH")) {
        std::size_t slash = requestPath.rfind('/');
        Path = std::string(slash == std::string_view::npos ? std::string_view() : requestPath.substr(0, slash));
    }
}

void THttpNetscapeCookie::readAttributes(const std::vector<Attribute>& attributes, THttpDateTime) {
    if (const Attribute* path = find(attributes, "PATH")) {
        std::string_view value = path->value;
        if (!value.empty() && value.front() == '"')
            value.remove_prefix(1);
        if (!value.empty() && value.back() == '"')
            value.remove_suffix(1);
        Path = std::string(value);
    }
    if (const Attribute* expires = find(attributes, "EXPIRES"))
        Expires = expires->value;
    if (const Attribute* domain = find(attributes, "DOMAIN"))
        Domain = domain->value;
    for (const Attribute& attribute : attributes) {
        if (!attribute.hasValue && attribute.name == "SECURE")
            Secure = true;
    }
}

void THttpCookieRFC2109::readAttributes(const std::vector<Attribute>& attributes, THttpDateTime now) {
    THttpNetscapeCookie::readAttributes(attributes, now);
    const Attribute* maxAge = find(attributes, "MAX-AGE");
    MaxAge = maxAge ? readDecimal(maxAge->value, INT64_MIN, INT64_MAX).value_or(-1) : -1;
    const Attribute* version = find(attributes, "VERSION");
    Version = version ? version->value : std::string();
    const Attribute* comment = find(attributes, "COMMENT");
    Comment = comment ? comment->value : std::string();
    if (Expires.empty() && MaxAge >= 0) {
        // Far-off ages are capped at about a century so the date stays writable.
        constexpr std::int64_t century = 100LL * 366 * 24 * 3600;
        Expires = formatHttpDate(now + std::chrono::seconds(std::min(MaxAge, century)));
    }
}

void THttpCookieRFC2965::readAttributes(const std::vector<Attribute>& attributes, THttpDateTime now) {
    THttpCookieRFC2109::readAttributes(attributes, now);
    const Attribute* commentUrl = find(attributes, "COMMENTURL");
    CommentURL = commentUrl ? commentUrl->value : std::string();
    Discard = false;
    for (const Attribute& attribute : attributes) {
        if (!attribute.hasValue && attribute.name == "DISCARD")
            Discard = true;
    }
    PortList.clear();
    const Attribute* port = find(attributes, "PORT");
    std::string_view ports = port ? std::string_view(port->value) : std::string_view();
    if (ports.size() >= 2 && ports.front() == '"' && ports.back() == '"') {
        ports = ports.substr(1, ports.size() - 2);
        while (!ports.empty()) {
            std::size_t comma = ports.find(',');
            std::int64_t number = readDecimal(ports.substr(0, comma), INT64_MIN, INT64_MAX).value_or(-1);
            if (number > 0 && number <= 65535)
                PortList.push_back(static_cast<int>(number));
            ports = comma == std::string_view::npos ? std::string_view() : ports.substr(comma + 1);
        }
    } else if (!ports.empty()) {
        std::int64_t number = readDecimal(ports, INT64_MIN, INT64_MAX).value_or(-1);
        if (number > 0 && number <= 65535)
            PortList.push_back(static_cast<int>(number));
    }
    if (PortList.empty())
        PortList.push_back(80);
}

std::vector<std::unique_ptr<THttpNetscapeCookie>> THttpCookies::cookies() const {
    std::shared_lock guard(lock);
    std::vector<std::unique_ptr<THttpNetscapeCookie>> copies;
    for (const DomainEntry& entry : domains) {
        for (const auto& cookie : entry.cookies)
            copies.push_back(cookie->clone());
    }
    return copies;
}

std::size_t THttpCookies::count() const {
    std::shared_lock guard(lock);
    std::size_t total = 0;
    for (const DomainEntry& entry : domains)
        total += entry.cookies.size();
    return total;
}

THttpCookieManager::THttpCookieManager() = default;

THttpCookieManager::~THttpCookieManager() {
    THttpCookies* existing = store.load();
    if (existing && OnDestroy) {
        // Nothing may leave a destructor; a failing hook changes nothing about what is released.
        try {
            OnDestroy(*existing);
        } catch (...) {
        }
    }
}

THttpCookies& THttpCookieManager::collection() {
    std::call_once(created, [this] {
        owned = std::make_unique<THttpCookies>();
        if (OnCreate)
            OnCreate(*owned);
        store.store(owned.get());
    });
    return *owned;
}

void THttpCookieManager::setClock(Clock newClock) {
    clock = std::move(newClock);
}

THttpDateTime THttpCookieManager::now() const {
    auto current = clock ? clock() : std::chrono::system_clock::now();
    return std::chrono::floor<std::chrono::seconds>(current);
}

void THttpCookieManager::StoreCookies(const THttpHeaderList& headers, const std::string& host,
                                      const std::string& path) {
    THttpDateTime stamp = now();
    for (const std::string& value : headers.extract("Set-cookie")) {
        auto cookie = std::make_unique<THttpCookieRFC2109>();
        cookie->parse(value, path, stamp);
        AddCookie(std::move(cookie), host);
    }
    for (const std::string& value : headers.extract("Set-cookie2")) {
        auto cookie = std::make_unique<THttpCookieRFC2965>();
        cookie->parse(value, path, stamp);
        AddCookie(std::move(cookie), host);
    }
}

bool THttpCookieManager::AddCookie(std::unique_ptr<THttpNetscapeCookie> cookie, const std::string& host) {
    if (!cookie)
        return false;
    if (cookie->Domain.empty())
        cookie->Domain = host;
    if (!domainAllowed(cookie->Domain, host))
        return false;
    if (OnNewCookie && !OnNewCookie(*cookie))
        return false;

    THttpCookies& cookies = collection();
    std::unique_lock guard(cookies.lock);
    auto& domains = cookies.domains;
    auto entry = std::find_if(domains.begin(), domains.end(), [&](const THttpCookies::DomainEntry& item) {
        return sameTextIgnoringCase(item.domain, cookie->Domain);
    });
    if (entry == domains.end()) {
        domains.push_back(THttpCookies::DomainEntry{cookie->Domain, {}});
        entry = domains.end() - 1;
    }
    auto same = std::find_if(entry->cookies.begin(), entry->cookies.end(), [&](const auto& stored) {
        return sameTextIgnoringCase(stored->CookieName, cookie->CookieName);
    });
    if (same != entry->cookies.end())
        *same = std::move(cookie); // the stored one takes over every property, keeping its place
    else
        entry->cookies.push_back(std::move(cookie));
    return true;
}

void THttpCookieManager::dropExpired(THttpCookies& cookies) {
    THttpDateTime stamp = now();
    std::unique_lock guard(cookies.lock);
    for (THttpCookies::DomainEntry& entry : cookies.domains) {
        std::erase_if(entry.cookies, [&](const auto& cookie) { return isExpired(*cookie, stamp); });
    }
}

std::string THttpCookieManager::CookieHeaderFor(const THttpURI& uri, bool encrypted) {
    THttpCookies& cookies = collection();
    dropExpired(cookies);

    std::vector<const THttpNetscapeCookie*> gathered;
    std::shared_lock guard(cookies.lock);
    for (const THttpCookies::DomainEntry& entry : cookies.domains) {
        if (!domainMatches(entry.domain, uri.Host))
            continue;
        for (auto it = entry.cookies.rbegin(); it != entry.cookies.rend(); ++it) {
            const THttpNetscapeCookie& cookie = **it;
            if (uri.Path.compare(0, cookie.Path.size(), cookie.Path) != 0)
                continue;
            if (cookie.Secure && !encrypted)
                continue;
            if (cookie.Value.empty())
                continue;
            gathered.push_back(&cookie);
        }
    }
    std::stable_sort(gathered.begin(), gathered.end(),
                     [](const auto* a, const auto* b) { return upperCased(a->Path) > upperCased(b->Path); });

    std::string header;
    for (const THttpNetscapeCookie* cookie : gathered) {
        if (!header.empty())
            header += "; ";
        header += cookie->CookieName + "=" + cookie->Value;
    }
    return header;
}

std::vector<std::unique_ptr<THttpNetscapeCookie>> THttpCookieManager::cookies() const {
    THttpCookies* existing = store.load();
    return existing ? existing->cookies() : std::vector<std::unique_ptr<THttpNetscapeCookie>>();
}

std::size_t THttpCookieManager::count() const {
    THttpCookies* existing = store.load();
    return existing ? existing->count() : 0;
}

} // namespace qarvia::http
