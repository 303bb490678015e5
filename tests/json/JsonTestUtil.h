#pragma once

// Helpers shared by the JSON tests: UTF-8 views of UTF-16 results.

#include "json/JsonParser.h"
#include "text/Encoding.h"

#include <string>

namespace qarvia::json::test {

inline std::string u8(std::u16string_view s) {
    return qarvia::text::utf16ToUtf8(s);
}

inline std::u16string u16(std::string_view s) {
    return qarvia::text::utf8ToUtf16(s);
}

// Compact JSON of a value, or "<none>" for an empty reference.
inline std::string json(const IJsonValue& v) {
    return v ? u8(v.ToJson()) : "<none>";
}

inline IJsonValue parse(std::string_view text) {
    return ParseText(u16(text));
}

} // namespace qarvia::json::test
