#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <string>

using namespace qarvia::json;
using namespace qarvia::json::test;

namespace {

const char* const Ranking = R"({"result": {"total_count": 23, "name": "x", "roles": [{"id": 7}, {"id": 8}, {"id": 9}],
    "null": 5, "2x": "digit name", "s": "text", "n": null}})";

TEST(JsonPathTest, ReadsWhatThePathNames) {
    const IJsonValue doc = parse(Ranking);
    const std::pair<const char*, const char*> cases[] = {
        {"result.total_count", "23"},
        {"result.roles[2]", "{\"id\":9}"},
        {"result.roles[2].id", "9"},
        {"result.roles[ 0 ].id", "7"},
        {"result.roles[]", "{\"id\":9}"},
        {"result.roles[3]", "<none>"},
        {"result.roles[-1]", "<none>"},
        {"result.roles[\"1\"]", "<none>"},
        {"result.missing", "<none>"},
        {"result.missing.deeper", "<none>"},
        {"result.s.x", "<none>"},
        {"result.total_count.x", "<none>"},
        {"result.name[0]", "<none>"},
        {"result.n", "null"},
        {"result.2x", "\"digit name\""},
        {"null", "null"},
        {"true", "true"},
        {"[1, 2]", "[1,2]"},
        {"'literal'", "\"literal\""},
        {"result.total_count trailing", "23"},
        {"", "<none>"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(json(doc.ValueAt(u16(path))), expected) << path;

    const IJsonValue result = doc.ValueAt(u"result");
    EXPECT_EQ(json(result.ValueAt(u"2x")), "\"digit name\"");
    EXPECT_EQ(json(doc.ValueAt(u"result.roles").ValueAt(u"1.id")), "8");
}

TEST(JsonPathTest, TypedReadersConvertOrGiveEmpty) {
    const IJsonValue doc = parse(Ranking);
    EXPECT_EQ(doc.ValueAt(u"result.total_count").ToText(), u"23");
    EXPECT_EQ(doc.TextAt(u"result.total_count"), u"23");
    EXPECT_EQ(doc.TextAt(u"result.name"), u"x");
    EXPECT_EQ(doc.TextAt(u"result.nothing"), u"");
    EXPECT_EQ(doc.IntegerAt(u"result.total_count"), 23);
    EXPECT_EQ(doc.IntegerAt(u"result.nothing"), 0);
    EXPECT_TRUE(doc.BooleanAt(u"result.name"));
    EXPECT_FALSE(doc.BooleanAt(u"result.nothing"));
    EXPECT_DOUBLE_EQ(doc.DoubleAt(u"result.total_count"), 23.0);
    EXPECT_EQ(doc.CurrencyAt(u"result.total_count").Scaled, 230000);
    EXPECT_EQ(doc.ValueOrNullAt(u"result.nothing").GetKind(), skNull);
    EXPECT_TRUE(doc.ValueOrNullAt(u"result.nothing"));

    TJsonArray* roles = doc.ArrayAt(u"result.roles");
    ASSERT_NE(roles, nullptr);
    ASSERT_EQ(roles->ItemCount(), 3);
    EXPECT_EQ(roles->ItemAt(1).TextAt(u"id"), u"8");
    EXPECT_EQ(doc.ArrayAt(u"result.name"), nullptr);
    EXPECT_EQ(IJsonValue().ValueAt(u"a"), IJsonValue());
    EXPECT_EQ(IJsonValue().TextAt(u"a"), u"");
}

TEST(JsonPathTest, WritesCreateAppendReplaceAndRemove) {
    const IJsonValue doc = TJsonValue::FromKind(skObject);
    doc.SetIntegerAt(u"a.b.c", 1);
    doc.SetTextAt(u"list[]", u"first");
    doc.SetBooleanAt(u"list[]", true);
    doc.SetDoubleAt(u"d", 0.25);
    doc.SetCurrencyAt(u"m", {15000});
    doc.SetValueAt(u"a.b.c", TJsonValue::FromInteger(2)); // replaces
    doc.SetValueOrNullAt(u"z", {});
    doc.SetIntegerAt(u"list[0]", 5);
    doc.SetIntegerAt(u"grid[1][0]", 3);
    EXPECT_EQ(json(doc), R"({"a":{"b":{"c":2}},"d":0.25,"grid":[null,[3]],"list":[5,true],"m":1.5,"z":null})");

    EXPECT_EQ(json(doc.EnsurePath(u"e.f", skArray)), "[]");
    EXPECT_EQ(json(doc.EnsurePath(u"a.b", skArray)), "{\"c\":2}");
    EXPECT_EQ(doc.ValueAt(u"e.f").GetKind(), skArray);

    EXPECT_EQ(json(doc.Remove(u"a.b.c")), "2");
    EXPECT_EQ(json(doc.ValueAt(u"a.b.c")), "<none>");
    EXPECT_EQ(json(doc.Remove(u"list[0]")), "5");
    EXPECT_EQ(json(doc.Remove(u"list[7]")), "<none>");
    EXPECT_EQ(json(doc.ValueAt(u"list")), "[true]");
    EXPECT_EQ(json(doc.Remove(u"nothing")), "<none>");

    // A failing write leaves what it had made, reports nothing and stores nothing further.
    doc.SetIntegerAt(u"d.x", 1);
    EXPECT_EQ(json(doc.ValueAt(u"d")), "0.25");
    doc.SetIntegerAt(u"list[-1]", 1);
    EXPECT_EQ(json(doc.ValueAt(u"list")), "[true]");
}

TEST(JsonPathTest, MethodsAreCalledThroughPaths) {
    const IJsonValue doc = TJsonValue::FromKind(skObject);
    doc.SetIntegerAt(u"base", 10);
    doc.SetMethodAt(u"add", [](const IJsonValue& self, const IJsonValue& param, IJsonValue& result) {
        int64_t sum = self.IntegerAt(u"base");
        if (TJsonArray* args = param.ToArray())
            for (int32_t i = 0; i < args->ItemCount(); ++i)
                sum += args->ItemAt(i).ToInteger();
        else
            sum += param.ToInteger();
        result = TJsonValue::FromInteger(sum);
    });
    EXPECT_TRUE(doc.MethodAt(u"add"));
    EXPECT_FALSE(doc.MethodAt(u"base"));
    EXPECT_EQ(json(doc.Invoke(u"add", TJsonValue::FromInteger(5))), "15");
    EXPECT_EQ(json(doc.InvokeText(u"add", u"[1,2,3]")), "16");
    EXPECT_EQ(json(doc.ValueAt(u"add(1, 2)")), "13");
    EXPECT_EQ(json(doc.ValueAt(u"add(7)")), "17");
    EXPECT_EQ(json(doc.ValueAt(u"add()")), "10");
    EXPECT_EQ(json(doc.ValueAt(u"base(1)")), "<none>");
    EXPECT_EQ(json(doc.ValueAt(u"add(1 2)")), "<none>");
    // Method values are not written.
    EXPECT_EQ(json(doc), "{\"base\":10}");
}

TEST(JsonPathTest, SubstituteFillsTemplates) {
    const IJsonValue doc = parse(Ranking);
    const std::pair<const char*, const char*> cases[] = {
        {"count {result.total_count}, first {result.roles[0].id}", "count 23, first 7"},
        {"{result.missing}|", "|"},
        {"no marks", "no marks"},
        {"cut {result.name", "cut "},
        {"{result.name}{result.name}", "xx"},
    };
    for (const auto& [templ, expected] : cases)
        EXPECT_EQ(u8(doc.Substitute(u16(templ), u'{', u'}')), expected) << templ;
}

TEST(JsonPathTest, FailuresCarryTheirCodes) {
    const IJsonValue doc = parse(Ranking).ValueAt(u"result");
    const std::pair<const char*, TJsonParseError> cases[] = {
        {"s.x", pePathObject},         {"missing.x", pePathObject},
        {"s[0]", pePathArray},         {"roles[-1]", pePathIndex},
        {"roles[\"a\"]", pePathIndex}, {"roles[0", pePathArray},
        {"name(1)", pePathMethod},     {"total_count", peNone},
        {"roles[9]", peNone},          {"s", peNone},
    };
    for (const auto& [path, error] : cases) {
        TJsonTokenizer t;
        ParseWithTokenizer(t, u16(path), -1, false, doc);
        EXPECT_EQ(t.Error(), error) << path;
    }
}

} // namespace
