#pragma once

// A stand-in for the game operator's hero ranking service, so the ranking tab can be tried (and tested,
// and measured) without the real one. It answers the two URLs the tab uses:
//   POST /bang/search4role   form fields name, page, count -> {"result":{"total_count":..,"roles":[..]}}
//   GET  /bang/role/<id>     a small HTML page whose title names the role
// The roles are generated from a fixed seed, so every run serves the same data.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qarvia::rankdemo {

struct DemoRole {
    std::int64_t id = 0;
    std::string name; // UTF-8
    std::string sector;
    std::string server;
    int level = 0;
    std::string school;
    std::string clan;
    std::int64_t xiuwei = 0;
    std::int64_t equXiuwei = 0;
    std::int64_t totalXiuwei = 0;
};

// `count` roles with distinct Chinese names, ordered by total cultivation, highest first (it is a ranking).
std::vector<DemoRole> generateRoles(int count, std::uint32_t seed = 20121106);

struct SearchQuery {
    std::string name; // UTF-8; a role matches when its name contains this text (empty matches every role)
    int page = 1;     // 1-based; values below 1 read as 1
    int count = 10;   // roles per page, clamped to 1..maxCount
};

struct SearchResult {
    int total = 0;                      // number of matching roles
    std::vector<const DemoRole*> roles; // the requested page of them
};

inline constexpr int maxCount = 100;

// `pageSize` > 0 replaces the query's count (the benchmark asks for 1,000 roles in one answer).
SearchResult search(const std::vector<DemoRole>& roles, const SearchQuery& query, int pageSize = 0);

// How non-ASCII text is written in the answers.
enum class Charset {
    Utf8,   // raw UTF-8, Content-Type names charset=utf-8
    Gbk,    // raw GBK (code page 936), no charset in the Content-Type
    Escaped // pure ASCII with \uXXXX escapes, no charset in the Content-Type
};

bool parseCharset(const std::string& text, Charset& out);

// The JSON answer body, already in the chosen charset. total_count is written as a string when the total
// is odd and as a number when it is even: the real service is known to send both.
std::string searchAnswer(const SearchResult& result, Charset charset);
std::string contentTypeFor(Charset charset, const char* mediaType);

// The detail page of one role (UTF-8 HTML); the text of a "not found" page when `role` is null.
std::string rolePage(const DemoRole* role);

// Text conversions used above, exposed for tests.
std::string utf8ToGbk(const std::string& utf8); // characters GBK lacks become '?'
std::string jsonEscape(const std::string& utf8, bool asciiOnly);
std::string htmlEscape(const std::string& utf8);

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8765; // 0 picks a free port
    int roleCount = 360;
    int pageSize = 0;
    Charset charset = Charset::Utf8;
};

// The HTTP server on a thread of its own. start() binds and begins serving; stop() (also run by the
// destructor) ends it and joins the thread.
class RankDemoServer {
public:
    explicit RankDemoServer(ServerOptions options);
    RankDemoServer(ServerOptions options, std::vector<DemoRole> roles);
    ~RankDemoServer();
    RankDemoServer(const RankDemoServer&) = delete;
    RankDemoServer& operator=(const RankDemoServer&) = delete;

    bool start(); // false when the address cannot be bound
    void stop();
    int port() const;            // the bound port once started
    std::string baseUrl() const; // "http://host:port"
    const std::vector<DemoRole>& roles() const;
    int sessionsIssued() const; // how many session cookies were handed out

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace qarvia::rankdemo
