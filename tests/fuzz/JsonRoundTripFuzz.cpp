// Parses arbitrary text, writes the value, parses that output and writes it again: the two writes must be
// equal. Also reads paths taken from the input against a fixed document.
//
// The first byte chooses the mode: bit 0 strict, bit 1 indent, bit 2 escape, bit 3 the rest is UTF-16 code
// units (any unit, lone surrogates included) rather than UTF-8, bit 4 the rest is a path, bit 5 the text is
// also fed in pieces of 1 to 4 units (bits 6-7), which must give what the whole text gives: the runs read
// at once and the unit by unit transitions agree.

#include "json/JsonParser.h"
#include "text/Encoding.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <algorithm>
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

    if (mode & 32) {
        TJsonTokenizer whole;
        const std::string expected = qarvia::text::utf16ToUtf8(ParseWithTokenizer(whole, text, -1, strict).ToJson());
        const size_t piece = size_t(mode >> 6) + 1;
        TJsonTokenizer t;
        IJsonValue result;
        for (size_t at = 0;; at += piece) {
            const std::u16string_view rest = at < text.size() ? std::u16string_view(text).substr(at) : u"";
            const size_t n = std::min(piece, rest.size());
            {
                // Each piece in a buffer of its own that is gone once read: nothing may point into it later.
                const std::u16string buffer(rest.substr(0, n));
                result = ParseWithTokenizer(t, buffer, n == 0 ? -1 : int64_t(n), strict);
            }
            // A complete value whose piece was used up may still have blanks or comments after it; a zero
            // unit ends the text as it ends the whole run.
            const bool atZero = t.Offset() > 0 && size_t(t.Offset()) <= n && rest[size_t(t.Offset()) - 1] == 0;
            const bool more = t.Error() == peMoreInput || (t.Error() == peNone && t.Offset() == int64_t(n));
            if (!more || atZero || n == 0)
                break;
        }
        const std::string got = qarvia::text::utf16ToUtf8(result.ToJson());
        if (t.Error() != whole.Error() || got != expected || t.Line() != whole.Line() || t.Column() != whole.Column()) {
            std::fprintf(stderr, "pieces of %zu differ: error %d/%d, line %lld/%lld, column %lld/%lld\n%s\n%s\n", piece,
                         int(t.Error()), int(whole.Error()), (long long)t.Line(), (long long)whole.Line(),
                         (long long)t.Column(), (long long)whole.Column(), got.c_str(), expected.c_str());
            std::abort();
        }
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
