#include "update/UpdaterRules.h"

#include <gtest/gtest.h>

using namespace qarvia::update;

TEST(UpdaterRules, CompareVersionStrings) {
    struct Case {
        const char* a;
        const char* b;
        int result;
    };
    const Case cases[] = {
        {"v1.1", "v1.0", 1}, // "v1" is no number: the whole texts are compared
        {"v1.1", "v1.1", 0},     {"v1.2", "v1.1", 1},
        {"", "v1.1", -1},        {"v1.1", "", 1},
        {"1.10", "1.9", 1},                               // by number
        {"1.2", "1.2.0.0", 0},   {"1.2.0.0.9", "1.2", 0}, // text after the fourth "." is ignored
        {"2", "10", -1},         {"1.2.3.4", "1.2.3.5", -1},
        {"1.x", "1.0", 1},                        // "x" is no number: "1.x" > "1.0" byte-wise
        {"1..2", "1.0.2", -1},                    // an empty field is no number: "." < "0"
        {"1.2", "1.2a", -1},                      // byte-wise, the shorter text compares as a zero byte
        {"99999999999", "1", 1},                  // beyond 32 bits is no number: "9" > "1"
        {"\xC0.1", "a.1", 1},                     // bytes compare unsigned
        {"+3", "2", 1},          {"-1", "0", -1}, // "-1" reads as the "no number" mark
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareVersionStrings(c.a, c.b), c.result) << c.a << " vs " << c.b;
        EXPECT_EQ(CompareVersionStrings(c.b, c.a), -c.result) << c.b << " vs " << c.a;
    }
}

TEST(UpdaterRules, InfoDatesAndTheDateRule) {
    const InfoDate today{2026, 12, 7};
    struct Case {
        const char* text;
        InfoDate date;
    };
    const Case cases[] = {
        {"11/06/2012", {2012, 11, 6}},
        {"2/29/2024", {2024, 2, 29}},
        {"1/2/3", {3, 1, 2}},
        {"2/29/2023", today}, // no such day
        {"13/01/2020", today},
        {"11-06-2012", today},
        {"11/06", today},
        {"", today},
        {"a/1/2020", today},
        {"1/2/2020/5", today},
        {" 1/2/2020", today},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseInfoDate(c.text, today), c.date) << c.text;
    EXPECT_EQ(FormatVersionDate({2012, 11, 6}), "11/06/2012");
    EXPECT_EQ(FormatVersionDate({987, 1, 2}), "01/02/0987");

    EXPECT_TRUE(IsNewerByDate("11/06/2012", "12/01/2012", today));
    EXPECT_FALSE(IsNewerByDate("12/01/2012", "12/01/2012", today));
    // A missing or malformed date reads as today: any earlier running version is older.
    EXPECT_TRUE(IsNewerByDate("11/06/2012", "", today));
    EXPECT_FALSE(IsNewerByDate("12/07/2026", "garbled", today));
    EXPECT_TRUE(IsNewerByNumber("v1.2", "v1.1"));
    EXPECT_FALSE(IsNewerByNumber("v1.1", "v1.1"));
    EXPECT_FALSE(IsNewerByNumber("", "v1.1"));
}

TEST(UpdaterRules, LoginRecord) {
    const std::pair<std::string, std::string> logins[] = {
        {"alice", "s3cret"},
        {"", "only-password"},
        {"only-user", ""},
        {std::string(127, 'u'), std::string(127, 'p')},
        {"\xE5\xBC\xA0\xE4\xB8\x89", "\x01\xFF"},
    };
    for (const auto& [user, password] : logins) {
        const auto record = EncodeLInfo(user, password);
        ASSERT_TRUE(record) << user;
        ASSERT_EQ(record->size(), 2 + user.size() + password.size());
        EXPECT_EQ(static_cast<unsigned char>((*record)[0]), (user.size() + password.size() + 1) % 256);
        // Not the plain text.
        if (!password.empty()) {
            EXPECT_EQ(record->find(password), std::string::npos);
        }
        const auto back = DecodeLInfo(*record);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->first, user);
        EXPECT_EQ(back->second, password);
    }
    // The record's layout: count byte, then (user length, user, password) masked with (T xor key).
    const auto record = EncodeLInfo("ab", "c");
    const unsigned char mask = 4 ^ LInfoKey;
    EXPECT_EQ(*record, std::string({'\x04', char(2 ^ mask), char('a' ^ mask), char('b' ^ mask), char('c' ^ mask)}));

    EXPECT_EQ(EncodeLInfo("", ""), std::string());
    EXPECT_FALSE(EncodeLInfo(std::string(200, 'u'), std::string(55, 'p'))); // 255 bytes do not fit
    EXPECT_FALSE(DecodeLInfo(""));
    EXPECT_FALSE(DecodeLInfo(std::string("\x05\x01", 2)));                           // shorter than announced
    EXPECT_FALSE(DecodeLInfo(std::string({'\x02', char(9 ^ (2 ^ LInfoKey)), 'x'}))); // user length past the end
}

TEST(UpdaterRules, DownloadNames) {
    struct Case {
        const char* url;
        const char* name;
    };
    const Case cases[] = {
        {"http://www.example.test/zidad/qarvia/Qarviakit.v1.0.1.rar", "Qarviakit.v1.0.1.rar"},
        {"http://h/a\\b\\setup.exe", "setup.exe"},
        {"http://h/dir/", ""},
        {"file.rar", "file.rar"},
        {"http://h:8080", "8080"},
        {"http://h/get?f=a/b.rar", "get"}, // a query or fragment is no part of the name
        {"http://h/setup.exe#top", "setup.exe"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileNamePartOfURL(c.url), c.name) << c.url;
    EXPECT_EQ(DownloadTempName("/opt/q", "http://h/x/data.rar"), "/opt/q/data.rar.uTMP");
    EXPECT_EQ(DownloadTempName("/opt/q/", "http://h/x/data.rar"), "/opt/q/data.rar.uTMP");
    EXPECT_EQ(NormalizeRestartParams(""), " ");
    EXPECT_EQ(NormalizeRestartParams("/afterupgrade"), "/afterupgrade");
    EXPECT_EQ(MethodCharacter(1), '1');
}
