// THttpClient against a scripted loopback peer: the request bytes it writes and every way an answer can go.

#include "ranking/HttpClient.h"
#include "ranking/HttpText.h"

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace qarvia::http;
using qarvia::test::ScriptedServer;
using Step = ScriptedServer::Step;
using namespace std::chrono_literals;

namespace {

const std::string ChromeAgent =
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) Chrome/22.0.1229.94 Safari/537.4";

std::string classOf(const EHttpException& e) {
    if (dynamic_cast<const EHttpSocketError*>(&e))
        return "EHttpSocketError";
    if (dynamic_cast<const EHttpConnClosedGracefully*>(&e))
        return "EHttpConnClosedGracefully";
    if (dynamic_cast<const EHttpProtocolException*>(&e))
        return "EHttpProtocolException";
    if (dynamic_cast<const EHttpMaxLineLengthExceeded*>(&e))
        return "EHttpMaxLineLengthExceeded";
    if (dynamic_cast<const EHttpReadTimeout*>(&e))
        return "EHttpReadTimeout";
    if (dynamic_cast<const EHttpUnknownProtocol*>(&e))
        return "EHttpUnknownProtocol";
    return "EHttpException";
}

struct Outcome {
    std::string body;
    std::string error; // class and message, empty on success
};

Outcome postTo(THttpClient& client, const std::string& url, std::vector<std::string> fields = {"name=x", "count=10"}) {
    Outcome outcome;
    try {
        client.PostForm(url, fields, outcome.body);
    } catch (const EHttpException& e) {
        outcome.error = classOf(e) + ": " + e.what();
    }
    return outcome;
}

// The ranking page's settings.
void prepareLikeRankingPage(THttpClient& client, const std::string& base) {
    client.Request.Referer = base + "/";
    client.Request.UserAgent = ChromeAgent;
    client.Request.Accept = "application/json, text/javascript, */*; q=0.01";
    client.Request.CustomHeaders.clear();
    client.Request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
}

std::string ok(const std::string& body, const std::string& extra = "") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "\r\n" + body;
}

} // namespace

TEST(HttpClient, WritesTheSearchRequestByteForByteAndSendsCookiesBack) {
    ScriptedServer server({Step::answer(ok("{}", "Set-Cookie: lang=zh; path=/\r\n")), Step::answer(ok("{}"))});
    THttpClient client;
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    prepareLikeRankingPage(client, base);
    client.Request.Host = "http://caller.example/"; // never reaches the wire

    std::vector<std::string> fields{"name=\xE5\xBC\xA0\xE4\xB8\x89", "count=10"};
    std::string answer = "kept:";
    client.PostForm(base + "/bang/search4role", fields, answer);
    EXPECT_EQ(answer, "kept:{}");
    EXPECT_EQ(fields[0], "name=%E5%BC%A0%E4%B8%89");
    EXPECT_EQ(client.ProtocolVersion, pv1_1);

    const std::string head = "POST /bang/search4role HTTP/1.0\r\n"
                             "Connection: keep-alive\r\n"
                             "Content-Type: application/x-www-form-urlencoded\r\n"
                             "Content-Length: 33\r\n"
                             "X-Requested-With:XMLHttpRequest\r\n"
                             "Host: 127.0.0.1:" +
                             std::to_string(server.port()) +
                             "\r\n"
                             "Accept: application/json, text/javascript, */*; q=0.01\r\n"
                             "Referer: " +
                             base +
                             "/\r\n"
                             "User-Agent: " +
                             ChromeAgent + "\r\n";
    ASSERT_TRUE(server.waitForFinished(1));
    EXPECT_EQ(server.request(0), head + "\r\nname=%E5%BC%A0%E4%B8%89&count=10&");

    std::vector<std::string> again{"name=\xE5\xBC\xA0\xE4\xB8\x89", "page=3", "count=10"};
    answer.clear();
    client.PostForm(base + "/bang/search4role", again, answer);
    ASSERT_TRUE(server.waitForFinished(2));
    std::string second = server.request(1);
    EXPECT_NE(second.find("User-Agent: " + ChromeAgent + "\r\nCookie: lang=zh\r\n\r\n"), std::string::npos) << second;
    EXPECT_NE(second.find("\r\n\r\nname=%E5%BC%A0%E4%B8%89&page=3&count=10&"), std::string::npos);
    EXPECT_EQ(second.find("X-Requested-With"), second.rfind("X-Requested-With"));
    EXPECT_EQ(server.connectionCount(), 2u) << "every POST opens a fresh connection";
}

TEST(HttpClient, AnswersAndTheirOutcomes) {
    const std::string big(40000, 'b');
    struct Case {
        const char* name;
        Step step;
        std::string body;
        std::string error;
    } cases[] = {
        {"length", Step::answer(ok("hello")), "hello", ""},
        {"length 0", Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), "", ""},
        {"short body", Step::answer("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhello"), "hello", ""},
        {"until close", Step::answer("HTTP/1.0 200 OK\r\n\r\n" + big), big, ""},
        {"unreadable length", Step::answer("HTTP/1.0 200 OK\r\nContent-Length: ten\r\n\r\nbody"), "body", ""},
        {"bare LF lines", Step::answer("HTTP/1.1 200 OK\nContent-Length: 2\n\nok"), "ok", ""},
        {"chunked",
         Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n"),
         "hello world", ""},
        {"chunk extension without blank",
         Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1a;x\r\n" + std::string(26, 'z') +
                      "\r\n1a ;x\r\n" + std::string(26, 'y') + "\r\n0\r\nTrailer: t\r\n\r\n"),
         std::string(26, 'z') + std::string(26, 'y'), ""},
        {"chunked in capitals",
         Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n"), "ok", ""},
        {"chunked body ends at last chunk",
         Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n"), "ok", ""},
        {"no chunk size", Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n;x\r\nabc\r\n0\r\n\r\n"),
         "", "EHttpException: Invalid chunk size"},
        {"closed inside chunk", Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\nabc"), "abc",
         "EHttpConnClosedGracefully: Connection Closed Gracefully."},
        {"giant chunk", Step::answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n"),
         "", "EHttpException: Answer too large"},
        {"giant length", Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n"), "",
         "EHttpException: Answer too large"},
        {"100 then 200", Step::answer("HTTP/1.1 100 Continue\r\n\r\n" + ok("done")), "done", ""},
        {"204", Step::answer("HTTP/1.1 204 No Content\r\n\r\n"), "", ""},
        {"304", Step::answer("HTTP/1.1 304 Not Modified\r\n\r\n"), "",
         "EHttpProtocolException: HTTP/1.1 304 Not Modified"},
        {"302", Step::answer("HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n"), "",
         "EHttpProtocolException: HTTP/1.1 302 Found"},
        {"200 with Location", Step::answer(ok("x", "Location: http://elsewhere/\r\n")), "",
         "EHttpProtocolException: HTTP/1.1 200 OK"},
        {"401", Step::answer("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\nContent-Length: 0\r\n\r\n"), "",
         "EHttpProtocolException: HTTP/1.1 401 Unauthorized"},
        {"407", Step::answer("HTTP/1.1 407 Proxy Authentication Required\r\nContent-Length: 0\r\n\r\n"), "",
         "EHttpProtocolException: HTTP/1.1 407 Proxy Authentication Required"},
        {"500", Step::answer("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 4\r\n\r\noops"), "",
         "EHttpProtocolException: HTTP/1.1 500 Internal Server Error"},
        {"not HTTP at all", Step::answer("SSH-2.0-OpenSSH\r\n\r\n"), "", "EHttpProtocolException: SSH-2.0-OpenSSH"},
        {"nothing", Step::closeEarly(), "", "EHttpConnClosedGracefully: Connection Closed Gracefully."},
        {"status line cut", Step::answer("HTTP/1.1 20"), "",
         "EHttpConnClosedGracefully: Connection Closed Gracefully."},
        {"headers cut", Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n"), "",
         "EHttpException: Undefined situation"},
        {"headers cut, refused", Step::answer("HTTP/1.1 503 Busy\r\nServer: x"), "",
         "EHttpProtocolException: HTTP/1.1 503 Busy"},
        {"reset", Step::reset(), "", "EHttpSocketError: Socket Error # 10054\r\nConnection reset by peer."},
        {"long status line", Step::answer("HTTP/1.1 200 " + std::string(16400, 'x') + "\r\n\r\n"), "",
         "EHttpMaxLineLengthExceeded: Max line length exceeded."},
        {"long line without end", Step::stall("HTTP/1.1 200 OK\r\nX: " + std::string(20000, 'x')), "",
         "EHttpMaxLineLengthExceeded: Max line length exceeded."},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({c.step});
        THttpClient client;
        Outcome outcome = postTo(client, server.url("/p"));
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.body, c.body);
    }
}

TEST(HttpClient, RefusedAnswerCarriesCodeAndBodyAndKeepsRequestSettings) {
    ScriptedServer server({Step::answer("HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\n\r\nmissing")});
    THttpClient client;
    client.ProtocolVersion = pv1_1;
    std::vector<std::string> fields{"a=1"};
    std::string answer;
    try {
        client.PostForm(server.url("/x"), fields, answer);
        FAIL() << "no error";
    } catch (const EHttpProtocolException& e) {
        EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
        EXPECT_EQ(e.ErrorCode(), 404);
        EXPECT_EQ(e.ErrorMessage(), "missing");
    }
    EXPECT_EQ(answer, "");
    EXPECT_EQ(client.ProtocolVersion, pv1_1);
    EXPECT_EQ(client.Request.ContentType, "application/x-www-form-urlencoded");
}

TEST(HttpClient, TimeLimits) {
    {
        // A peer that accepts and never answers: ReadTimeout ends the wait.
        ScriptedServer server({Step::stall()});
        THttpClient client;
        client.ReadTimeout = 200;
        EXPECT_EQ(postTo(client, server.url()).error, "EHttpReadTimeout: Read Timeout");
    }
    {
        // Each wait is limited, not the whole answer: a drip of about 1.5 s with short pauses gets through.
        ScriptedServer server({Step::slowDrip(ok("slow but steady"), 2, 50ms)});
        THttpClient client;
        client.ReadTimeout = 1000;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(postTo(client, server.url()).body, "slow but steady");
        EXPECT_GT(std::chrono::steady_clock::now() - start, 1000ms);
    }
    {
        // A refused answer whose body never comes is given 2 s even when ReadTimeout is 0.
        ScriptedServer server({Step::stall("HTTP/1.1 500 Error\r\n\r\npartial")});
        THttpClient client;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(postTo(client, server.url()).error, "EHttpReadTimeout: Read Timeout");
        EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    }
    {
        // A listener whose queue is full drops new connects: ConnectTimeout ends the wait.
        int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(listener, 0), 0);
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        std::vector<int> fillers;
        for (int i = 0; i < 4; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers.push_back(fd);
        }
        ::usleep(100000);
        THttpClient client;
        client.ConnectTimeout = 300;
        EXPECT_EQ(postTo(client, "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/").error,
                  "EHttpSocketError: Socket Error # 10060\r\nConnection timed out.");
        for (int fd : fillers)
            ::close(fd);
        ::close(listener);
    }
}

TEST(HttpClient, ConnectingByNameAddressAndFailures) {
    ScriptedServer server({Step::answer(ok("one"))});
    THttpClient client;
    EXPECT_EQ(postTo(client, "http://LocalHost:" + std::to_string(server.port()) + "/").body, "one");

    // A port nobody listens on.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    EXPECT_EQ(postTo(client, "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/").error,
              "EHttpSocketError: Socket Error # 10061\r\nConnection refused.");

    EXPECT_EQ(postTo(client, "http://no-such-host.invalid/").error,
              "EHttpSocketError: Socket Error # 11001\r\nHost not found.");
    EXPECT_EQ(postTo(client, "ftp://127.0.0.1/").error, "EHttpUnknownProtocol: ");
    EXPECT_EQ(postTo(client, "http://127.0.0.1:99999/").error,
              "EHttpSocketError: Socket Error # 10022\r\nInvalid argument.");
    EXPECT_EQ(isIPv4Address("127.0.0.1"), true);
    EXPECT_EQ(isIPv4Address("256.0.0.1"), false);
    EXPECT_EQ(isIPv4Address("1.2.3"), false);
}

TEST(HttpClient, KeepAliveRules) {
    const std::string keep = ok("k", "Connection: keep-alive\r\n");
    {
        // HTTP/1.1 GETs reuse the connection unless the answer says "close".
        ScriptedServer server({Step::answerEach({ok("1"), ok("2", "Connection: close\r\n")}), Step::answer(ok("3"))});
        THttpClient client;
        std::string answer;
        client.Get(server.url("/a"), answer);
        EXPECT_TRUE(client.Response.KeepAlive);
        client.Get(server.url("/b"), answer);
        EXPECT_FALSE(client.Response.KeepAlive);
        client.Get(server.url("/c"), answer);
        EXPECT_EQ(answer, "123");
        EXPECT_EQ(server.connectionCount(), 2u);
        EXPECT_EQ(server.request(0).find("GET /a HTTP/1.1\r\n"), 0u);
    }
    {
        // HTTP/1.0 keeps a connection only when the answer says "keep-alive"; POST never reuses one.
        ScriptedServer server({Step::answerEach({keep, ok("x")}), Step::answer(keep), Step::answer(ok("y"))});
        THttpClient client;
        client.ProtocolVersion = pv1_0;
        std::string answer;
        client.Get(server.url("/"), answer);
        EXPECT_TRUE(client.Response.KeepAlive);
        client.Get(server.url("/"), answer);
        EXPECT_FALSE(client.Response.KeepAlive);
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(postTo(client, server.url()).body, "k");
        EXPECT_TRUE(client.Connected());
        EXPECT_EQ(postTo(client, server.url()).body, "y");
        EXPECT_EQ(server.connectionCount(), 3u);
    }
    {
        // A kept connection the peer has closed since: the GET goes out again on a new one.
        ScriptedServer server({Step::answer(ok("1")), Step::answer(ok("2"))});
        THttpClient client;
        std::string answer;
        client.Get(server.url("/"), answer);
        EXPECT_TRUE(client.Response.KeepAlive);
        client.Get(server.url("/"), answer);
        EXPECT_EQ(answer, "12");
        EXPECT_EQ(server.connectionCount(), 2u);
    }
}

TEST(HttpClient, ReadsAnswerFieldsFromAStreamWithoutSocket) {
    // Bytes handed over one at a time exercise every buffer boundary of the reader.
    std::string answer = "HTTP/1.1 200 OK\r\nServer: scripted\r\nContent-Type: application/json\r\n"
                         "Date: Wed, 09 Jun 2021 10:18:14 GMT\r\nExpires: 60\r\nX-Folded: a\r\n b\r\n"
                         "Set-cookie: s=1\r\nContent-Length: 2\r\n\r\n{}";
    // Keeps what the client wrote when the client drops the connection.
    struct RecordingStream : THttpMemoryStream {
        std::string& sink;
        RecordingStream(std::string answer, std::string& sink) : THttpMemoryStream(std::move(answer), 1), sink(sink) {}
        ~RecordingStream() override { sink = writtenBytes(); }
    };
    std::string written;
    THttpClient client;
    client.setConnector([&](const std::string& host, int port, int) {
        EXPECT_EQ(host, "service.example");
        EXPECT_EQ(port, 8080);
        return std::make_unique<RecordingStream>(answer, written);
    });
    client.Request.BasicAuthentication = true;
    client.Request.Username = "user";
    client.Request.Password = "pw";
    client.Request.ContentRangeStart = 5;
    // A caller's line that names a header of the record is set in place (removed when the field is empty).
    for (const char* line : {"Connection: extra", "Accept: mine", "Referer: gone"})
        client.Request.CustomHeaders.addLine(line);
    Outcome outcome = postTo(client, "http://service.example:8080/q/doc?x=1#frag", {"a=1"});
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.body, "{}");
    EXPECT_EQ(client.Response.ResponseCode, 200);
    EXPECT_EQ(client.Response.ResponseVersion, pv1_1);
    EXPECT_EQ(client.Response.Server, "scripted");
    EXPECT_EQ(client.Response.ContentType, "application/json");
    EXPECT_EQ(client.Response.ContentLength, 2);
    EXPECT_EQ(client.Response.RawHeaders.value("x-folded"), "a b");
    EXPECT_EQ(client.Response.Date, parseHttpDate("Wed, 09 Jun 2021 10:18:14 GMT"));
    ASSERT_TRUE(client.Response.Expires);
    EXPECT_NEAR(std::chrono::duration<double>(*client.Response.Expires - std::chrono::system_clock::now()).count(), 60,
                2);
    ASSERT_NE(client.CookieManager(), nullptr);
    EXPECT_EQ(client.CookieManager()->count(), 1u);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(written.find("POST /q/doc?x=1 HTTP/1.0\r\n"), 0u) << written;
    EXPECT_EQ(written.find("Referer"), std::string::npos) << written;
    for (const char* line : {"\r\nConnection: keep-alive\r\n",
                             "\r\nConnection: extra\r\nAccept: text/html, */*\r\nHost: service.example:8080\r\n",
                             "\r\nRange: bytes=5-\r\n", "\r\nAuthorization: Basic dXNlcjpwdw==\r\n", "\r\n\r\na=1"})
        EXPECT_NE(written.find(line), std::string::npos) << line;
}

TEST(HttpClient, AnswerFieldsReadInOnePassAgreeWithTheHeaderList) {
    // Repeated names (the first counts), any case, blanks before the colon, continuation lines, lists.
    const std::string answer = "HTTP/1.1 200 OK\r\ncontent-type: text/plain\r\nContent-Type: text/html\r\n"
                               "Server : first\r\n second\r\nWWW-Authenticate: Basic a\r\nwww-authenticate: B\r\n"
                               " c\r\nPROXY-AUTHENTICATE: P\r\nConnection: keep-alive\r\nConnection: close\r\n"
                               "Pragma:\r\nPragma: later\r\nContent-Range: bytes 0-1/2\r\nContent-Language: zh\r\n"
                               "Content-Encoding: x\r\nContent-Version: 2\r\nProxy-Connection: p\r\n"
                               "Content-Length: 2\r\nContent-Length: 9\r\n\r\n{}";
    THttpClient client;
    client.setConnector([&](const std::string&, int, int) { return std::make_unique<THttpMemoryStream>(answer, 7); });
    ASSERT_EQ(postTo(client, "http://service.example/").body, "{}");
    const THttpResponse& r = client.Response;
    const std::pair<const char*, const std::string*> fields[] = {{"Content-Type", &r.ContentType},
                                                                 {"Server", &r.Server},
                                                                 {"Connection", &r.Connection},
                                                                 {"Pragma", &r.Pragma},
                                                                 {"Content-Range", &r.ContentRange},
                                                                 {"Content-Language", &r.ContentLanguage},
                                                                 {"Content-Encoding", &r.ContentEncoding},
                                                                 {"Content-Version", &r.ContentVersion},
                                                                 {"Proxy-Connection", &r.ProxyConnection},
                                                                 {"Location", &r.Location}};
    for (const auto& [name, field] : fields)
        EXPECT_EQ(*field, r.RawHeaders.value(name)) << name;
    EXPECT_EQ(r.ContentType, "text/plain");
    EXPECT_EQ(r.Server, "first second");
    EXPECT_EQ(r.Pragma, "");
    EXPECT_EQ(r.ContentLength, 2);
    EXPECT_EQ(r.WWWAuthenticate, (std::vector<std::string>{"Basic a", "B c"}));
    EXPECT_EQ(r.ProxyAuthenticate, (std::vector<std::string>{"P"}));
}

TEST(HttpClient, FollowsRedirectsOnlyWhenAskedAndWithinTheLimit) {
    const std::string moved = "HTTP/1.1 302 Found\r\nLocation: /next/page\r\nContent-Length: 3\r\n\r\nold";
    {
        ScriptedServer server({Step::answer(moved), Step::answer(ok("arrived"))});
        THttpClient client;
        client.HandleRedirects = true;
        std::string answer;
        client.Get(server.url("/first"), answer);
        EXPECT_EQ(answer, "arrived");
        ASSERT_TRUE(server.waitForFinished(2));
        EXPECT_EQ(server.request(1).find("GET /next/page HTTP/1.1\r\n"), 0u) << server.request(1);
    }
    {
        // At the limit the redirect is accepted without being followed: the call ends with the Location.
        ScriptedServer server({Step::answer(moved)});
        THttpClient client;
        client.HandleRedirects = true;
        client.RedirectMaximum = 0;
        std::string answer;
        client.Get(server.url("/first"), answer);
        EXPECT_EQ(answer, "");
        EXPECT_EQ(client.Response.Location, "/next/page");
    }
    {
        // A hook decides instead of HandleRedirects.
        ScriptedServer server({Step::answer(moved)});
        THttpClient client;
        client.HandleRedirects = true;
        std::string seen;
        client.OnRedirect = [&](std::string& url, THttpMethod&) {
            seen = url;
            return false;
        };
        std::string answer;
        EXPECT_THROW(client.Get(server.url("/first"), answer), EHttpProtocolException);
        EXPECT_EQ(seen, "/next/page");
    }
}

TEST(HttpClient, LongLinesSplitWhenToldTo) {
    ScriptedServer server(
        {Step::answer("HTTP/1.1 200 OK\r\nX-Big: " + std::string(100, 'x') + "\r\nContent-Length: 2\r\n\r\nok")});
    THttpClient client;
    client.MaxLineLength = 40;
    client.MaxLineAction = maSplit;
    EXPECT_EQ(postTo(client, server.url()).body, "ok");
    EXPECT_EQ(client.Response.RawHeaders.value("X-Big"), std::string(33, 'x'));
}

TEST(HttpClient, RelativeUrlsFollowTheLastRequestAbsoluteOnesStandAlone) {
    std::vector<std::string> peers;
    std::vector<std::string> targets;
    struct RecordingStream : THttpMemoryStream {
        std::vector<std::string>& sink;
        explicit RecordingStream(std::vector<std::string>& sink)
            : THttpMemoryStream("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"), sink(sink) {}
        ~RecordingStream() override { sink.push_back(writtenBytes().substr(0, writtenBytes().find("\r\n"))); }
    };
    THttpClient client;
    client.setConnector([&](const std::string& host, int port, int) {
        peers.push_back(host + ":" + std::to_string(port));
        return std::make_unique<RecordingStream>(targets);
    });
    std::string answer;
    for (const char* url : {"http://a.example:8080/dir/sub/page", "other?x=1", "../up", "/root/doc",
                            "http://b.example/", "http://c.example:80/z"})
        client.Get(url, answer);
    client.Disconnect();
    EXPECT_EQ(peers, (std::vector<std::string>{"a.example:8080", "a.example:8080", "a.example:8080", "a.example:8080",
                                               "b.example:80", "c.example:80"}));
    EXPECT_EQ(targets, (std::vector<std::string>{"GET /dir/sub/page HTTP/1.1", "GET /dir/sub/other?x=1 HTTP/1.1",
                                                 "GET /dir/up HTTP/1.1", "GET /root/doc HTTP/1.1", "GET / HTTP/1.1",
                                                 "GET /z HTTP/1.1"}));
}
