#include "JsonTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

using namespace qarvia::json;
using namespace qarvia::json::test;

namespace {

// Height of an AVL subtree, checking order and balance on the way; -1000 marks a broken invariant.
int checkedHeight(const TJsonAvlEntry* n, std::u16string_view low, std::u16string_view high, bool hasLow,
                  bool hasHigh) {
    if (!n)
        return 0;
    if ((hasLow && CompareOrdinal(n->Name(), low) <= 0) || (hasHigh && CompareOrdinal(n->Name(), high) >= 0))
        return -1000;
    const int l = checkedHeight(n->Less, low, n->Name(), hasLow, true);
    const int r = checkedHeight(n->Greater, n->Name(), high, true, hasHigh);
    if (l < 0 || r < 0 || r - l != n->Balance || std::abs(r - l) > 1)
        return -1000;
    return 1 + std::max(l, r);
}

TEST(JsonValueTest, ReferenceCountsDecideLifetime) {
    IJsonValue a = TJsonValue::FromInteger(1);
    TJsonValue* raw = a.Get();
    EXPECT_EQ(raw->GetRefCount(), 1);
    {
        IJsonValue b = a;
        EXPECT_EQ(raw->GetRefCount(), 2);
        const IJsonValue doc = parse("[0]");
        doc.ToArray()->Append(a);
        EXPECT_EQ(raw->GetRefCount(), 3);
    }
    EXPECT_EQ(raw->GetRefCount(), 1);
    // Destroying a value that is still held is refused and leaves it intact.
    try {
        TJsonValue::Destroy(raw);
        FAIL() << "no exception";
    } catch (const EJsonInvalidPointer& e) {
        EXPECT_STREQ(e.what(), "Invalid pointer");
    }
    EXPECT_EQ(a.ToInteger(), 1);
    TJsonValue* loose = a.Detach();
    loose->RefCount.store(0);
    TJsonValue::Destroy(loose); // freed: the leak checker sees nothing left behind
}

// Freeing a document must leave alone whatever is still held elsewhere: items, members and strings taken out
// of it, and a value shared with another document; arrays keep their order as they outgrow their first slots.
TEST(JsonValueTest, PartsOfADocumentOutliveIt) {
    IJsonValue doc = parse("[1, \"text\", {\"a\": \"b\", \"n\": 2.5}, [2, 3]]");
    const IJsonValue number = doc.ToArray()->ItemAt(0);
    const IJsonValue text = doc.ToArray()->ItemAt(1);
    const IJsonValue member = doc.ToArray()->ItemAt(2).ValueAt(u"a");
    const IJsonValue other = parse("[]");
    other.ToArray()->Append(doc.ToArray()->ItemAt(3));
    for (int i = 4; i <= 6; ++i)
        other.ToArray()->ItemAt(0).ToArray()->Append(TJsonValue::FromInteger(i));
    EXPECT_EQ(other.ToArray()->ItemAt(0).ToArray()->RemoveAt(0).ToInteger(), 2);
    doc.Reset();
    EXPECT_EQ(number.ToInteger(), 1);
    EXPECT_EQ(text.ToText(), u"text");
    EXPECT_EQ(member.ToText(), u"b");
    EXPECT_EQ(json(other), "[[3,4,5,6]]");
}

TEST(JsonValueTest, MembersStayOrderedAndBalanced) {
    const IJsonValue obj = TJsonValue::FromKind(skObject);
    TJsonMemberTable* t = obj.ToObject();
    std::map<std::u16string, int64_t> model;
    std::mt19937 rng(7);
    for (int step = 0; step < 4000; ++step) {
        std::u16string name = u"k";
        name.push_back(char16_t(u'A' + rng() % 60));
        name.push_back(char16_t(u'a' + rng() % 20));
        if (rng() % 3 == 0) {
            const IJsonValue removed = t->Extract(name);
            const auto it = model.find(name);
            EXPECT_EQ(bool(removed), it != model.end());
            if (it != model.end()) {
                EXPECT_EQ(removed.ToInteger(), it->second);
                model.erase(it);
            }
        } else {
            t->Store(name, TJsonValue::FromInteger(step));
            model[name] = step;
        }
        ASSERT_EQ(t->MemberCount(), int32_t(model.size()));
        ASSERT_GE(checkedHeight(t->Root(), {}, {}, false, false), 0) << "step " << step;
    }
    // The walk sees ascending ordinal order.
    TJsonMemberIter it;
    auto expected = model.begin();
    for (bool more = FirstMember(obj, it); more; more = NextMember(it), ++expected) {
        ASSERT_NE(expected, model.end());
        EXPECT_EQ(it.Key, expected->first);
        EXPECT_EQ(it.Val.ToInteger(), expected->second);
    }
    CloseMembers(it);
    EXPECT_EQ(expected, model.end());

    // Ordinal: "B" before "a", "a" before "aa"; replacing keeps the count.
    const IJsonValue small = parse("{\"aa\":1,\"a\":2,\"B\":3}");
    small.SetIntegerAt(u"a", 9);
    EXPECT_EQ(json(small), "{\"B\":3,\"a\":9,\"aa\":1}");
    EXPECT_EQ(small.ToObject()->MemberCount(), 3);
    EXPECT_EQ(t->Find(u"kA", frGreater)->Name().substr(0, 2), u"kA");
    EXPECT_FALSE(FirstMember(parse("[1]"), it));
    CloseMembers(it);
}

// Names are compared several units at a time; the order must stay the unit-by-unit one, where a zero unit
// ends a text wherever it falls.
TEST(JsonValueTest, OrdinalComparisonOfNames) {
    using namespace std::string_view_literals;
    const std::tuple<std::u16string_view, std::u16string_view, int> cases[] = {
        {u"abcdefgh"sv, u"abcdefgh"sv, 0},     {u"abcdefgh"sv, u"abcdefgi"sv, -1}, {u"abcdefg"sv, u"abcdefgh"sv, -1},
        {u"abcd\0xyz"sv, u"abcd\0xzz"sv, 0}, {u"ab\0d"sv, u"ab\0e"sv, 0},         {u"abcd"sv, u"abcd\0"sv, 0},
        {u"Babcdefg"sv, u"aabcdefg"sv, -1},   {u"abcd\uFFFF"sv, u"abcd\u0100"sv, 1}, {u""sv, u"a"sv, -1},
        {u"ab\0dxyz"sv, u"abcdxyz"sv, -1},    {u"a\u8000cd"sv, u"a\u8000ce"sv, -1},  {u"a\u8000\0d"sv, u"a\u8000\0e"sv, 0},
    };
    for (const auto& [a, b, sign] : cases) {
        const int c = CompareOrdinal(a, b);
        EXPECT_EQ((c > 0) - (c < 0), sign) << u8(a) << " / " << u8(b);
        EXPECT_EQ((CompareOrdinal(b, a) > 0) - (CompareOrdinal(b, a) < 0), -sign);
    }
}

TEST(JsonValueTest, ArraysAreSparseAndGrowByDoubling) {
    TJsonArray a;
    EXPECT_EQ(a.Capacity(), 32);
    a.SetItemAt(40, TJsonValue::FromInteger(1));
    EXPECT_EQ(a.ItemCount(), 41);
    EXPECT_EQ(a.Capacity(), 64);
    EXPECT_FALSE(a.ItemAt(39));
    EXPECT_FALSE(a.ItemAt(41));
    EXPECT_FALSE(a.ItemAt(-1));
    a.SetItemAt(200, TJsonValue::FromInteger(2));
    EXPECT_EQ(a.Capacity(), 201);
    EXPECT_EQ(a.Append(TJsonValue::FromInteger(3)), 201);
    a.SetItemAt(-5, TJsonValue::FromInteger(9));
    EXPECT_EQ(a.RemoveAt(40).ToInteger(), 1);
    EXPECT_EQ(a.ItemCount(), 201);
    EXPECT_EQ(a.ItemAt(199).ToInteger(), 2);
    a.Compact(false);
    EXPECT_EQ(a.ItemCount(), 2);
    EXPECT_EQ(a.ItemAt(1).ToInteger(), 3);
    a.Empty(false);
    EXPECT_EQ(a.ItemCount(), 0);
    EXPECT_EQ(a.Capacity(), 402);
    EXPECT_FALSE(a.RemoveAt(0));
}

TEST(JsonValueTest, ConversionTable) {
    struct Row {
        IJsonValue v;
        bool b;
        int64_t i;
        double d;
        int64_t c;
        const char* text;
    };
    const Row rows[] = {
        {TJsonValue::FromKind(skNull), false, 0, 0, 0, "null"},
        {TJsonValue::FromBoolean(true), true, 1, 1, 10000, "true"},
        {TJsonValue::FromDouble(2.5), true, 2, 2.5, 25000, "2.5"},
        {TJsonValue::FromDouble(3.5), true, 4, 3.5, 35000, "3.5"},
        {TJsonValue::FromDouble(-2.5), true, -2, -2.5, -25000, "-2.5"},
        {TJsonValue::FromDouble(1.23456), true, 1, 1.23456, 12346, "1.23456"},
        {TJsonValue::FromDouble(1e300), true, INT64_MAX, 1e300, INT64_MAX, "1e+300"},
        {TJsonValue::FromCurrency({25000}), true, 2, 2.5, 25000, "2.5"},
        {TJsonValue::FromCurrency({35000}), true, 4, 3.5, 35000, "3.5"},
        {TJsonValue::FromCurrency({-15000}), true, -2, -1.5, -15000, "-1.5"},
        {TJsonValue::FromInteger(7), true, 7, 7, 70000, "7"},
        {TJsonValue::FromInteger(INT64_MAX), true, INT64_MAX, 9.223372036854775807e18, INT64_MAX,
         "9223372036854775807"},
        {parse("{}"), true, 0, 0, 0, "{}"},
        {parse("[1]"), true, 0, 0, 0, "[1]"},
        {TJsonValue::FromText(u"false"), true, 0, 0, 0, "false"},
        {TJsonValue::FromText(u"0"), true, 0, 0, 0, "0"},
        {TJsonValue::FromText(u""), false, 0, 0, 0, ""},
        {TJsonValue::FromText(u"12x"), true, 0, 0, 0, "12x"},
        {TJsonValue::FromText(u"  -12"), true, -12, -12, -120000, "  -12"},
        {TJsonValue::FromText(u"$1F"), true, 31, 0, 0, "$1F"},
        {TJsonValue::FromText(u"0x10"), true, 16, 0, 0, "0x10"},
        {TJsonValue::FromText(u"-x10"), true, -16, 0, 0, "-x10"},
        {TJsonValue::FromText(u"1.5e1"), true, 0, 15, 150000, "1.5e1"},
        {TJsonValue::FromText(u".25"), true, 0, 0.25, 2500, ".25"},
        {TJsonValue::FromText(u"99999999999999999999"), true, 0, 1e20, INT64_MAX, "99999999999999999999"},
        {TJsonValue::FromMethod({}), true, 0, 0, 0, ""},
    };
    for (const auto& r : rows) {
        const std::string name = json(r.v);
        EXPECT_EQ(r.v.ToBoolean(), r.b) << name;
        EXPECT_EQ(r.v.ToInteger(), r.i) << name;
        EXPECT_DOUBLE_EQ(r.v.ToDouble(), r.d) << name;
        EXPECT_EQ(r.v.ToCurrency().Scaled, r.c) << name;
        EXPECT_EQ(u8(r.v.ToText()), r.text) << name;
    }
    const IJsonValue empty;
    EXPECT_FALSE(empty.ToBoolean());
    EXPECT_EQ(empty.ToText(), u"");
    EXPECT_EQ(KindOf(empty), skNull);
    EXPECT_TRUE(IsKind(empty, skNull));
    EXPECT_FALSE(empty.HasKind(skNull));
    EXPECT_EQ(parse("[1]").ToObject(), nullptr);
    EXPECT_FALSE(parse("1").ToMethod());
}

TEST(JsonValueTest, CopyMergeAndCompare) {
    const IJsonValue doc = parse("{\"a\":[1,{\"b\":null}],\"s\":\"x\",\"n\":null}");
    const IJsonValue copy = doc.Copy();
    EXPECT_EQ(json(copy), json(doc));
    EXPECT_NE(copy.ValueAt(u"a").Get(), doc.ValueAt(u"a").Get());
    EXPECT_FALSE(TJsonValue::FromKind(skNull).Copy());
    EXPECT_FALSE(copy.ValueAt(u"n")); // a null member copies to an empty member...
    EXPECT_EQ(json(copy), "{\"a\":[1,{\"b\":null}],\"n\":null,\"s\":\"x\"}"); // ...written as null

    const IJsonValue target = parse("{\"a\":[5,{\"c\":1},7],\"s\":\"y\",\"k\":1}");
    target.MergeText(u"{\"a\":[9,{\"b\":2}],\"s\":\"z\",\"k\":\"text\",\"new\":[1]}");
    EXPECT_EQ(json(target), "{\"a\":[9,{\"b\":2,\"c\":1},7],\"k\":\"text\",\"new\":[1],\"s\":\"z\"}");
    const IJsonValue src = parse("{\"o\":{\"x\":1}}");
    const IJsonValue byRef = parse("{}");
    byRef.MergeValue(src, true);
    EXPECT_EQ(byRef.ValueAt(u"o").Get(), src.ValueAt(u"o").Get());
    const IJsonValue byCopy = parse("{}");
    byCopy.MergeValue(src, false);
    EXPECT_NE(byCopy.ValueAt(u"o").Get(), src.ValueAt(u"o").Get());
    const IJsonValue number = TJsonValue::FromInteger(1);
    number.MergeValue(TJsonValue::FromText(u"5"), true); // kinds differ: nothing
    EXPECT_EQ(number.ToInteger(), 1);

    const struct {
        const char* a;
        const char* b;
        TJsonCompareResult r;
    } compares[] = {
        {"2", "'10'", crGreater},
        {"2", "10", crLess},
        {"1.5", "1.5", crEqual},
        {"true", "1", crEqual},
        {"1.5", "2", crLess},
        {"'b'", "'a'", crGreater},
        {"'a'", "'a'", crEqual},
        {"null", "null", crNotComparable},
        {"[1]", "[1]", crNotComparable},
        {"'1'", "{}", crNotComparable},
        {"9223372036854775807", "9223372036854775806", crGreater},
        {"1e999", "1e999", crEqual},
    };
    for (const auto& c : compares)
        EXPECT_EQ(parse(c.a).CompareText(u16(c.b)), c.r) << c.a << " vs " << c.b;
    EXPECT_EQ(IJsonValue().CompareValue(parse("1")), crNotComparable);
}

TEST(JsonValueTest, EmptyCompactAndBusy) {
    const IJsonValue doc = parse("{\"a\":[1,2],\"s\":\"x\",\"i\":5,\"b\":true,\"d\":1.23456,\"o\":{\"p\":1}}");
    const IJsonValue inner = doc.ValueAt(u"o");
    doc.Empty(false);
    EXPECT_EQ(json(doc), "{}");
    EXPECT_EQ(doc.GetKind(), skObject);
    EXPECT_EQ(json(inner), "{\"p\":1}"); // held elsewhere: only released

    const IJsonValue deep = parse("{\"a\":{\"b\":[1,\"x\"]}}");
    const IJsonValue b = deep.ValueAt(u"a.b");
    deep.Empty(true);
    EXPECT_EQ(json(b), "[]"); // emptied before release

    const IJsonValue scalars = parse("[true, 2, 1.5, 1.23456, \"t\"]");
    for (int32_t i = 0; i < 5; ++i)
        scalars.ToArray()->ItemAt(i).Empty();
    EXPECT_EQ(json(scalars), "[false,0,0,0,\"\"]");

    const IJsonValue holes = parse("[1]");
    holes.ToArray()->SetItemAt(3, parse("[null]"));
    holes.ToArray()->ItemAt(3).ToArray()->SetItemAt(2, TJsonValue::FromInteger(4));
    holes.ToObject();
    const IJsonValue obj = parse("{}");
    obj.ToObject()->Store(u"gone", {});
    obj.ToObject()->Store(u"kept", holes);
    obj.Compact(true);
    EXPECT_EQ(json(obj), "{\"kept\":[1,[null,4]]}");

    // A busy value is left alone.
    const IJsonValue busy = parse("[1]");
    busy.SetBusy(true);
    busy.Empty();
    EXPECT_EQ(busy.ToArray()->ItemCount(), 1);
    EXPECT_EQ(json(busy), "null");
    busy.SetBusy(false);

    int tag = 0;
    busy.SetUserData(&tag);
    EXPECT_EQ(busy.GetUserData(), &tag);
    EXPECT_EQ(busy.Copy().GetUserData(), nullptr);
}

TEST(JsonValueTest, EnumeratorWalksMembersAndItems) {
    std::string seen;
    TJsonEnumerator e = parse("{\"b\":2,\"a\":1}").Enumerate();
    EXPECT_EQ(e.Position(), -1);
    while (e.MoveNext())
        seen += u8(e.Name()) + "=" + json(e.Current()) + ";";
    TJsonEnumerator items = parse("[3,4]").Enumerate();
    while (items.MoveNext())
        seen += json(items.Current()) + ";";
    TJsonEnumerator none = parse("5").Enumerate();
    EXPECT_FALSE(none.MoveNext());
    EXPECT_EQ(seen, "a=1;b=2;3;4;");
}

TEST(JsonValueTest, ReferencesMayBeDroppedOnAnotherThread) {
    // Documents made on one thread, shared and released on two others while the first goes on parsing.
    std::vector<IJsonValue> docs;
    for (int i = 0; i < 300; ++i)
        docs.push_back(parse("{\"name\":\"role " + std::to_string(i) + "\",\"list\":[1,2.5,\"x\",{\"k\":null}]}"));
    std::vector<IJsonValue> shared = docs;
    std::thread a([moved = std::move(docs)]() mutable { moved.clear(); });
    std::thread b([moved = std::move(shared)]() mutable {
        for (auto& d : moved)
            d = d.ValueAt(u"list"); // keeps a part alive past its document
        moved.clear();
    });
    std::string last;
    for (int i = 0; i < 300; ++i)
        last = json(parse("[\"again\", " + std::to_string(i) + "]"));
    a.join();
    b.join();
    EXPECT_EQ(last, "[\"again\",299]");
}

} // namespace
