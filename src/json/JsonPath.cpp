#include "json/JsonValue.h"

#include "json/JsonParser.h"

namespace qarvia::json {

// Every path operation is a run of the reader over the path text with this value as the context.

namespace {

constexpr TJsonPathOptions PutOptions = poCreatePath | poPutValue;

} // namespace

IJsonValue IJsonValue::ValueAt(std::u16string_view path) const {
    if (!v_)
        return {};
    return ParseString(path, false, true, *this);
}

void IJsonValue::SetValueAt(std::u16string_view path, const IJsonValue& value) const {
    if (v_)
        ParseString(path, true, false, *this, PutOptions, value);
}

bool IJsonValue::BooleanAt(std::u16string_view path) const {
    return ValueAt(path).ToBoolean();
}
void IJsonValue::SetBooleanAt(std::u16string_view path, bool value) const {
    SetValueAt(path, TJsonValue::FromBoolean(value));
}
int64_t IJsonValue::IntegerAt(std::u16string_view path) const {
    return ValueAt(path).ToInteger();
}
void IJsonValue::SetIntegerAt(std::u16string_view path, int64_t value) const {
    SetValueAt(path, TJsonValue::FromInteger(value));
}
double IJsonValue::DoubleAt(std::u16string_view path) const {
    return ValueAt(path).ToDouble();
}
void IJsonValue::SetCurrencyAt(std::u16string_view path, TJsonCurrency value) const {
    SetValueAt(path, TJsonValue::FromCurrency(value));
}
TJsonCurrency IJsonValue::CurrencyAt(std::u16string_view path) const {
    return ValueAt(path).ToCurrency();
}
void IJsonValue::SetDoubleAt(std::u16string_view path, double value) const {
    SetValueAt(path, TJsonValue::FromDouble(value));
}
std::u16string IJsonValue::TextAt(std::u16string_view path) const {
    return ValueAt(path).ToText();
}
void IJsonValue::SetTextAt(std::u16string_view path, std::u16string_view value) const {
    SetValueAt(path, TJsonValue::FromText(value));
}

TJsonMethod IJsonValue::MethodAt(std::u16string_view path) const {
    return ValueAt(path).ToMethod();
}

void IJsonValue::SetMethodAt(std::u16string_view path, TJsonMethod method) const {
    if (v_)
        ParseString(path, false, true, *this, PutOptions, TJsonValue::FromMethod(std::move(method)));
}

TJsonArray* IJsonValue::ArrayAt(std::u16string_view path) const {
    // Not counted: the array lives as long as the document holds it.
    return ValueAt(path).ToArray();
}

IJsonValue IJsonValue::ValueOrNullAt(std::u16string_view path) const {
    IJsonValue v = ValueAt(path);
    return v ? v : TJsonValue::FromKind(skNull);
}

void IJsonValue::SetValueOrNullAt(std::u16string_view path, const IJsonValue& value) const {
    if (v_)
        ParseString(path, false, true, *this, PutOptions, value ? value : TJsonValue::FromKind(skNull));
}

IJsonValue IJsonValue::EnsurePath(std::u16string_view path, TJsonKind kind) const {
    if (!v_)
        return {};
    return ParseString(path, false, true, *this, poCreatePath, {}, kind);
}

IJsonValue IJsonValue::Remove(std::u16string_view path) const {
    if (!v_)
        return {};
    return ParseString(path, false, true, *this, poDelete);
}

IJsonValue IJsonValue::Invoke(std::u16string_view path, const IJsonValue& param) const {
    if (!v_)
        return {};
    return ParseString(path, false, true, *this, poCallMethod, param);
}

IJsonValue IJsonValue::InvokeText(std::u16string_view path, std::u16string_view paramText) const {
    return Invoke(path, ParseText(paramText));
}

std::u16string IJsonValue::Substitute(std::u16string_view templ, char16_t open, char16_t close) const {
    std::u16string out;
    out.reserve(templ.size());
    size_t i = 0;
    while (i < templ.size()) {
        const size_t o = templ.find(open, i);
        if (o == std::u16string_view::npos) {
            out.append(templ.substr(i));
            break;
        }
        out.append(templ.substr(i, o - i));
        const size_t c = templ.find(close, o + 1);
        if (c == std::u16string_view::npos)
            break; // an open mark without its close ends the output
        out.append(TextAt(templ.substr(o + 1, c - o - 1)));
        i = c + 1;
    }
    return out;
}

} // namespace qarvia::json
