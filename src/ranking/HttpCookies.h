#pragma once

// The HTTP client's cookie store: keeps what answers set ("Set-cookie", "Set-cookie2") in memory and gives
// the "Cookie" header for later requests.

#include "ranking/HttpDate.h"
#include "ranking/HttpHeaderList.h"
#include "ranking/HttpUri.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qarvia::http {

// A "Set-cookie" cookie in its original form: name, value, path, domain, expiry, secure.
class THttpNetscapeCookie {
public:
    virtual ~THttpNetscapeCookie() = default;

    std::string CookieName;
    std::string Value;
    std::string Path;
    std::string Domain;
    std::string Expires; // internet date form; empty: no expiry
    bool Secure = false;
    std::string CookieText; // the last value parsed into this cookie

    // Reads a "Set-cookie" value. `requestPath` gives the path when the value has none (up to but not
    // including its right-most "/"); `now` anchors a max-age. Parsing the same text again does nothing.
    void parse(std::string_view text, std::string_view requestPath, THttpDateTime now);

    virtual std::unique_ptr<THttpNetscapeCookie> clone() const { return std::make_unique<THttpNetscapeCookie>(*this); }

protected:
    struct Attribute {
        std::string name; // upper case
        std::string value;
        bool hasValue = false;
    };
    // Reads the attributes this kind knows; each kind adds its own.
    virtual void readAttributes(const std::vector<Attribute>& attributes, THttpDateTime now);
    static const Attribute* find(const std::vector<Attribute>& attributes, std::string_view upperName);
};

// RFC 2109: adds max-age (which sets the expiry when none is given), version and comment.
class THttpCookieRFC2109 : public THttpNetscapeCookie {
public:
    std::int64_t MaxAge = -1;
    std::string Version;
    std::string Comment;

    std::unique_ptr<THttpNetscapeCookie> clone() const override { return std::make_unique<THttpCookieRFC2109>(*this); }

protected:
    void readAttributes(const std::vector<Attribute>& attributes, THttpDateTime now) override;
};

// RFC 2965 ("Set-cookie2"): adds the comment URL, the discard flag and the port list.
class THttpCookieRFC2965 : public THttpCookieRFC2109 {
public:
    std::string CommentURL;
    bool Discard = false;
    std::vector<int> PortList{80};

    std::unique_ptr<THttpNetscapeCookie> clone() const override { return std::make_unique<THttpCookieRFC2965>(*this); }

protected:
    void readAttributes(const std::vector<Attribute>& attributes, THttpDateTime now) override;
};

// The cookies of one store: domain entries in the order they were first seen (domains compared without
// regard to case), each with its cookies in the order they were added. One multi-reader, single-writer
// lock guards it; what a hook reads here takes that lock.
class THttpCookies {
public:
    // Copies of the cookies, domain by domain in store order, each domain's in the order added.
    std::vector<std::unique_ptr<THttpNetscapeCookie>> cookies() const;
    std::size_t count() const;

private:
    friend class THttpCookieManager;
    struct DomainEntry {
        std::string domain;
        std::vector<std::unique_ptr<THttpNetscapeCookie>> cookies;
    };

    mutable std::shared_mutex lock;
    std::vector<DomainEntry> domains;
};

class THttpCookieManager {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using CollectionHook = std::function<void(THttpCookies&)>;

    THttpCookieManager();
    // Tells OnDestroy the collection, cookies still in it, before they go.
    ~THttpCookieManager();
    THttpCookieManager(const THttpCookieManager&) = delete;
    THttpCookieManager& operator=(const THttpCookieManager&) = delete;

    // Told the collection once, when the store first needs it (its first cookie, or the first Cookie header
    // asked of it), before any cookie is in it. Set the hooks before the store is used; they must not call
    // back into the manager.
    CollectionHook OnCreate;
    // Told the collection once, as the manager is destroyed, when the collection was made.
    CollectionHook OnDestroy;
    // May refuse a new cookie by returning false; unset: every cookie that passes the checks is kept.
    std::function<bool(const THttpNetscapeCookie&)> OnNewCookie;

    // Takes every "Set-cookie" line (name in any case) of an answer as an RFC 2109 cookie, then every
    // "Set-cookie2" line as an RFC 2965 cookie. `host` and `path` are those of the request that got the answer.
    void StoreCookies(const THttpHeaderList& headers, const std::string& host, const std::string& path);

    // Adds one parsed cookie set by `host`, after the domain checks; false when it was dropped.
    bool AddCookie(std::unique_ptr<THttpNetscapeCookie> cookie, const std::string& host);

    // The "Cookie" header value for a request, empty for none. Expired cookies are dropped first.
    std::string CookieHeaderFor(const THttpURI& uri, bool encrypted);

    // Copies of the stored cookies, domain by domain in store order, each domain's in the order added.
    std::vector<std::unique_ptr<THttpNetscapeCookie>> cookies() const;
    std::size_t count() const;

    // The time source for expiry; the system clock unless a test sets another (before the store is used).
    void setClock(Clock clock);

private:
    // The collection, created (and OnCreate told) on first use.
    THttpCookies& collection();
    THttpDateTime now() const;
    void dropExpired(THttpCookies& store);

    std::once_flag created;
    std::unique_ptr<THttpCookies> owned;
    std::atomic<THttpCookies*> store{nullptr}; // set once OnCreate has returned
    Clock clock;
};

} // namespace qarvia::http
