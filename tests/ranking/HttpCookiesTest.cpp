// The cookie store: what it keeps from "Set-cookie" and "Set-cookie2" lines and what it sends back.

#include "ranking/HttpClient.h"
#include "ranking/HttpCookies.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace qarvia::http;
using namespace std::chrono;

namespace {

const THttpDateTime testNow = sys_days(2024y / March / 1) + 12h;

struct Store {
    THttpCookieManager manager;
    system_clock::time_point clock = testNow;

    Store() {
        manager.setClock([this] { return clock; });
    }
    // Stores the given Set-cookie (or, with `name`, other) lines as answered to http://host + path.
    void answer(const std::string& host, const std::string& path, std::vector<std::string> values,
                const char* name = "Set-cookie") {
        THttpHeaderList headers;
        for (const std::string& value : values)
            headers.addLine(std::string(name) + ": " + value);
        manager.StoreCookies(headers, host, path);
    }
    std::string header(const std::string& url, bool encrypted = false) {
        return manager.CookieHeaderFor(THttpURI::parse(url), encrypted);
    }
};

} // namespace

TEST(HttpCookies, DomainChecks) {
    struct Case {
        const char* host;
        const char* cookie;
        bool kept;
    } cases[] = {
        {"svc.example.org", "a=1; domain=.example.org", true},
        {"svc.example.org", "a=1; domain=example.org", false},
        {"svc.example.org", "a=1; domain=.EXAMPLE.ORG", false},
        {"svc.example.org", "a=1; domain=svc.example.org", true},
        {"svc.example.org", "a=1; domain=other.example.org", false},
        {"svc.example.org", "a=1", true},
        {"example.org", "a=1; domain=.org", false}, // would reach every host under .org
        {"10.0.0.7", "a=1", true},
        {"10.0.0.7", "a=1; domain=10.0.0.8", false},
        {"10.0.0.7", "a=1; domain=.0.0.7", false},
        {"localhost", "a=1", true},
    };
    for (const Case& c : cases) {
        Store store;
        store.answer(c.host, "/", {c.cookie});
        EXPECT_EQ(store.manager.count(), c.kept ? 1u : 0u) << c.host << " / " << c.cookie;
    }
}

TEST(HttpCookies, SendsMatchingCookiesBackInPathOrder) {
    Store store;
    store.answer("rank.example.net", "/bang/search4role",
                 {"lang=zh; path=/", "sid=abc", "empty=; path=/", "deep=1; path=\"/bang/role/\"",
                  "safe=1; path=/; secure", "wide=1; domain=.example.net; path=/"});
    EXPECT_EQ(store.manager.count(), 6u);
    // Path-less "sid" took "/bang" from the request; paths longest first, equal paths in gathering order
    // (domain entries in store order, each newest first).
    EXPECT_EQ(store.header("http://rank.example.net/bang/search4role"), "sid=abc; lang=zh; wide=1");
    EXPECT_EQ(store.header("http://rank.example.net/bang/role/7"), "deep=1; sid=abc; lang=zh; wide=1");
    EXPECT_EQ(store.header("http://rank.example.net/"), "lang=zh; wide=1");
    EXPECT_EQ(store.header("http://rank.example.net/", true), "safe=1; lang=zh; wide=1");
    EXPECT_EQ(store.header("http://other.example.net/"), "wide=1");
    EXPECT_EQ(store.header("http://RANK.EXAMPLE.NET/"), "lang=zh; wide=1");
    // Neither a host that merely contains the domain nor one that contains the host gets them.
    EXPECT_EQ(store.header("http://rank.example.net.attacker.test/"), "");
    EXPECT_EQ(store.header("http://xrank.example.net/"), "wide=1");
}

TEST(HttpCookies, SameNameReplacesAlsoWithOtherPath) {
    Store store;
    store.answer("h.example.com", "/", {"a=1; path=/x/", "b=2", "A=3; path=/"});
    auto cookies = store.manager.cookies();
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0]->CookieName, "A");
    EXPECT_EQ(cookies[0]->Value, "3");
    EXPECT_EQ(cookies[0]->Path, "/");
    // "b" took the empty path of a request to "/": the longer path "/" goes first.
    EXPECT_EQ(store.header("http://h.example.com/"), "A=3; b=2");
}

TEST(HttpCookies, ExpiryMaxAgeAndUnreadableDates) {
    Store store;
    store.answer("h.example.com", "/",
                 {"past=1; expires=Wed, 09 Jun 2021 10:18:14 GMT", "future=1; expires=Fri, 01 Mar 2024 13:00:00 GMT",
                  "junk=1; expires=sometime", "aged=1; max-age=60", "gone=1; max-age=0", "bad=1; max-age=soon",
                  "session=1"});
    EXPECT_EQ(store.manager.count(), 7u);
    EXPECT_EQ(store.header("http://h.example.com/"), "session=1; bad=1; aged=1; future=1");

    auto cookies = store.manager.cookies();
    const auto& aged = dynamic_cast<const THttpCookieRFC2109&>(*cookies[1]);
    EXPECT_EQ(aged.MaxAge, 60);
    EXPECT_EQ(aged.Expires, "Fri, 01 Mar 2024 12:01:00 GMT");
    EXPECT_EQ(dynamic_cast<const THttpCookieRFC2109&>(*cookies[2]).MaxAge, -1);

    store.clock += 61s;
    EXPECT_EQ(store.header("http://h.example.com/"), "session=1; bad=1; future=1");
    store.clock += 1h;
    EXPECT_EQ(store.header("http://h.example.com/"), "session=1; bad=1");
    EXPECT_EQ(store.manager.count(), 2u);
}

TEST(HttpCookies, RfcAttributesAndSetCookie2) {
    Store store;
    store.answer(
        "h.example.com", "/a/b",
        {"x=1; Version=1; Comment=hello; CommentURL=http://c/; Discard; Port=\"80,8080,bad\"", "y=2; port=", "x2"},
        "Set-Cookie2");
    auto cookies = store.manager.cookies();
    ASSERT_EQ(cookies.size(), 3u);
    const auto& x = dynamic_cast<const THttpCookieRFC2965&>(*cookies[0]);
    EXPECT_EQ(x.Version, "1");
    EXPECT_EQ(x.Comment, "hello");
    EXPECT_EQ(x.CommentURL, "http://c/");
    EXPECT_TRUE(x.Discard);
    EXPECT_EQ(x.PortList, (std::vector<int>{80, 8080}));
    EXPECT_EQ(x.Path, "/a");
    EXPECT_EQ(dynamic_cast<const THttpCookieRFC2965&>(*cookies[1]).PortList, std::vector<int>{80});
    // A cookie without "=" has its whole text as name and no value: kept, never sent.
    EXPECT_EQ(cookies[2]->CookieName, "x2");
    EXPECT_EQ(store.header("http://h.example.com/a/"), "y=2; x=1");
}

TEST(HttpCookies, HookRefusesAndLockHoldsUnderConcurrentUse) {
    Store store;
    store.manager.OnNewCookie = [](const THttpNetscapeCookie& cookie) { return cookie.CookieName != "tracker"; };
    store.answer("h.example.com", "/", {"tracker=1", "kept=1"});
    EXPECT_EQ(store.header("http://h.example.com/"), "kept=1");

    // Writers replace and add while readers gather: no torn state, and the count ends as expected.
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                if (t % 2 == 0) {
                    store.answer("h.example.com", "/", {"w" + std::to_string(t) + "_" + std::to_string(i % 20) + "=v"});
                } else if (store.header("http://h.example.com/").find("kept=1") == std::string::npos) {
                    bad = true;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(bad);
    EXPECT_EQ(store.manager.count(), 41u);
}

// Mended: the store had no OnCreate and OnDestroy hooks.
TEST(HttpCookies, CreateAndDestroyHooksAreToldTheCollectionOnce) {
    std::vector<std::string> events;
    auto hook = [&](const char* what) {
        return [&events, what](THttpCookies& cookies) { events.push_back(what + std::to_string(cookies.count())); };
    };
    {
        Store store;
        store.manager.OnCreate = hook("create ");
        store.manager.OnDestroy = hook("destroy ");
        store.answer("h.example.com", "/", {"a=1", "b=2"});
        store.answer("h.example.com", "/", {"c=3"});
        EXPECT_EQ(store.header("http://h.example.com/"), "c=3; b=2; a=1");
        EXPECT_EQ(events, (std::vector<std::string>{"create 0"}));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"create 0", "destroy 3"}));

    // A store never used has no collection to tell about.
    events.clear();
    {
        THttpCookieManager unused;
        unused.OnCreate = hook("create ");
        unused.OnDestroy = hook("destroy ");
    }
    EXPECT_TRUE(events.empty());

    // A client given a store with hooks asks it for the first request's Cookie header.
    {
        THttpClient client;
        auto manager = std::make_unique<THttpCookieManager>();
        manager->OnCreate = hook("create ");
        manager->OnDestroy = hook("destroy ");
        client.setCookieManager(std::move(manager));
        client.setConnector([](const std::string&, int, int) {
            return std::make_unique<THttpMemoryStream>(
                "HTTP/1.0 200 OK\r\nSet-Cookie: s=1\r\nContent-Length: 0\r\n\r\n");
        });
        std::vector<std::string> fields{"name=x"};
        std::string answer;
        client.PostForm("http://h.example.com/", fields, answer);
        EXPECT_EQ(events, (std::vector<std::string>{"create 0"}));
    }
    EXPECT_EQ(events, (std::vector<std::string>{"create 0", "destroy 1"}));
}
