// The demo ranking service: its data, its answers and one conversation over loopback.

#include "RankDemo.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>

namespace {

using namespace qarvia::rankdemo;

// One HTTP exchange on a fresh connection; returns everything the server sent until it closed.
std::string roundTrip(int port, const std::string& request) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        send(fd, request.data(), request.size(), 0) == static_cast<ssize_t>(request.size())) {
        char buf[4096];
        ssize_t n;
        while ((n = recv(fd, buf, sizeof buf, 0)) > 0)
            reply.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    return reply;
}

std::string post(int port, const std::string& body, const std::string& extraHeaders = {}) {
    return roundTrip(port, "POST /bang/search4role HTTP/1.0\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                           "Content-Length: " +
                               std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body);
}

std::string bodyOf(const std::string& reply) {
    std::size_t at = reply.find("\r\n\r\n");
    return at == std::string::npos ? std::string{} : reply.substr(at + 4);
}

TEST(RankDemoData, RolesAreDistinctRankedAndRepeatable) {
    std::vector<DemoRole> roles = generateRoles(360);
    ASSERT_EQ(roles.size(), 360u);
    std::set<std::string> names;
    std::set<std::int64_t> ids;
    for (std::size_t i = 0; i < roles.size(); ++i) {
        const DemoRole& r = roles[i];
        EXPECT_TRUE(names.insert(r.name).second) << r.name;
        EXPECT_TRUE(ids.insert(r.id).second) << r.id;
        EXPECT_EQ(r.totalXiuwei, r.xiuwei + r.equXiuwei);
        if (i > 0) {
            EXPECT_GE(roles[i - 1].totalXiuwei, r.totalXiuwei);
        }
    }
    EXPECT_TRUE(names.count("张三"));
    std::vector<DemoRole> again = generateRoles(360);
    for (std::size_t i = 0; i < roles.size(); ++i) {
        EXPECT_EQ(again[i].name, roles[i].name);
    }
    // More roles than distinct generated names still ends, with unique names.
    EXPECT_EQ(generateRoles(20000).size(), 20000u);
}

TEST(RankDemoData, SearchMatchesByContainmentAndPages) {
    std::vector<DemoRole> roles = generateRoles(360);
    int withSan = 0;
    for (const DemoRole& r : roles)
        withSan += r.name.find("三") != std::string::npos;
    ASSERT_GT(withSan, 10);

    struct Case {
        std::string name;
        int page, count, pageSize;
        int expectTotal;
        std::size_t expectRoles;
    } cases[] = {
        {"三", 1, 10, 0, withSan, 10},
        {"三", 2, 10, 0, withSan, std::size_t(std::min(10, withSan - 10))},
        {"三", 0, 10, 0, withSan, 10},                     // page below 1 reads as 1
        {"三", 1000, 10, 0, withSan, 0},                   // past the end: no roles, total kept
        {"三", 1, 5000, 0, withSan, std::size_t(withSan)}, // count clamped to maxCount
        {"", 1, 1000, 0, 360, std::size_t(maxCount)},      // empty text matches everyone
        {"", 1, 10, 1000, 360, 360},                       // page size overrides count
        {"没有此人", 1, 10, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SearchResult r = search(roles, {c.name, c.page, c.count}, c.pageSize);
        EXPECT_EQ(r.total, c.expectTotal) << c.name << " page " << c.page;
        EXPECT_EQ(r.roles.size(), c.expectRoles) << c.name << " page " << c.page;
        for (const DemoRole* role : r.roles) {
            EXPECT_NE(role->name.find(c.name), std::string::npos);
        }
    }
    // Pages do not overlap.
    SearchResult p1 = search(roles, {"三", 1, 10});
    SearchResult p2 = search(roles, {"三", 2, 10});
    for (const DemoRole* a : p1.roles) {
        for (const DemoRole* b : p2.roles) {
            EXPECT_NE(a, b);
        }
    }
}

TEST(RankDemoAnswer, CountKindAndCharsets) {
    DemoRole role;
    role.id = 42;
    role.name = "张\"三\\\n";
    role.sector = "电信一区";
    std::vector<DemoRole> roles{role};

    SearchResult odd{1, {&roles[0]}};
    SearchResult even{2, {&roles[0]}};
    EXPECT_NE(searchAnswer(odd, Charset::Utf8).find("\"total_count\":\"1\""), std::string::npos);
    EXPECT_NE(searchAnswer(even, Charset::Utf8).find("\"total_count\":2,"), std::string::npos);

    std::string utf8 = searchAnswer(odd, Charset::Utf8);
    EXPECT_NE(utf8.find("\"name\":\"张\\\"三\\\\\\n\""), std::string::npos) << utf8;

    std::string escaped = searchAnswer(odd, Charset::Escaped);
    for (char ch : escaped)
        ASSERT_LT(static_cast<unsigned char>(ch), 0x80u);
    EXPECT_NE(escaped.find("\"name\":\"\\u5f20\\\"\\u4e09"), std::string::npos) << escaped;

    EXPECT_EQ(searchAnswer(odd, Charset::Gbk), utf8ToGbk(utf8));
    EXPECT_EQ(utf8ToGbk("张三"), "\xd5\xc5\xc8\xfd");
    EXPECT_EQ(utf8ToGbk("a\xf0\x9f\x98\x80z"), "a?z"); // an emoji GBK cannot hold
    EXPECT_EQ(jsonEscape("\xf0\x9f\x98\x80", true), "\\ud83d\\ude00");

    EXPECT_EQ(contentTypeFor(Charset::Utf8, "application/json"), "application/json; charset=utf-8");
    EXPECT_EQ(contentTypeFor(Charset::Gbk, "application/json"), "application/json");
}

TEST(RankDemoServer, AnswersSearchesSetsOneSessionAndServesRolePages) {
    ServerOptions options;
    options.port = 0;
    RankDemoServer server(options);
    ASSERT_TRUE(server.start());

    std::string first = post(server.port(), "name=%E5%BC%A0%E4%B8%89&count=10&");
    EXPECT_EQ(first.rfind("HTTP/1.1 200", 0), 0u) << first;
    EXPECT_NE(first.find("Set-Cookie: QSESSID="), std::string::npos);
    EXPECT_NE(first.find("Content-Type: application/json; charset=utf-8"), std::string::npos);
    std::string expected = searchAnswer(search(server.roles(), {"张三", 1, 10}), Charset::Utf8);
    EXPECT_EQ(bodyOf(first), expected);
    EXPECT_NE(expected.find("张三丰"), std::string::npos);

    std::string second = post(server.port(), "name=+%E5%BC%A0&page=2&count=5&", "Cookie: QSESSID=abc\r\n");
    EXPECT_EQ(second.find("Set-Cookie"), std::string::npos);
    EXPECT_EQ(bodyOf(second), searchAnswer(search(server.roles(), {" 张", 2, 5}), Charset::Utf8));
    EXPECT_EQ(server.sessionsIssued(), 1);

    const DemoRole& role = server.roles().front();
    std::string page = roundTrip(server.port(), "GET /bang/role/" + std::to_string(role.id) + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u);
    EXPECT_NE(page.find("<title>" + role.name + " - Qarvia英雄榜</title>"), std::string::npos);
    EXPECT_NE(page.find("id=\"dList2\""), std::string::npos);
    std::string missing = roundTrip(server.port(), "GET /bang/role/1 HTTP/1.0\r\n\r\n");
    EXPECT_EQ(missing.rfind("HTTP/1.1 404", 0), 0u);

    server.stop();
    EXPECT_EQ(post(server.port(), "name=x&count=10&"), "");
}

} // namespace
