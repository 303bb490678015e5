#pragma once

// Text conversions used at the program's edges.
//
// The JSON library and the windows work on UTF-16; the ranking service answers in GBK (code page 936) and
// files and terminals speak UTF-8. None of these functions throws or crashes on malformed input: every byte
// or code unit that cannot be decoded becomes U+FFFD (REPLACEMENT CHARACTER), and every character that GBK
// cannot hold becomes '?', as the Windows conversions this program was first written against do.

#include <string>
#include <string_view>

namespace qarvia::text {

inline constexpr char16_t ReplacementChar = 0xFFFD;

// UTF-8 -> UTF-16. Overlong forms, surrogates encoded in UTF-8, code points above U+10FFFF and truncated
// sequences each give one U+FFFD per maximal ill-formed subpart (the Unicode recommended practice).
std::u16string utf8ToUtf16(std::string_view utf8);

// UTF-16 -> UTF-8. Unpaired surrogates give U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

// True when the bytes are well-formed UTF-8 (what utf8ToUtf16 decodes without a replacement).
bool isValidUtf8(std::string_view utf8);

// GBK (code page 936) -> UTF-16 through the C library's converter. An invalid or truncated sequence gives
// U+FFFD and decoding resumes at the next byte, so ASCII after a broken lead byte survives.
std::u16string gbkToUtf16(std::string_view gbk);

// UTF-16 -> GBK. Characters GBK cannot hold and unpaired surrogates give '?'.
std::string utf16ToGbk(std::u16string_view utf16);

// Shortcuts through UTF-16 with the same replacement rules.
std::string gbkToUtf8(std::string_view gbk);
std::string utf8ToGbk(std::string_view utf8);

} // namespace qarvia::text
