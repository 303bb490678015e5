#include "JsonTestUtil.h"

#include "json/JsonValidate.h"

#include <gtest/gtest.h>

#include <string>

using namespace qarvia::json;
using namespace qarvia::json::test;

namespace {

// Failures as "code@path" joined by spaces.
std::string failures(const char* value, const char* rules, const char* defs = "{}") {
    std::string out;
    const bool ok = parse(value).ValidateText(
        u16(rules), u16(defs),
        [&out](void* sender, TJsonValidateError code, const std::u16string& path) {
            EXPECT_EQ(sender, &out);
            out += (out.empty() ? "" : " ") + std::to_string(int(code)) + "@" + u8(path);
        },
        &out);
    EXPECT_EQ(ok, out.empty()) << value << " " << rules;
    return out;
}

TEST(JsonValidateTest, EachRuleChecksWhatItsNameSays) {
    const char* const Role = R"({"type": "map", "mapping": {
        "id": {"type": "int", "required": true, "range": {"min": 1, "maxex": 1000}},
        "name": {"type": "str", "required": true, "length": {"min": 1, "max": 4}},
        "school": {"enum": ["sky", "earth"]},
        "score": {"type": "number"},
        "tags": {"type": "seq", "sequence": [{"type": "str"}], "unique": true}}})";
    const struct {
        const char* value;
        const char* rules;
        const char* expected;
    } cases[] = {
        {R"({"id": 7, "name": "ab", "school": "sky", "score": 1.5, "tags": ["a", "b"]})", Role, ""},
        {R"({"id": 0, "name": "abcde"})", Role, "4@id 5@name"},
        {R"({"id": 1000, "name": ""})", Role, "4@id 5@name"},
        {R"({"name": "a", "school": "sea"})", Role, "2@id 3@school"},
        {R"({"id": "7", "name": 5, "score": "x"})", Role, "1@id 1@name 1@score"},
        {R"({"id": 1, "name": "a", "tags": ["a", 1, "a"]})", Role, "1@tags[1] 6@tags[2]"},
        {R"({"id": 1, "name": "a", "school": null})", Role, ""},
        {R"([1, 2])", Role, "1@"},
        {"[1,2,3]", R"({"length": {"minex": 3}})", "5@"},
        {"[]", R"({"type": "seq", "required": true})", ""},
        {"null", R"({"required": true})", "2@"},
        {"\"m\"", R"({"type": "text", "range": {"min": "a", "max": "k"}})", "4@"},
        {"2.5", R"({"type": "float", "range": {"min": 2.5, "maxex": 3}})", ""},
        {"2.5", R"({"type": "int"})", "1@"},
        {"true", R"({"type": "scalar"})", ""},
        {"{}", R"({"type": "scalar"})", "1@"},
        {"{}", R"({"type": "any"})", ""},
        {"true", R"({"type": "bool", "enum": [true]})", ""},
        {"1", R"({"type": "whole"})", "7@"},
        {"[[1,2],[1,2]]", R"({"sequence": [{"sequence": [{"type": "int"}]}], "unique": true})", "6@[1]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failures(c.value, c.rules), c.expected) << c.value << " against " << c.rules;
}

TEST(JsonValidateTest, RulesInheritFromTheDefinitions) {
    const char* const Defs = R"({"id": {"type": "int", "range": {"min": 1}},
        "named": {"inherit": "id", "required": true}, "loop": {"inherit": "loop"}})";
    EXPECT_EQ(failures("{\"a\": 0}", R"({"mapping": {"a": {"inherit": "named"}, "b": {"inherit": "named"}}})", Defs),
              "4@a 2@b");
    EXPECT_EQ(failures("5", R"({"inherit": "id", "range": {"max": 4}})", Defs), "4@");
    EXPECT_EQ(failures("5", R"({"inherit": "nothing"})", Defs), "7@");
    EXPECT_EQ(failures("5", R"({"inherit": "loop"})", Defs), "7@");
    const char* const ListDefs = R"([{"name": "small", "range": {"max": 3}}])";
    EXPECT_EQ(failures("[1, 5]", R"({"sequence": [{"inherit": "small"}]})", ListDefs), "4@[1]");
}

TEST(JsonValidateTest, CyclesAreCheckedOnce) {
    const IJsonValue v = parse("{\"a\": 1}");
    v.SetValueAt(u"self", v);
    int calls = 0;
    const bool ok = v.ValidateText(u"{\"mapping\": {\"self\": {\"mapping\": {\"a\": {\"type\": \"str\"}}}}}", u"{}",
                                   [&calls](void*, TJsonValidateError, const std::u16string&) { ++calls; });
    EXPECT_TRUE(ok);
    EXPECT_EQ(calls, 0);
    v.Remove(u"self");
}

} // namespace
