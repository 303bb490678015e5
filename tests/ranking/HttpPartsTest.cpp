// The pieces the HTTP client is built from: header lists, URL parts, the form body, dates, socket errors.

#include "ranking/HttpClient.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace qarvia::http;

TEST(HttpHeaderList, LooksUpCaseInsensitivelyAndJoinsContinuationLines) {
    THttpHeaderList list;
    for (const char* line : {"Content-Type: text/plain", "X-Long: first part", " second part", "\tthird ",
                             "set-cookie: a=1", "Set-Cookie: b=2", "Odd : spaced "})
        list.addLine(line);
    EXPECT_EQ(list.value("content-TYPE"), "text/plain");
    EXPECT_EQ(list.value("X-Long"), "first part second part third");
    EXPECT_EQ(list.value("Odd"), "spaced");
    EXPECT_EQ(list.value("Missing"), "");
    EXPECT_EQ(list.extract("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
    // A continuation line never counts as a line of its own name.
    EXPECT_FALSE(list.contains("second part"));
}

TEST(HttpHeaderList, SetValueReplacesInPlaceRemovesAndFolds) {
    THttpHeaderList list(THttpHeaderList::HeaderFoldLength);
    list.addLine("A: 1");
    list.addLine("B: old");
    list.addLine(" continued");
    list.addLine("C: 3");
    list.setValue("b", "new");
    EXPECT_EQ(list.lines(), (std::vector<std::string>{"A: 1", "b: new", "C: 3"}));
    list.setValue("A", "");
    EXPECT_EQ(list.lines(), (std::vector<std::string>{"b: new", "C: 3"}));

    // 1200 characters fold at a blank or comma into pieces of at most 1024, and read back unchanged.
    std::string longValue;
    for (int i = 0; longValue.size() < 1200; ++i)
        longValue += "word" + std::to_string(i) + (i % 3 ? ", " : " ");
    longValue.pop_back();
    list.setValue("Long", longValue);
    ASSERT_GT(list.count(), 3u);
    for (std::size_t i = 2; i < list.count(); ++i) {
        EXPECT_LE(list.lines()[i].size(), 1024u);
        if (i > 2) {
            EXPECT_EQ(list.lines()[i][0], ' ');
        }
    }
    EXPECT_EQ(list.value("long"), longValue);
    // The small fold length of other lists.
    EXPECT_EQ(THttpHeaderList::foldLine("Name: aaaa bbbb,cccccc", 11),
              (std::vector<std::string>{"Name: aaaa", " bbbb,", " cccccc"}));
    // No place to fold: the line stays whole.
    EXPECT_EQ(THttpHeaderList::foldLine(std::string(100, 'x'), 78).size(), 1u);
}

TEST(HttpURI, SplitsEveryPart) {
    struct Case {
        const char* url;
        THttpURI want;
    } cases[] = {
        {"http://user:pw@Host.example:8080/a/b/doc.htm?x=1&y=2#top",
         {"http", "user", "pw", "Host.example", "8080", "/a/b/", "doc.htm", "?x=1&y=2", "top"}},
        {"HTTP://rank.example", {"http", "", "", "rank.example", "", "/", "", "", ""}},
        {"http://h\\dir\\file", {"http", "", "", "h", "", "/dir/", "file", "", ""}},
        {"other/page.htm", {"", "", "", "", "", "other/", "page.htm", "", ""}},
        // 0x5C as the second byte of a GBK character stays a byte of that character.
        {"http://h/\xD5\x5C/x", {"http", "", "", "h", "", "/\xD5\x5C/", "x", "", ""}},
    };
    for (const Case& c : cases) {
        THttpURI got = THttpURI::parse(c.url);
        SCOPED_TRACE(c.url);
        EXPECT_EQ(got.Protocol, c.want.Protocol);
        EXPECT_EQ(got.Username, c.want.Username);
        EXPECT_EQ(got.Password, c.want.Password);
        EXPECT_EQ(got.Host, c.want.Host);
        EXPECT_EQ(got.Port, c.want.Port);
        EXPECT_EQ(got.Path, c.want.Path);
        EXPECT_EQ(got.Document, c.want.Document);
        EXPECT_EQ(got.Params, c.want.Params);
        EXPECT_EQ(got.Bookmark, c.want.Bookmark);
    }
    EXPECT_EQ(THttpURI::resolvePath("/a/b/", "/c/"), "/c/");
    EXPECT_EQ(THttpURI::resolvePath("/a/b/", "c/"), "/a/b/c/");
    EXPECT_EQ(THttpURI::resolvePath("/a/b/", ""), "/a/b/");
    EXPECT_EQ(THttpURI::resolvePath("/a/b/", "../../../c/./"), "/c/");
}

TEST(HttpForm, EncodesValuesAndJoinsWithFinalAmpersand) {
    THttpClient client;
    struct Case {
        std::vector<std::string> fields;
        const char* body;
    } cases[] = {
        {{"name=a b", "count=10"}, "name=a+b&count=10&"},
        {{"name=\xE5\xBC\xA0\xE4\xB8\x89", "count=10"}, "name=%E5%BC%A0%E4%B8%89&count=10&"},
        {{"name=\xE5\xBC\xA0\xE4\xB8\x89", "page=3", "count=10"}, "name=%E5%BC%A0%E4%B8%89&page=3&count=10&"},
        {{"only=1"}, "only=1"},
        {{"name=", "page=2", "count=10"}, "name=&page=2&count=10&"},
        {{"v=a-b_c.d*e~f"}, "v=a%2Db%5Fc%2Ed%2Ae%7Ef"},
        {{"v= x "}, "v=+x+"},
        // Two fields of one name each keep their own value.
        {{"a=1", "a=2"}, "a=1&a=2&"},
        {{}, ""},
    };
    for (Case& c : cases) {
        std::vector<std::string> fields = c.fields;
        EXPECT_EQ(client.BuildFormBody(fields), c.body);
    }
    std::vector<std::string> fields{"a=x y", "b=&"};
    client.BuildFormBody(fields);
    EXPECT_EQ(fields, (std::vector<std::string>{"a=x+y", "b=%26"})) << "the lines are rewritten in place";
}

TEST(HttpDate, ReadsTheThreeFormsAsOneInstant) {
    using namespace std::chrono;
    const THttpDateTime want = sys_days(2021y / June / 9) + 10h + 18min + 14s;
    for (const char* text :
         {"Wed, 09 Jun 2021 10:18:14 GMT", "Wednesday, 09-Jun-21 10:18:14 GMT", "Wed Jun  9 10:18:14 2021",
          "  wed, 09 jun 2021 12:48:14 +0230 ", "Wed, 09 Jun 2021 05:18:14 -0500"}) {
        std::optional<THttpDateTime> got = parseHttpDate(text);
        ASSERT_TRUE(got) << text;
        EXPECT_EQ(*got, want) << text;
    }
    EXPECT_EQ(parseHttpDate("Sun, 06 Nov 94 08:49:37 GMT"), sys_days(1994y / November / 6) + 8h + 49min + 37s);
    for (const char* bad : {"", "   ", "Wed, 31 Feb 2021 10:00:00 GMT", "Wed, 09 Foo 2021 10:00:00 GMT",
                            "09 Jun 2021 25:00:00 GMT", "tomorrow", "Wed, 09 Jun"})
        EXPECT_FALSE(parseHttpDate(bad)) << bad;
    EXPECT_EQ(formatHttpDate(want), "Wed, 09 Jun 2021 10:18:14 GMT");
    EXPECT_EQ(parseHttpDate(formatHttpDate(want)), want);
}

TEST(HttpErrors, SocketNumbersTextsAndMessages) {
    struct Case {
        int errnoValue;
        int number;
        const char* text;
    } cases[] = {
        {ECONNREFUSED, 10061, "Connection refused."},     {ETIMEDOUT, 10060, "Connection timed out."},
        {ECONNRESET, 10054, "Connection reset by peer."}, {EWOULDBLOCK, 10035, "Operation would block. "},
        {EHOSTUNREACH, 10065, "No route to host."},       {ENOTEMPTY, 10066, "Directory not empty"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(socketErrorFromErrno(c.errnoValue), c.number);
        EXPECT_EQ(socketErrorText(c.number), c.text);
        try {
            throwSocketError(c.errnoValue);
            ADD_FAILURE() << "no error thrown";
        } catch (const EHttpSocketError& e) {
            EXPECT_EQ(e.LastError(), c.number);
            EXPECT_EQ(std::string(e.what()), "Socket Error # " + std::to_string(c.number) + "\r\n" + c.text);
        }
    }
    EXPECT_EQ(socketErrorText(11001), "Host not found.");
    EXPECT_EQ(socketErrorText(12345), "");
    EXPECT_STREQ(EHttpSocketError(11001).what(), "Socket Error # 11001\r\nHost not found.");
    EXPECT_STREQ(EHttpConnClosedGracefully().what(), "Connection Closed Gracefully.");
    EXPECT_STREQ(EHttpMaxLineLengthExceeded().what(), "Max line length exceeded.");
    EXPECT_STREQ(EHttpReadTimeout().what(), "Read Timeout");
    EXPECT_STREQ(EHttpUnknownProtocol().what(), "");
}
