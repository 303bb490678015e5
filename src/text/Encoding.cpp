#include "text/Encoding.h"

#include <cerrno>
#include <cstdint>
#include <iconv.h>

namespace qarvia::text {

namespace {

// Decodes one UTF-8 sequence at s[i]. Returns the code point and advances i past it, or returns -1 and
// advances i past the maximal ill-formed subpart.
int32_t decodeUtf8(std::string_view s, size_t& i) {
    const auto byteAt = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byteAt(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int need;
    int32_t cp;
    unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0)
            lo = 0xA0; // overlong
        else if (b0 == 0xED)
            hi = 0x9F; // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0)
            lo = 0x90; // overlong
        else if (b0 == 0xF4)
            hi = 0x8F; // above U+10FFFF
    } else {
        ++i;
        return -1;
    }
    ++i;
    for (int k = 0; k < need; ++k) {
        if (i >= s.size())
            return -1;
        const unsigned char b = byteAt(i);
        if (k == 0 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
            return -1;
        cp = (cp << 6) | (b & 0x3F);
        ++i;
    }
    return cp;
}

void appendUtf16(std::u16string& out, int32_t cp) {
    if (cp < 0) {
        out.push_back(ReplacementChar);
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// One iconv descriptor for the length of one conversion; closed on every path.
class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as possible; returns the errno of the stop, or 0 when all input was consumed.
    int convert(const char*& in, size_t& inLeft, char*& out, size_t& outLeft) {
        char* src = const_cast<char*>(in); // iconv's signature is not const-correct; it does not write
        const size_t r = iconv(cd_, &src, &inLeft, &out, &outLeft);
        in = src;
        return r == static_cast<size_t>(-1) ? errno : 0;
    }

private:
    iconv_t cd_;
};

} // namespace

std::u16string utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    size_t i = 0;
    while (i < utf8.size()) {
        // Plain ASCII runs are the common case.
        const unsigned char b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        appendUtf16(out, decodeUtf8(utf8, i));
    }
    return out;
}

std::string utf16ToUtf8(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size());
    for (size_t i = 0; i < utf16.size(); ++i) {
        const char16_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((uint32_t(c) - 0xD800) << 10) + (uint32_t(utf16[i + 1]) - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            appendUtf8(out, ReplacementChar);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

bool isValidUtf8(std::string_view utf8) {
    size_t i = 0;
    while (i < utf8.size())
        if (decodeUtf8(utf8, i) < 0)
            return false;
    return true;
}

std::u16string gbkToUtf16(std::string_view gbk) {
    std::u16string out;
    out.reserve(gbk.size());
    Converter cv("UTF-16LE", "GBK");
    if (!cv.ok()) {
        // No GBK converter installed: keep ASCII, replace the rest rather than lose the text's shape.
        for (char c : gbk)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? char16_t(c) : ReplacementChar);
        return out;
    }
    const char* in = gbk.data();
    size_t inLeft = gbk.size();
    char buf[4096];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const int err = cv.convert(in, inLeft, o, oLeft);
        const size_t produced = sizeof buf - oLeft;
        for (size_t k = 0; k + 1 < produced; k += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buf[k]) |
                                                (static_cast<unsigned char>(buf[k + 1]) << 8)));
        if (err == E2BIG)
            continue;
        if (err == EILSEQ || err == EINVAL) {
            // Invalid sequence, or a lead byte cut off at the end: replace the byte and go on after it.
            out.push_back(ReplacementChar);
            ++in;
            --inLeft;
        } else if (err != 0) {
            break;
        }
    }
    return out;
}

std::string utf16ToGbk(std::u16string_view utf16) {
    std::string out;
    out.reserve(utf16.size() * 2);
    Converter cv("GBK", "UTF-16LE");
    // Feed one character (one code unit, or a surrogate pair) at a time: unencodable ones become '?'.
    size_t i = 0;
    std::string runBytes;
    auto flushRun = [&](size_t from, size_t to) {
        // Converts utf16[from, to) which holds only BMP characters outside the surrogate range.
        if (from == to)
            return;
        runBytes.clear();
        for (size_t k = from; k < to; ++k) {
            runBytes.push_back(static_cast<char>(utf16[k] & 0xFF));
            runBytes.push_back(static_cast<char>(utf16[k] >> 8));
        }
        if (!cv.ok()) {
            for (size_t k = from; k < to; ++k)
                out.push_back(utf16[k] < 0x80 ? static_cast<char>(utf16[k]) : '?');
            return;
        }
        const char* in = runBytes.data();
        size_t inLeft = runBytes.size();
        char buf[4096];
        while (inLeft > 0) {
            char* o = buf;
            size_t oLeft = sizeof buf;
            const int err = cv.convert(in, inLeft, o, oLeft);
            out.append(buf, sizeof buf - oLeft);
            if (err == E2BIG)
                continue;
            if (err != 0) {
                // Unencodable character: skip its two bytes.
                out.push_back('?');
                const size_t skip = inLeft < 2 ? inLeft : 2;
                in += skip;
                inLeft -= skip;
            }
        }
    };
    size_t runStart = 0;
    while (i < utf16.size()) {
        const char16_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDFFF) {
            flushRun(runStart, i);
            // Supplementary characters are outside GBK, as are lone surrogates.
            const bool pair = c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 && utf16[i + 1] <= 0xDFFF;
            out.push_back('?');
            i += pair ? 2 : 1;
            runStart = i;
        } else {
            ++i;
        }
    }
    flushRun(runStart, utf16.size());
    return out;
}

std::string gbkToUtf8(std::string_view gbk) {
    return utf16ToUtf8(gbkToUtf16(gbk));
}

std::string utf8ToGbk(std::string_view utf8) {
    return utf16ToGbk(utf8ToUtf16(utf8));
}

} // namespace qarvia::text
