// The client and its cookie store under desktop locales whose C library case rules are not ASCII: the bytes
// on the wire must not change. (Mended: under Latin-1 a search for 张三 sent raw bytes, under Turkish
// "SET-COOKIE:" lines, "expires" attributes and "TRANSFER-ENCODING" headers were not recognised.)

#include "ranking/HttpClient.h"

#include "ForeignLocale.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace qarvia::http;
using qarvia::test::ForeignLocale;

namespace {

// Serves the answers in turn, one per connection, and keeps what the client wrote on each.
struct CannedPeer {
    std::vector<std::string> answers;
    std::vector<std::string> written;

    void attach(THttpClient& client) {
        client.setConnector([this](const std::string&, int, int) -> std::unique_ptr<IHttpStream> {
            struct Stream : THttpMemoryStream {
                std::string& sink;
                Stream(std::string answer, std::string& sink) : THttpMemoryStream(std::move(answer), 7), sink(sink) {}
                ~Stream() override { sink = writtenBytes(); }
            };
            std::size_t i = written.size();
            written.emplace_back();
            return std::make_unique<Stream>(i < answers.size() ? answers[i] : std::string(), written.back());
        });
    }
};

std::string post(THttpClient& client, const std::string& url, std::vector<std::string> fields = {"name=x"}) {
    std::string body;
    client.PostForm(url, fields, body);
    return body;
}

} // namespace

TEST(HttpLocale, FormValuesArePercentEncodedUnderALatin1Desktop) {
    ForeignLocale latin1("en_US", "ISO-8859-1");
    ASSERT_TRUE(latin1.active()) << latin1.error();
    ASSERT_TRUE(std::isalnum(0xE5)); // the locale is really in force: "å" is a letter to <cctype>

    CannedPeer peer{{"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\n{}"}, {}};
    THttpClient client;
    peer.attach(client);
    post(client, "http://svc.example/bang/search4role", {"name=\xE5\xBC\xA0\xE4\xB8\x89 \xE9", "count=10"});
    ASSERT_EQ(peer.written.size(), 1u);
    const std::string& request = peer.written[0];
    EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), "name=%E5%BC%A0%E4%B8%89+%E9&count=10&");
}

TEST(HttpLocale, CookieLinesAttributesAndDatesAreReadUnderATurkishDesktop) {
    ForeignLocale turkish("tr_TR", "ISO-8859-9");
    ASSERT_TRUE(turkish.active()) << turkish.error();
    ASSERT_EQ(std::toupper('i'), 0xDD); // the locale is really in force: "i" upper-cases to dotted "İ"

    CannedPeer peer{{"HTTP/1.0 200 OK\r\n"
                     "SET-COOKIE: lang=zh; PATH=/\r\n"
                     "set-cookie: old=1; expires=Wed, 09 Jun 2021 10:18:14 GMT\r\n"
                     "Set-Cookie: late=1; Expires=Fri, 01 Jan 2100 00:00:00 GMT; Path=/\r\n"
                     "Set-Cookie: wide=1; domain=.example.org; path=/\r\n"
                     "SET-COOKIE2: v2=1; Version=1; Path=/\r\n"
                     "Content-Length: 0\r\n\r\n",
                     "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", "HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n"},
                    {}};
    THttpClient client;
    peer.attach(client);
    post(client, "http://svc.example.org/bang/search4role");
    post(client, "http://svc.example.org/bang/search4role");
    post(client, "http://other.example.org/bang/");
    ASSERT_EQ(peer.written.size(), 3u);
    // The past date is seen and its cookie dropped; the future one (a Friday) is kept.
    EXPECT_NE(peer.written[1].find("\r\nCookie: v2=1; late=1; lang=zh; wide=1\r\n"), std::string::npos)
        << peer.written[1];
    // The domain attribute was read: the cookie goes to every host under example.org.
    EXPECT_NE(peer.written[2].find("\r\nCookie: wide=1\r\n"), std::string::npos) << peer.written[2];
}

TEST(HttpLocale, ChunkedAnswersAndConnectionValuesAreReadUnderATurkishDesktop) {
    ForeignLocale turkish("tr_TR", "ISO-8859-9");
    ASSERT_TRUE(turkish.active()) << turkish.error();
    ASSERT_EQ(std::tolower('I'), 0xFD); // the locale is really in force: "I" lower-cases to dotless "ı"

    const std::string z26(26, 'z');
    struct Case {
        const char* what;
        std::string answer;
        std::string body;
        bool keepAlive;
    } cases[] = {
        {"capitals", "HTTP/1.0 200 OK\r\nTRANSFER-ENCODING: CHUNKED\r\n\r\n1A\r\n" + z26 + "\r\n0\r\n\r\n", z26, false},
        {"name in lower case, coding among others",
         "HTTP/1.0 200 OK\r\ntransfer-encoding: identity, Chunked\r\n\r\na ;x=1\r\n0123456789\r\n0\r\n\r\n",
         "0123456789", false},
        {"trailer in capitals and keep-alive",
         "HTTP/1.0 200 OK\r\nCONNECTION: KEEP-ALIVE\r\nTransfer-Encoding: CHUNKED\r\n\r\n2\r\nok\r\n0\r\nTRAILER-INFO: "
         "I\r\n\r\n",
         "ok", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CannedPeer peer{{c.answer}, {}};
        THttpClient client;
        peer.attach(client);
        EXPECT_EQ(post(client, "http://svc.example/"), c.body);
        EXPECT_EQ(client.Response.KeepAlive, c.keepAlive);
    }
}
