#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <string>

using namespace qarvia::json;
using namespace qarvia::json::test;

namespace {

struct ReadCase {
    const char* text;
    const char* lenient; // compact JSON of the result, or "<none>"
    const char* strict;  // strict mode, partial off
};

TEST(JsonParserTest, ReadsJsonAndItsLenientExtensions) {
    const ReadCase cases[] = {
        {"", "\"\"", "<none>"},
        {"hello", "\"hello\"", "<none>"},
        {"<html><body>Not found</body></html>\r\n  \n", "\"<html><body>Not found<\\/body><\\/html>\"", "<none>"},
        {"12", "12", "12"},
        {"-0", "0", "0"},
        {"1.5", "1.5", "1.5"},
        {"2.", "2.", "2."},
        {"-1.2345", "-1.2345", "-1.2345"},
        {"1.23456", "1.23456", "1.23456"},
        {"1e2", "100", "100"},
        {"-9223372036854775808", "-9223372036854775808", "-9223372036854775808"},
        {"9223372036854775808", "9.22337203685478e+18", "9.22337203685478e+18"},
        {"1e999", "null", "null"},
        {"[1,2,]", "[1,2]", "[1,2]"},
        {"{\"a\":1,}", "{\"a\":1}", "{\"a\":1}"},
        {"[,1]", "[\"\",1]", "<none>"},
        {"[ , ]", "[\"\"]", "<none>"},
        {"{a b : 1}", "{\"a b \":1}", "<none>"},
        {"{\xE4\xB8\xAD: 1}", "{\"\xE4\xB8\xAD\":1}", "{\"\xE4\xB8\xAD\":1}"},
        {"{'x': 'y'}", "{\"x\":\"y\"}", "{\"x\":\"y\"}"},
        {"\"\\u4e2d\\x41\\q\\/\"",
         "\"\xE4\xB8\xAD"
         "Aq\\/\"",
         "\"\xE4\xB8\xAD"
         "Aq\\/\""},
        {"\"a\tb\"", "\"a\tb\"", "\"a\tb\""},
        {"[true1]", "<none>", "<none>"},
        {"trueX", "\"trueX\"", "<none>"},
        {"True", "\"True\"", "<none>"},
        {"[Null, NaN, nul]", "[\"Null\",\"NaN\",\"nul\"]", "<none>"},
        {"[true,false,null]", "[true,false,null]", "[true,false,null]"},
        {"[truex, false_]", "[\"truex\",\"false_\"]", "<none>"},
        {"{\"a\":1} trailing words", "{\"a\":1}", "<none>"},
        {"/* note */ [1] // end", "[1]", "[1]"},
        {"/** note **/ 5", "5", "5"},
        {"/ 5", "<none>", "<none>"},
        {"[1, /* c */ 2]", "[1,2]", "[1,2]"},
        {"\b[1]", "[1]", "[1]"},
        {"{\"a\":1,\"a\":2}", "{\"a\":2}", "{\"a\":2}"},
        {"[1-2, --5, 1.2.3]", "[1,0,12.3]", "[1,0,12.3]"},
        {"[+1]", "[\"+1\"]", "<none>"},
        {"\"abc", "<none>", "<none>"},
        {"[\"abc\"", "<none>", "<none>"},
        {"\"\\u12g4\"", "<none>", "<none>"},
        {"a\\ub", "<none>", "<none>"},
        {"{\"a\" 1}", "<none>", "<none>"},
        {"{\"a\":1 \"b\":2}", "<none>", "<none>"},
        {"{,}", "<none>", "<none>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json(parse(c.text)), c.lenient) << c.text;
        EXPECT_EQ(json(ParseString(u16(c.text), true, false)), c.strict) << c.text;
    }
}

TEST(JsonParserTest, NumbersTakeTheirKind) {
    const std::pair<const char*, TJsonKind> cases[] = {
        {"12", skInteger},
        {"-0", skInteger},
        {"1.5", skCurrency},
        {"1.2345", skCurrency},
        {"1.23456", skDouble},
        {"1e2", skDouble},
        {"-.5", skCurrency},
        {"1E-2", skDouble},
        {"12345678901234567890", skDouble},
        {"1234567890123456.5", skDouble},
    };
    for (const auto& [text, kind] : cases)
        EXPECT_EQ(parse(text).GetKind(), kind) << text;
    EXPECT_EQ(parse("1.5").ToCurrency().Scaled, 15000);
    EXPECT_EQ(parse("-.5").ToCurrency().Scaled, -5000);
    // Too long for 64 bits: the magnitude is kept as a double, infinite beyond its range.
    EXPECT_DOUBLE_EQ(parse(std::string(300, '7')).ToDouble(), 7.7777777777777777e299);
    EXPECT_TRUE(std::isinf(parse(std::string(400, '7')).ToDouble()));
}

// Numbers of the usual shapes are converted while they are read; the result must be the correctly rounded
// double (from_chars is the reference), whatever the digits, the point and the exponent.
TEST(JsonParserTest, DoublesReadAtOnceAreCorrectlyRounded) {
    uint64_t seed = 0x9E3779B97F4A7C15u;
    const auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    // Hard cases first: ties (which go to the even double), quotients just off a tie or an exact value, the
    // longest digit runs each way of reading takes, and coordinates as map data writes them.
    const char* const hard[] = {"9007199254740993.0e0", "9007199254740995e0", "4503599627370496.5e0",
                                "-4503599627370497.5E0", "45035996273704965e-1", "0.30000000000000000",
                                "4503599627370496.5", "9007199254740993.5", "900719925474099.35",
                                "0.9007199254740993", "999999999999999999e-19", "123456789012345.678",
                                "-65.613616999999977", "43.420273000000009", "0.000000000000000001",
                                "1.7976931348623157e308", "2.2250738585072014e-308", "123456789012345678",
                                "1234567890123456.25", "12345678901234567.5", "0.1000000000000000055511151231257827"};
    for (int i = 0; i < 20000; ++i) {
        std::string text = i < int(std::size(hard)) ? hard[i] : "";
        std::string digits = std::to_string(next() % 10);
        const size_t length = 1 + next() % 19;
        while (digits.size() < length)
            digits += char('0' + next() % 10);
        const size_t point = 1 + next() % digits.size();
        if (text.empty()) {
            text = (next() % 2 ? "-" : "") + digits.substr(0, point);
            if (point < digits.size())
                text += "." + digits.substr(point);
            if (next() % 3 == 0)
                text += "e" + std::to_string(int(next() % 51) - 25);
        }
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        // Alone, and with room to read sixteen units before and after the digits at once.
        const std::string padded = "[" + std::string(16, ' ') + text + ", 0, 0, 0, 0, 0, 0]";
        for (const std::string& json : {"[" + text + "]", padded}) {
            const IJsonValue v = parse(json).ToArray()->ItemAt(0);
            if (v.GetKind() == skDouble) {
                ASSERT_EQ(v.ToDouble(), expected) << text;
            }
        }
    }
}

TEST(JsonParserTest, ReportsEachErrorCode) {
    const std::pair<const char*, TJsonParseError> cases[] = {
        {"[1 2]", peArray},
        {"[\"a\":5]", peArray},
        {"{,}", peMemberName},
        {"{\"a\" 1}", peMemberColon},
        {"{\"a\":1 \"b\"}", peMemberSep},
        {"\"\\x4g\"", peString},
        {"/x", peComment},
        {"\"abc", peEndOfText},
        {"[1", peArray},
        {"[\"a", peEndOfText},
        {"{\"a\":1,\"b", peEndOfText},
        {"12", peNone},
        {"{1:2}", peNone},
    };
    for (const auto& [text, error] : cases) {
        TJsonTokenizer t;
        const std::u16string s = u16(text);
        const IJsonValue v = ParseWithTokenizer(t, s, -1, false);
        EXPECT_EQ(t.Error(), error) << text;
        EXPECT_EQ(bool(v), error == peNone) << text;
    }
    TJsonTokenizer strict;
    ParseWithTokenizer(strict, u"{1:2}", -1, true);
    EXPECT_EQ(strict.Error(), peMemberName);
}

// Mended fault: a text ending inside a comment after an element gave that element as the document.
TEST(JsonParserTest, TextEndingInsideACommentGivesNoElementAsTheDocument) {
    const struct {
        const char* text;
        const char* partial; // both modes, partial on
        const char* whole;   // both modes, partial off
    } cases[] = {
        {"/* open", "<none>", "<none>"},
        {"// open", "<none>", "<none>"},
        {"1 /* open", "1", "<none>"},
        {"[1] /* open **", "[1]", "<none>"},
        {"[1] // to the end", "[1]", "[1]"},
        {"[ /* open", "<none>", "<none>"},
        {"[1 /* open", "<none>", "<none>"},
        {"[1 // x", "<none>", "<none>"},
        {"[1,2 // x", "<none>", "<none>"},
        {"[1, /* open", "<none>", "<none>"},
        {"{ /* open", "<none>", "<none>"},
        {"{\"a\" // x", "<none>", "<none>"},
        {"{\"a\": /* open", "<none>", "<none>"},
        {"{\"a\":1 // x", "<none>", "<none>"},
        {"{\"a\":[1,{\"b\":2} /* open", "<none>", "<none>"},
        {"[[[\"x\" // x", "<none>", "<none>"},
    };
    for (const auto& c : cases) {
        const std::u16string text = u16(c.text);
        for (const bool strict : {false, true}) {
            EXPECT_EQ(json(ParseString(text, strict, true)), c.partial) << c.text << " strict " << strict;
            EXPECT_EQ(json(ParseString(text, strict, false)), c.whole) << c.text << " strict " << strict;
        }
        TJsonTokenizer t;
        ParseWithTokenizer(t, text, -1, false);
        EXPECT_EQ(t.Error(), std::string(c.partial) == "<none>" ? peEndOfText : peNone) << c.text;
    }
}

TEST(JsonParserTest, NestingStopsAtThirtyOneLevelsWithoutRecursion) {
    const auto nested = [](int depth, const std::string& inner) {
        return std::string(size_t(depth), '[') + inner + std::string(size_t(depth), ']');
    };
    // 31 arrays with a number in the innermost: the number sits at level 31.
    EXPECT_EQ(json(parse(nested(31, "1"))), nested(31, "1"));
    EXPECT_EQ(json(parse(nested(32, ""))), nested(32, ""));
    TJsonTokenizer t;
    const std::u16string deep = u16(nested(32, "1"));
    EXPECT_FALSE(ParseWithTokenizer(t, deep, -1, false));
    EXPECT_EQ(t.Error(), peTooDeep);

    const std::u16string brackets(100000, u'[');
    TJsonTokenizer t2;
    EXPECT_FALSE(ParseWithTokenizer(t2, brackets, -1, false));
    EXPECT_EQ(t2.Error(), peTooDeep);
    std::u16string objects;
    for (int i = 0; i < 100000; ++i)
        objects += u"{\"a\":";
    EXPECT_FALSE(ParseText(objects));
}

TEST(JsonParserTest, LongTextsParse) {
    std::u16string big = u"[\"";
    big.append(size_t(8) << 20, u'x');
    big += u"\", 1]";
    const IJsonValue v = ParseText(big);
    ASSERT_TRUE(v);
    EXPECT_EQ(v.ToArray()->ItemAt(0).ToText().size(), size_t(8) << 20);

    std::u16string escaped = u"\"";
    for (int i = 0; i < 200000; ++i)
        escaped += u"\\n\\u0041";
    escaped += u"\"";
    EXPECT_EQ(ParseText(escaped).ToText().size(), 400000u);
}

TEST(JsonParserTest, TextFedInPiecesGivesTheSameTree) {
    // Pieces of one unit take every token unit by unit; the whole text takes the runs read at once.
    const std::u16string text = u"{\"name\": \"\u4E2D\u6587 text\", 'list': [1, 2.5, 1.23456e3, true, null, "
                                u"/* c */ {\"x\": \"\\u0041\\x42\"}], bare: word,\n\t\"k\" :[[-0.5e-3,false],"
                                u"[1e22, 12345678901234567, 4.50, nullx,null],{}, [] ,{\"a\":{\"b\":[true]}}]}";
    TJsonTokenizer wholeRun;
    const std::string whole = json(ParseWithTokenizer(wholeRun, text, -1, false));
    EXPECT_EQ(whole, json(ParseText(text)));
    for (size_t piece : {1, 2, 3, 7, 16}) {
        TJsonTokenizer t;
        IJsonValue result;
        for (size_t at = 0; at < text.size(); at += piece) {
            const size_t n = std::min(piece, text.size() - at);
            // Each piece in a buffer of its own, spoiled once read: nothing may be kept pointing into it.
            std::u16string buffer = text.substr(at, n);
            result = ParseWithTokenizer(t, buffer, int64_t(n), false);
            buffer.assign(n, u'#');
            // Only the piece holding the closing brace completes the value.
            ASSERT_EQ(t.Error(), at + n < text.size() ? peMoreInput : peNone) << "piece " << piece << " at " << at;
        }
        result = ParseWithTokenizer(t, u"", -1, false);
        EXPECT_EQ(t.Error(), peNone);
        EXPECT_EQ(json(result), whole) << "piece " << piece;
        EXPECT_EQ(t.Line(), wholeRun.Line());
        EXPECT_EQ(t.Column(), wholeRun.Column());
    }
}

TEST(JsonParserTest, CountsLinesAndColumns) {
    TJsonTokenizer t;
    ParseWithTokenizer(t, u"{\n\t\"a\": [1,\n  2]}", -1, false);
    EXPECT_EQ(t.Line(), 3);
    EXPECT_EQ(t.Column(), 6); // two blanks, '2', ']', '}' and the terminating zero that ends the run
    EXPECT_EQ(t.Offset(), 17);
}

TEST(JsonParserTest, PartialStopsAtTheFirstUnreadUnit) {
    TJsonTokenizer t;
    const IJsonValue v = ParseWithTokenizer(t, u"[1] [2]", -1, false);
    EXPECT_EQ(json(v), "[1]");
    EXPECT_EQ(t.Offset(), 4);
    // A zero unit ends the text.
    EXPECT_EQ(json(ParseString(std::u16string(u"[1]\0garbage", 11), true, false)), "[1]");
}

TEST(JsonParserTest, SpecialUnitsAreFoundAtEveryPositionOfAString) {
    // Quoted text is scanned in blocks; a tab, an escape or the closing quote may fall anywhere in a block.
    for (size_t length = 0; length < 20; ++length) {
        for (size_t at = 0; at <= length; ++at) {
            std::u16string plain(length, u'a');
            std::u16string tab = plain, escaped = plain;
            tab.insert(at, 1, u'\t');
            escaped.insert(at, u"\\n");
            std::u16string expectedEscaped = plain;
            expectedEscaped.insert(at, 1, u'\n');
            EXPECT_EQ(ParseText(u"\"" + plain + u"\"").ToText(), plain);
            EXPECT_EQ(ParseText(u"'" + tab + u"'").ToText(), tab);
            EXPECT_EQ(ParseText(u"\"" + escaped + u"\" tail").ToText(), expectedEscaped);
        }
    }
}

} // namespace
