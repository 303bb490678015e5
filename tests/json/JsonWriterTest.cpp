#include "JsonTestUtil.h"

#include "json/JsonWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cmath>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace qarvia::json;
using namespace qarvia::json::test;

namespace {

// Records every append as one piece.
class PieceSink : public TJsonWriter {
public:
    int64_t Append(const char16_t* buffer, int64_t n) override {
        pieces.emplace_back(u8(std::u16string_view(buffer, size_t(n))));
        return n;
    }
    void Restart() override { pieces.clear(); }
    std::vector<std::string> pieces;
};

TEST(JsonWriterTest, WritesCompactText) {
    const IJsonValue obj = TJsonValue::FromKind(skObject);
    obj.SetIntegerAt(u"b", 1);
    obj.SetTextAt(u"a", u"x");
    const std::pair<IJsonValue, const char*> cases[] = {
        {obj, R"({"a":"x","b":1})"},
        {TJsonValue::FromKind(skObject), "{}"},
        {TJsonValue::FromKind(skArray), "[]"},
        {TJsonValue::FromKind(skNull), "null"},
        {IJsonValue(), "null"},
        {TJsonValue::FromBoolean(false), "false"},
        {TJsonValue::FromInteger(-42), "-42"},
        {TJsonValue::FromDouble(0.1), "0.1"},
        {TJsonValue::FromDouble(1.0 / 3), "0.333333333333333"},
        {TJsonValue::FromDouble(1e20), "1e+20"},
        {TJsonValue::FromDouble(-2.5e-7), "-2.5e-07"},
        {TJsonValue::FromCurrency({10000}), "1."},
        {TJsonValue::FromCurrency({0}), "0"},
        {TJsonValue::FromText(u"a\"b\\c/d\u0001"), "\"a\\\"b\\\\c\\/d\u0001\""},
        {TJsonValue::FromText(std::u16string(u"\0", 1)), "\"\\u0000\""},
        {parse("{\"z\":[1,{\"y\":null}],\"B\":[],\"a\":2.5,\"aa\":true}"),
         R"({"B":[],"a":2.5,"aa":true,"z":[1,{"y":null}]})"},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(u8(value.ToJson()), expected);
}

// Mended fault: the largest doubles were written with 15 digits as text that reads back as infinity.
TEST(JsonWriterTest, FiniteDoublesReadBackFinite) {
    const double max = std::numeric_limits<double>::max();
    const std::pair<double, const char*> cases[] = {
        {max, "1.7976931348623157e+308"},
        {-max, "-1.7976931348623157e+308"},
        {std::nextafter(max, 0.0), "1.7976931348623155e+308"},
        {std::nextafter(std::nextafter(max, 0.0), 0.0), "1.7976931348623153e+308"},
        {1.797693134862315e308, "1.79769313486231e+308"}, // 15 digits read back finite: kept
        {1e308, "1e+308"},
    };
    for (const auto& [d, text] : cases) {
        const IJsonValue v = TJsonValue::FromDouble(d);
        EXPECT_EQ(u8(v.ToJson()), text);
        const double back = ParseString(v.ToJson(), true, false).ToDouble();
        EXPECT_TRUE(std::isfinite(back)) << text;
        if (std::string_view(text).size() > 22) {
            EXPECT_EQ(back, d) << text; // the shortest text is exact
        }
    }
}

TEST(JsonWriterTest, CurrencyText) {
    const std::pair<int64_t, const char*> cases[] = {
        {15000, "1.5"},      {10000, "1."},       {5, "0.0005"},
        {-12345, "-1.2345"}, {1234500, "123.45"}, {0, "0"},
        {-10000, "-1."},     {-5, "-0.0005"},     {INT64_MIN, "-922337203685477.5808"},
    };
    for (const auto& [scaled, text] : cases)
        EXPECT_EQ(u8(CurrencyText(scaled)), text) << scaled;
}

TEST(JsonWriterTest, EscapesEveryUnitWhenAsked) {
    const std::pair<std::u16string, const char*> cases[] = {
        {u"\u4E2D", "\"\\u4e2d\""},
        {u"/", "\"\\/\""},
        {u"\b\t\n\f\r", "\"\\b\\t\\n\\f\\r\""},
        {u"\u0001\u001F", "\"\\u0001\\u001f\""},
        {u"\u00E9\u00FF\u0100", "\"\\u00e9\\u00ff\\u0100\""},
        {u"\u007F ~", "\"\u007F ~\""},
        {u"\xD83D\xDE00", "\"\\ud83d\\ude00\""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(u8(TJsonValue::FromText(text).ToJson(false, true)), expected);
    EXPECT_EQ(TJsonValue::FromText(u"\u4E2D/").ToJson(false, false), u"\"\u4E2D\\/\"");
}

TEST(JsonWriterTest, IndentsOneSpacePerLevel) {
    PieceSink sink;
    parse("{\"a\":[1,2]}").WriteTo(sink, true, false, 0);
    const std::vector<std::string> expected = {"{",      "\r\n ", "\"", "a", "\"", ": ",   "[",
                                               "\r\n  ", "1",     ",",  "2", "]",  "\r\n", "}"};
    EXPECT_EQ(sink.pieces, expected);
    EXPECT_EQ(u8(parse("{\"a\":{\"b\":[{}]},\"c\":1}").ToJson(true)),
              "{\r\n \"a\": {\r\n  \"b\": [\r\n   {}]\r\n },\r\n \"c\": 1\r\n}");
}

TEST(JsonWriterTest, CyclesAreCutAndDeepLevelsWriteNoSpaces) {
    const IJsonValue obj = parse("{\"a\":1}");
    obj.SetValueAt(u"self", obj);
    EXPECT_EQ(json(obj), "{\"a\":1}");
    const IJsonValue arr = parse("[1]");
    arr.ToArray()->Append(arr);
    arr.ToArray()->Append(TJsonValue::FromInteger(2));
    EXPECT_EQ(json(arr), "[1,2]");
    EXPECT_EQ(obj.ValueAt(u"self.self.a").ToInteger(), 1);
    // Break the cycles so the values can be freed.
    obj.Remove(u"self");
    arr.ToArray()->RemoveAt(1);

    PieceSink deep;
    parse("[1]").WriteTo(deep, true, false, 200);
    EXPECT_EQ(deep.pieces[1], "\r\n");
}

TEST(JsonWriterTest, SinksCountAndStore) {
    const IJsonValue v = parse("{\"k\":\"\u4E2D\"}");
    EXPECT_EQ(v.MeasureText(false, false), 9);
    EXPECT_EQ(v.MeasureText(false, true), 14);

    TJsonMemoryStream unicode;
    EXPECT_EQ(v.SaveToStream(unicode, false, false), 18);
    EXPECT_EQ(unicode.Bytes().substr(0, 4), std::string("{\0\"\0", 4));
    EXPECT_EQ(unicode.Bytes().substr(12, 2), std::string("\x2D\x4E", 2));
    TJsonMemoryStream ansi;
    EXPECT_EQ(v.SaveToStream(ansi, false, true), 14);
    EXPECT_EQ(ansi.Bytes(), "{\"k\":\"\\u4e2d\"}");

    char path[] = "/tmp/qarvia-json-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        std::ofstream old(path);
        old << std::string(100, 'x');
    }
    EXPECT_EQ(v.SaveToFile(path, false, true), 14);
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "{\"k\":\"\\u4e2d\"}");
    std::remove(path);
    EXPECT_EQ(v.SaveToFile("/nonexistent-dir/x.json", false, true), 0);

    TJsonWriterString s;
    for (int i = 0; i < 100; ++i)
        s.Append(u"abc", 3);
    EXPECT_EQ(s.Used(), 300);
    EXPECT_EQ(s.Chars()[300], 0);
    EXPECT_GE(s.Capacity(), 301);
}

TEST(JsonWriterTest, SocketSinkSendsEverythingOrReportsFailure) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    const IJsonValue v = TJsonValue::FromText(std::u16string(5000, u'a'));
    EXPECT_EQ(v.SaveToSocket(pair[0], false, false), 5002);
    std::string received(6000, '\0');
    size_t got = 0;
    while (got < 5002) {
        const ssize_t r = ::recv(pair[1], received.data() + got, received.size() - got, 0);
        ASSERT_GT(r, 0);
        got += size_t(r);
    }
    EXPECT_EQ(received.substr(0, 3), "\"aa");
    ::close(pair[1]);
    // The peer is gone: no signal, a failure count instead.
    EXPECT_EQ(v.SaveToSocket(pair[0], false, false), 0);
    ::close(pair[0]);
}

} // namespace
