#include "json/JsonValidate.h"

#include "json/JsonParser.h"

#include <string>
#include <string_view>
#include <set>

namespace qarvia::json {

namespace {

constexpr int MaxInherit = 16;

std::u16string indexText(int32_t i) {
    const std::string digits = std::to_string(i);
    return std::u16string(digits.begin(), digits.end());
}

class Checker {
public:
    Checker(const IJsonValue& defs, const TJsonValidateCallback& callback, void* sender)
        : defs_(defs), callback_(callback), sender_(sender) {}

    void check(const IJsonValue& value, const IJsonValue& rule, const std::u16string& path);
    bool ok() const { return ok_; }

private:
    void report(TJsonValidateError code, const std::u16string& path) {
        ok_ = false;
        if (callback_)
            callback_(sender_, code, path);
    }
    // The rule's key, or the same key of the rules it inherits from.
    IJsonValue key(const IJsonValue& rule, std::u16string_view name, bool& broken) const;
    IJsonValue findDefinition(const std::u16string& name) const;
    bool typeMatches(std::u16string_view type, const IJsonValue& value, bool& known) const;
    bool withinBounds(const IJsonValue& bounds, const IJsonValue& value, bool numeric) const;

    IJsonValue defs_;
    const TJsonValidateCallback& callback_;
    void* sender_;
    bool ok_ = true;
};

IJsonValue Checker::findDefinition(const std::u16string& name) const {
    if (defs_.HasKind(skObject))
        return defs_.ToObject()->Lookup(name);
    if (TJsonArray* list = defs_.ToArray()) {
        for (int32_t i = 0; i < list->ItemCount(); ++i) {
            const IJsonValue r = list->ItemAt(i);
            if (r.HasKind(skObject) && IsKind(r.ToObject()->Lookup(u"name"), skString) &&
                r.ToObject()->Lookup(u"name").ToText() == name)
                return r;
        }
    }
    return {};
}

IJsonValue Checker::key(const IJsonValue& rule, std::u16string_view name, bool& broken) const {
    IJsonValue current = rule;
    for (int depth = 0; depth <= MaxInherit; ++depth) {
        if (!current.HasKind(skObject)) {
            broken = true;
            return {};
        }
        if (IJsonValue v = current.ToObject()->Lookup(name))
            return v;
        const IJsonValue parent = current.ToObject()->Lookup(u"inherit");
        if (!parent)
            return {};
        current = findDefinition(parent.ToText());
        if (!current) {
            broken = true;
            return {};
        }
    }
    broken = true; // inheritance loops or runs too deep
    return {};
}

bool Checker::typeMatches(std::u16string_view type, const IJsonValue& value, bool& known) const {
    const TJsonKind k = KindOf(value);
    const bool isFloat = k == skDouble || k == skCurrency;
    known = true;
    if (type == u"any")
        return true;
    if (type == u"str")
        return k == skString;
    if (type == u"int")
        return k == skInteger;
    if (type == u"float")
        return isFloat;
    if (type == u"number")
        return k == skInteger || isFloat;
    if (type == u"text")
        return k == skString || k == skInteger || isFloat;
    if (type == u"bool")
        return k == skBoolean;
    if (type == u"map")
        return k == skObject;
    if (type == u"seq")
        return k == skArray;
    if (type == u"scalar")
        return k != skObject && k != skArray;
    known = false;
    return false;
}

bool Checker::withinBounds(const IJsonValue& bounds, const IJsonValue& value, bool numeric) const {
    if (!bounds.HasKind(skObject))
        return true;
    const TJsonMemberTable* b = bounds.ToObject();
    // Sign of value - bound: numerically, or by ordinal order of the texts.
    const auto order = [&](const IJsonValue& bound) -> int {
        if (numeric) {
            const double x = value.ToDouble(), y = bound.ToDouble();
            return x < y ? -1 : x > y ? 1 : 0;
        }
        return CompareOrdinal(value.ToText(), bound.ToText());
    };
    if (const IJsonValue v = b->Lookup(u"min"); v && order(v) < 0)
        return false;
    if (const IJsonValue v = b->Lookup(u"max"); v && order(v) > 0)
        return false;
    if (const IJsonValue v = b->Lookup(u"minex"); v && order(v) <= 0)
        return false;
    if (const IJsonValue v = b->Lookup(u"maxex"); v && order(v) >= 0)
        return false;
    return true;
}

void Checker::check(const IJsonValue& value, const IJsonValue& rule, const std::u16string& path) {
    bool broken = false;
    const IJsonValue mapping = key(rule, u"mapping", broken);
    const IJsonValue sequence = key(rule, u"sequence", broken);
    const IJsonValue typeName = key(rule, u"type", broken);
    const IJsonValue required = key(rule, u"required", broken);
    const IJsonValue enumValues = key(rule, u"enum", broken);
    const IJsonValue range = key(rule, u"range", broken);
    const IJsonValue length = key(rule, u"length", broken);
    const IJsonValue unique = key(rule, u"unique", broken);
    if (broken) {
        report(veRule, path);
        return;
    }
    if (!value || value.HasKind(skNull)) {
        if (required.ToBoolean())
            report(veRequired, path);
        return;
    }

    std::u16string type = typeName ? typeName.ToText() : u"any";
    if (!typeName)
        type = mapping ? u"map" : sequence ? u"seq" : u"any";
    bool known = false;
    if (!typeMatches(type, value, known)) {
        report(known ? veType : veRule, path);
        return;
    }

    if (TJsonArray* allowed = enumValues.ToArray()) {
        const std::u16string text = value.ToJson();
        bool found = false;
        for (int32_t i = 0; i < allowed->ItemCount() && !found; ++i)
            found = allowed->ItemAt(i).ToJson() == text;
        if (!found)
            report(veEnum, path);
    }
    const TJsonKind k = value.GetKind();
    const bool numeric = k == skInteger || k == skDouble || k == skCurrency || k == skBoolean;
    if (range && (numeric || k == skString) && !withinBounds(range, value, numeric))
        report(veRange, path);
    if (length) {
        int64_t n = -1;
        if (k == skString)
            n = int64_t(value.Get()->Text.size());
        else if (k == skArray)
            n = value.ToArray()->ItemCount();
        else if (k == skObject)
            n = value.ToObject()->MemberCount();
        if (n >= 0 && !withinBounds(length, TJsonValue::FromInteger(n), true))
            report(veLength, path);
    }

    // Containers reached again through a cycle are checked once.
    if ((k != skObject && k != skArray) || value.GetBusy())
        return;
    value.SetBusy(true);
    if (k == skObject && mapping.HasKind(skObject)) {
        TJsonAvlIterator it(mapping.ToObject());
        for (bool more = it.First(); more; more = it.Next()) {
            const std::u16string_view name = it.Current()->Name();
            std::u16string sub = path;
            if (!sub.empty())
                sub += u'.';
            sub += name;
            check(value.ToObject()->Lookup(name), IJsonValue(it.Current()->Value), sub);
        }
    } else if (k == skArray) {
        const TJsonArray* items = value.ToArray();
        TJsonArray* rules = sequence.ToArray();
        const IJsonValue itemRule = rules && rules->ItemCount() > 0 ? rules->ItemAt(0) : IJsonValue();
        std::set<std::u16string> seen;
        for (int32_t i = 0; i < items->ItemCount(); ++i) {
            const std::u16string sub = path + u"[" + indexText(i) + u"]";
            const IJsonValue item = items->ItemAt(i);
            if (itemRule)
                check(item, itemRule, sub);
            if (unique.ToBoolean()) {
                if (!seen.insert(item.ToJson()).second)
                    report(veUnique, sub);
            }
        }
    }
    value.SetBusy(false);
}

} // namespace

bool IJsonValue::Validate(const IJsonValue& rules, const IJsonValue& defs, const TJsonValidateCallback& callback,
                          void* sender) const {
    Checker checker(defs, callback, sender);
    checker.check(*this, rules, {});
    return checker.ok();
}

bool IJsonValue::ValidateText(std::u16string_view rules, std::u16string_view defs,
                              const TJsonValidateCallback& callback, void* sender) const {
    return Validate(ParseText(rules), ParseText(defs), callback, sender);
}

} // namespace qarvia::json
