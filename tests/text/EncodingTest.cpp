#include "text/Encoding.h"

#include <gtest/gtest.h>

#include <string>

using namespace qarvia::text;

namespace {

struct Utf8Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

TEST(EncodingTest, Utf8ToUtf16DecodesAndReplaces) {
    const Utf8Case cases[] = {
        {"empty", "", u""},
        {"ascii", "abc\x7f", u"abc\x7f"},
        {"two byte", "\xC3\xA9", u"\u00E9"},
        {"three byte", "\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587"},
        {"four byte", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"max code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"embedded nul", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"invalid lead C0", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"invalid lead FF", "\xFF", u"\uFFFD"},
        {"overlong three byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above max", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated three byte at end", "x\xE4\xB8", u"x\uFFFD"},
        {"truncated sequence then ascii", "\xE4\xB8z", u"\uFFFDz"},
        {"truncated four byte then valid", "\xF0\x9F\x98\xC3\xA9", u"\uFFFD\u00E9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << c.name;
        EXPECT_EQ(isValidUtf8(c.utf8), utf16ToUtf8(c.utf16) == c.utf8) << c.name;
    }
}

TEST(EncodingTest, Utf16ToUtf8EncodesAndReplacesLoneSurrogates) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"", ""},
        {u"A\u00E9\u4E2D", "A\xC3\xA9\xE4\xB8\xAD"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\xD800", "\xEF\xBF\xBD"},
        {u"\xDC00x", "\xEF\xBF\xBDx"},
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
        {u"a\xD800", "a\xEF\xBF\xBD"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(utf16ToUtf8(in), out);
}

TEST(EncodingTest, Utf8RoundTripsEveryScalarValue) {
    std::u16string all;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        if (cp < 0x10000) {
            all.push_back(static_cast<char16_t>(cp));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    const std::string utf8 = utf16ToUtf8(all);
    EXPECT_TRUE(isValidUtf8(utf8));
    EXPECT_EQ(utf8ToUtf16(utf8), all);
}

TEST(EncodingTest, GbkConvertsBothWays) {
    // "搜索" and "请输入角色名称" as the ranking page sends and shows them.
    const std::pair<std::string, std::u16string> cases[] = {
        {"", u""},
        {"plain ascii 123", u"plain ascii 123"},
        {"\xCB\xD1\xCB\xF7", u"\u641C\u7D22"},
        {"\xC7\xEB\xCA\xE4\xC8\xEB\xBD\xC7\xC9\xAB\xC3\xFB\xB3\xC6", u"\u8BF7\u8F93\u5165\u89D2\u8272\u540D\u79F0"},
        {"a\xC1\xE9\xCA\xDE-b", u"a\u7075\u517D-b"},
    };
    for (const auto& [gbk, utf16] : cases) {
        EXPECT_EQ(gbkToUtf16(gbk), utf16);
        EXPECT_EQ(utf16ToGbk(utf16), gbk);
        EXPECT_EQ(gbkToUtf8(gbk), utf16ToUtf8(utf16));
        EXPECT_EQ(utf8ToGbk(utf16ToUtf8(utf16)), gbk);
    }
}

TEST(EncodingTest, GbkBadInputIsReplacedNotLost) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"\xFF", u"\uFFFD"},     // never a lead byte
        {"ab\xCB", u"ab\uFFFD"}, // lead byte cut off at the end
        {"\xCB z", u"\uFFFD z"}, // bad trail byte: the ASCII after it survives
        {"\xCB\xD1\xFFok", u"\u641C\uFFFDok"},
    };
    for (const auto& [gbk, utf16] : cases)
        EXPECT_EQ(gbkToUtf16(gbk), utf16);
}

TEST(EncodingTest, Utf16ToGbkMarksUnencodableCharacters) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"\U0001F600", "?"},           // outside the BMP
        {u"x\xD800y", "x?y"},           // lone surrogate
        {u"\u0E01\u641C", "?\xCB\xD1"}, // Thai letter has no GBK form
    };
    for (const auto& [utf16, gbk] : cases)
        EXPECT_EQ(utf16ToGbk(utf16), gbk);
}

TEST(EncodingTest, LongTextCrossesConverterBuffers) {
    std::u16string text;
    for (int i = 0; i < 5000; ++i)
        text += u"\u4E2Da";
    const std::string gbk = utf16ToGbk(text);
    EXPECT_EQ(gbk.size(), 15000u);
    EXPECT_EQ(gbkToUtf16(gbk), text);
}

} // namespace
