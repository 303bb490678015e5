// Parses arbitrary text, writes the value, parses that output and writes it again: the two writes must be
// equal. Also reads paths taken from the input against a fixed document.
//
// The first byte chooses the mode: bit 0 strict, bit 1 indent, bit 2 escape, bit 3 the rest is UTF-16 code
// units (any unit, lone surrogates included) rather than UTF-8, bit 4 the rest is a path.

#include "json/JsonParser.h"
#include "text/Encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

using namespace qarvia::json;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const bool strict = mode & 1, indent = mode & 2, escape = mode & 4;
    std::u16string text;
    if (mode & 8) {
        for (size_t i = 0; i + 1 < size; i += 2)
            text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    } else {
        text = qarvia::text::utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    }

    if (mode & 16) {
        static const std::u16string doc = u"{\"a\":{\"b\":[1,{\"c\":\"x\"},[2,3]],\"n\":null},\"2\":[true]}";
        const IJsonValue root = ParseText(doc);
        root.ValueAt(text).ToJson();
        root.ValueAt(u"a.b").ValueAt(text).ToText();
        root.Copy().Remove(text);
        root.TextAt(text);
        return 0;
    }

    const IJsonValue first = strict ? ParseString(text, true, false) : ParseText(text);
    if (!first)
        return 0;
    const std::u16string out1 = first.ToJson(indent, escape);
    if (first.MeasureText(indent, escape) != int64_t(out1.size()))
        std::abort();
    const IJsonValue second = ParseString(out1, true, false);
    if (!second) {
        std::fprintf(stderr, "written text does not parse strictly: %s\n", qarvia::text::utf16ToUtf8(out1).c_str());
        std::abort();
    }
    const std::u16string out2 = second.ToJson(indent, escape);
    if (out1 != out2) {
        std::fprintf(stderr, "writes differ:\n%s\n%s\n", qarvia::text::utf16ToUtf8(out1).c_str(),
                     qarvia::text::utf16ToUtf8(out2).c_str());
        std::abort();
    }
    return 0;
}
