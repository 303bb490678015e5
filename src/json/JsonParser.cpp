#include "json/JsonParser.h"

#include "json/JsonNumbers.h"

#include <cstring>
// SSE2 is part of every x86-64; QARVIA_JSON_NO_SIMD builds the plain loops alone (the tests run both).
#if defined(__SSE2__) && !defined(QARVIA_JSON_NO_SIMD)
#define QARVIA_JSON_SSE2 1
#include <emmintrin.h>
#endif
#include <limits>
#include <string>

namespace qarvia::json {

namespace {

// Character classes (on 16-bit units).
inline bool isBlank(char16_t c) {
    return c == 0x20 || c == 0x0A || c == 0x0D || c == 0x09 || c == 0x08 || c == 0x0C;
}

inline bool isReserved(char16_t c) {
    switch (c) {
    case 0:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0C:
    case 0x0D:
    case 0x20:
    case u'"':
    case u'(':
    case u')':
    case u',':
    case u'.':
    case u':':
    case u'[':
    case u']':
    case u'{':
    case u'}':
        return true;
    default:
        return false;
    }
}

inline bool isKeywordContinuation(char16_t c) {
    return c == u'.' || (c >= u'A' && c <= u'Z') || c == u'_' || (c >= u'a' && c <= u'z') || c >= 0x100;
}

inline bool isNumberChar(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'+' || c == u'E' || c == u'e';
}

inline bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads an optional sign and decimal digits from the start of s (number characters only), skipping '.'
// when asked. Returns false when the digits overflow 64 bits.
bool readLeadingInteger(const char16_t* s, size_t n, int64_t& out, bool skipDots) {
    size_t i = 0;
    bool negative = false;
    if (i < n && (s[i] == u'-' || s[i] == u'+'))
        negative = s[i++] == u'-';
    uint64_t v = 0;
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    for (; i < n; ++i) {
        const char16_t c = s[i];
        if (c == u'.' && skipDots)
            continue;
        if (c < u'0' || c > u'9')
            break;
        const unsigned d = unsigned(c - u'0');
        if (v > (limit - d) / 10)
            return false;
        v = v * 10 + d;
    }
    out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

// The longest well-formed real at the start of the token.
double readLeadingDouble(const char16_t* text, size_t n) {
    if (n > 0 && text[0] == u'+') {
        ++text;
        --n;
    }
    char small[64] = {};
    std::string large;
    char* s = small;
    if (n > sizeof small) {
        large.resize(n);
        s = large.data();
    }
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(text[i]);
    double d = 0;
    numbers::readDouble(s, s + n, d);
    return d;
}

// Converts a number token. Integers and currency values (a '.' and at most four decimals, no exponent) are
// exact; everything else, and values too large for 64 bits, become doubles. A token that is not a
// well-formed number takes the value of its longest well-formed start (1-2 gives 1, --5 gives 0).
TJsonValue* convertNumber(const char16_t* text, size_t n, bool fractional, int32_t fractionDigits) {
    int64_t v = 0;
    if (!fractional) {
        if (readLeadingInteger(text, n, v, false))
            return TJsonValue::NewOwnedInteger(v);
    } else if (fractionDigits >= 0 && fractionDigits <= 4) {
        static constexpr int64_t scale[] = {10000, 1000, 100, 10, 1};
        int64_t scaled;
        if (readLeadingInteger(text, n, v, true) && !__builtin_mul_overflow(v, scale[fractionDigits], &scaled))
            return TJsonValue::NewOwnedCurrency(scaled);
    }
    return TJsonValue::NewOwnedDouble(readLeadingDouble(text, n));
}

// Decimal digits from j on (at most `most` of them, so that m cannot overflow) appended to m; returns the
// index after them. Eight units at a time where SSE2 is there.
inline size_t takeDigits(const char16_t* p, size_t j, size_t stop, uint64_t& m, size_t most) {
    const size_t last = stop - j < most ? stop : j + most;
#ifdef QARVIA_JSON_SSE2
    const __m128i zeros = _mm_set1_epi16(u'0');
    const __m128i nine = _mm_set1_epi16(9);
    const __m128i tens = _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1);
    const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
    while (j + 8 <= last) {
        const __m128i d = _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j)), zeros);
        const __m128i bad = _mm_or_si128(_mm_cmplt_epi16(d, _mm_setzero_si128()), _mm_cmpgt_epi16(d, nine));
        if (_mm_movemask_epi8(bad))
            break;
        const __m128i pairs = _mm_madd_epi16(d, tens); // four two-digit numbers
        const __m128i quads = _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), hundreds); // two four-digit ones
        const auto high = uint64_t(uint32_t(_mm_cvtsi128_si32(quads)));
        const auto low = uint64_t(uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(quads, 4))));
        m = m * 100000000 + high * 10000 + low;
        j += 8;
    }
#endif
    while (j < last && unsigned(p[j] - u'0') < 10)
        m = m * 10 + unsigned(p[j++] - u'0');
    return j;
}

constexpr uint64_t powersOfTen[] = {1,
                                    10,
                                    100,
                                    1000,
                                    10000,
                                    100000,
                                    1000000,
                                    10000000,
                                    100000000,
                                    1000000000,
                                    10000000000,
                                    100000000000,
                                    1000000000000,
                                    10000000000000,
                                    100000000000000,
                                    1000000000000000,
                                    10000000000000000,
                                    100000000000000000,
                                    1000000000000000000,
                                    10000000000000000000u};

#ifdef QARVIA_JSON_SSE2
// Bits (two per unit) of the units of v that are not decimal digits.
inline unsigned nonDigits(__m128i v) {
    const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(u'0'));
    return unsigned(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmplt_epi16(d, _mm_setzero_si128()), _mm_cmpgt_epi16(d, _mm_set1_epi16(9)))));
}

// Lanes that hold the last `count` units of a 16-unit window: the 16 units of unitMask + count.
alignas(16) constexpr uint16_t unitMask[32] = {0,      0,      0,      0,      0,      0,      0,      0,
                                               0,      0,      0,      0,      0,      0,      0,      0,
                                               0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                               0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};

// The digits of the `count` units that end at end, as two halves of 16 lanes (units before them zero).
inline void digitLanes(const char16_t* p, size_t end, size_t count, __m128i& high, __m128i& low) {
    const __m128i zeros = _mm_set1_epi16(u'0');
    const auto* mask = reinterpret_cast<const __m128i*>(unitMask + count);
    high = _mm_and_si128(_mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + end - 16)), zeros),
                         _mm_loadu_si128(mask));
    low = _mm_and_si128(_mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + end - 8)), zeros),
                        _mm_loadu_si128(mask + 1));
}

// The digits before and after the point of a number at j (digits, then optionally '.' and digits), read
// with one pass over a 32-unit window and one conversion of both parts side by side: the counts, whether
// there is a point, and the value of all the digits without it. False (the caller takes the digits one by
// one) near either end of the text, for more than 18 digits in all, 15 before the point or 16 after it, or for a point
// without digits after it.
inline bool gatherNumber(const char16_t* p, size_t j, size_t stop, size_t& intDigits, bool& dot,
                         size_t& fracDigits, uint64_t& value) {
    if (stop - j < 32)
        return false;
    // The second 16 units are looked at only for a fraction that runs past the first 16.
    const auto* at = reinterpret_cast<const __m128i*>(p + j);
    uint64_t mask = nonDigits(_mm_loadu_si128(at)) | nonDigits(_mm_loadu_si128(at + 1)) << 16;
    if (mask == 0)
        return false;
    const size_t before = size_t(__builtin_ctzll(mask)) >> 1;
    const size_t intEnd = j + before;
    if (before == 0 || intEnd < 16)
        return false;
    dot = p[intEnd] == u'.';
    if (!dot) {
        if (before > 8)
            return false;
        // An integer of up to eight digits: one half of the conversion below.
        const __m128i digits = _mm_and_si128(
            _mm_sub_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + intEnd - 8)), _mm_set1_epi16(u'0')),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(unitMask + 8 + before)));
        const __m128i pairs = _mm_madd_epi16(digits, _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1));
        const __m128i quads =
            _mm_madd_epi16(_mm_packs_epi32(pairs, pairs), _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1));
        value = uint64_t(uint32_t(_mm_cvtsi128_si32(quads))) * 10000 +
                uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(quads, 4)));
        intDigits = before;
        fracDigits = 0;
        return true;
    }
    if (before > 15)
        return false;
    uint64_t rest = mask >> (2 * (before + 1));
    if (rest == 0) {
        mask |= uint64_t(nonDigits(_mm_loadu_si128(at + 2)) | nonDigits(_mm_loadu_si128(at + 3)) << 16) << 32;
        rest = mask >> (2 * (before + 1));
        if (rest == 0)
            return false;
    }
    const size_t after = size_t(__builtin_ctzll(rest)) >> 1;
    if (after == 0 || after > 16 || before + after > 18)
        return false;
    __m128i intHigh, intLow, fracHigh, fracLow;
    digitLanes(p, intEnd, before, intHigh, intLow);
    digitLanes(p, intEnd + 1 + after, after, fracHigh, fracLow);
    const __m128i tens = _mm_setr_epi16(10, 1, 10, 1, 10, 1, 10, 1);
    const __m128i hundreds = _mm_setr_epi16(100, 1, 100, 1, 100, 1, 100, 1);
    const __m128i intQuads =
        _mm_madd_epi16(_mm_packs_epi32(_mm_madd_epi16(intHigh, tens), _mm_madd_epi16(intLow, tens)), hundreds);
    const __m128i fracQuads =
        _mm_madd_epi16(_mm_packs_epi32(_mm_madd_epi16(fracHigh, tens), _mm_madd_epi16(fracLow, tens)), hundreds);
    const __m128i eights = _mm_madd_epi16(_mm_packs_epi32(intQuads, fracQuads),
                                          _mm_setr_epi16(10000, 1, 10000, 1, 10000, 1, 10000, 1));
    alignas(16) uint32_t parts[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(parts), eights);
    const uint64_t whole = uint64_t(parts[0]) * 100000000 + parts[1];
    const uint64_t fraction = uint64_t(parts[2]) * 100000000 + parts[3];
    value = whole * powersOfTen[after] + fraction;
    intDigits = before;
    fracDigits = after;
    return true;
}
#endif

// High and low halves of a 128-bit number divided by d, for high < d: the 64-bit quotient and remainder.
inline uint64_t divideWide(uint64_t high, uint64_t low, uint64_t d, uint64_t& remainder) {
#if defined(__x86_64__) && !defined(QARVIA_JSON_NO_SIMD)
    uint64_t q;
    __asm__("divq %4" : "=a"(q), "=d"(remainder) : "a"(low), "d"(high), "rm"(d));
    return q;
#else
    const unsigned __int128 n = static_cast<unsigned __int128>(high) << 64 | low;
    remainder = uint64_t(n % d);
    return uint64_t(n / d);
#endif
}


// A double from its 53-bit mantissa (the top bit set) and power of two: mantissa * 2^exponent, normal range.
inline double composeDouble(uint64_t mantissa, int exponent) {
    const uint64_t bitsOut = uint64_t(exponent + 52 + 1023) << 52 | (mantissa & ((uint64_t(1) << 52) - 1));
    double result;
    std::memcpy(&result, &bitsOut, sizeof result);
    return result;
}

// m / 10^k correctly rounded, for 0 < m < 2^64 and 0 <= k <= 19: m is shifted so that the quotient has 63 or
// 64 bits, which are rounded to 53 to nearest, ties to even, with the lower bits and the remainder as sticky.
double divideExact(uint64_t m, int k) {
    const uint64_t d = powersOfTen[k];
    const int bits = 64 - __builtin_clzll(m);
    const int powerBits = 64 - __builtin_clzll(d);
    const int shift = 63 - bits + powerBits; // 2^62 <= m * 2^shift / d < 2^64
    const unsigned __int128 n = static_cast<unsigned __int128>(m) << shift;
    uint64_t remainder;
    const uint64_t q = divideWide(uint64_t(n >> 64), uint64_t(n), d, remainder);
    const int drop = 64 - __builtin_clzll(q) - 54;
    const bool sticky = remainder != 0 || (q & ((uint64_t(1) << drop) - 1)) != 0;
    const uint64_t top = q >> drop; // 54 bits: 53 of the result and the rounding bit
    uint64_t mantissa = top >> 1;
    int exponent = drop + 1 - shift; // value = mantissa * 2^exponent
    if ((top & 1) && (sticky || (mantissa & 1)))
        ++mantissa;
    if (mantissa >> 53) {
        mantissa >>= 1;
        ++exponent;
    }
    return composeDouble(mantissa, exponent);
}

// 1 / 10^k as a 64-bit fraction with its top bit set: floor(2^shift / 10^k), for k from 1 to 19.
struct Reciprocal {
    uint64_t factor;
    int shift;
};
constexpr auto reciprocalsOfTen = [] {
    struct Table {
        Reciprocal r[20];
    } table{};
    for (int k = 1; k < 20; ++k) {
        const int shift = 63 + (64 - __builtin_clzll(powersOfTen[k]));
        table.r[k] = {uint64_t((static_cast<unsigned __int128>(1) << shift) / powersOfTen[k]), shift};
    }
    return table;
}();

// m / 10^k correctly rounded, for 2^53 < m < 2^64 and 1 <= k <= 19, by one multiplication with the truncated
// reciprocal. The product z falls short of the exact quotient (scaled) by less than 2^64, so its bits below
// the 54 kept ones decide the rounding unless they are all zero (an exact tie or exact quotient may hide
// there) or close enough to the top that the shortfall could carry into the kept bits: those rare cases go
// to the exact division.
double divideByTen(uint64_t m, int k) {
    const Reciprocal r = reciprocalsOfTen.r[k];
    const int lead = __builtin_clzll(m);
    const unsigned __int128 z = static_cast<unsigned __int128>(m << lead) * r.factor; // at least 2^126
    const int drop = int(uint64_t(z >> 127)) + 73; // bits below the 54 kept ones
    const unsigned __int128 low = z & ((static_cast<unsigned __int128>(1) << drop) - 1);
    const uint64_t carryBits = uint64_t(low >> 64); // drop - 64 bits, all ones when a carry may come
    if (low == 0 || carryBits == (uint64_t(1) << (drop - 64)) - 1)
        return divideExact(m, k);
    const auto top = uint64_t(z >> drop); // 54 bits: 53 of the result and the rounding bit
    uint64_t mantissa = (top >> 1) + (top & 1); // the lower bits are not zero: no tie
    int exponent = drop + 1 - lead - r.shift;
    if (mantissa >> 53) {
        mantissa >>= 1;
        ++exponent;
    }
    return composeDouble(mantissa, exponent);
}

// The usual number shapes, read in one pass straight from the text: -?digits(.digits)?([eE][+-]?digits)?
// followed by a unit that is not a number character. Gives the value the token would convert to and sets
// j after it, or null for any other shape (or a token that may go on past stop), which the caller then takes
// through the general rules. Integers and currency values are exact; a double whose digits and power of ten
// are both exact doubles takes one correctly rounded multiplication or division, others go to readDouble.
TJsonValue* readPlainNumber(const char16_t* p, size_t pos, size_t stop, size_t& end, bool& fractional,
                            int32_t& fractionDigits) {
    static constexpr double exact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    size_t j = pos;
    const bool negative = p[j] == u'-';
    if (negative)
        ++j;
    uint64_t m = 0;
    size_t intDigits = 0, fracDigits = 0;
    bool dot = false, exponent = false;
#ifdef QARVIA_JSON_SSE2
    if (gatherNumber(p, j, stop, intDigits, dot, fracDigits, m)) {
        j += intDigits + size_t(dot) + fracDigits;
    } else
#endif
    {
        intDigits = takeDigits(p, j, stop, m, 19) - j;
        j += intDigits;
        if (intDigits == 0 || intDigits > 18 || j >= stop)
            return nullptr;
        if (p[j] == u'.') {
            dot = true;
            ++j;
            fracDigits = takeDigits(p, j, stop, m, 19 - intDigits) - j;
            j += fracDigits;
            if (fracDigits == 0 || intDigits + fracDigits > 18 || j >= stop)
                return nullptr;
        }
    }
    int32_t e = 0;
    if (p[j] == u'e' || p[j] == u'E') {
        exponent = true;
        ++j;
        bool negativeExponent = false;
        if (j < stop && (p[j] == u'-' || p[j] == u'+'))
            negativeExponent = p[j++] == u'-';
        const size_t expStart = j;
        while (j < stop && unsigned(p[j] - u'0') < 10 && j - expStart < 5)
            e = e * 10 + int32_t(p[j++] - u'0');
        if (j == expStart || j >= stop)
            return nullptr;
        if (negativeExponent)
            e = -e;
    }
    if (isNumberChar(p[j]))
        return nullptr; // 1-2, 1.2.3, a long exponent: the general rules decide
    end = j;
    fractional = dot || exponent;
    fractionDigits = !dot || exponent || fracDigits > 4 ? -1 : int32_t(fracDigits);
    const int64_t signedM = negative ? -int64_t(m) : int64_t(m);
    if (!fractional)
        return TJsonValue::NewOwnedInteger(signedM);
    if (fractionDigits >= 0) {
        static constexpr int64_t scale[] = {10000, 1000, 100, 10, 1};
        int64_t scaled;
        if (__builtin_mul_overflow(signedM, scale[fractionDigits], &scaled))
            return nullptr;
        return TJsonValue::NewOwnedCurrency(scaled);
    }
    const int32_t power = e - int32_t(fracDigits);
    if (m <= (uint64_t(1) << 53) && power >= -22 && power <= 22) {
        double d = double(m);
        d = power < 0 ? d / exact[-power] : d * exact[power];
        return TJsonValue::NewOwnedDouble(negative ? -d : d);
    }
    if (m > 0 && power < 0 && power >= -19) {
        const double d = divideByTen(m, -power);
        return TJsonValue::NewOwnedDouble(negative ? -d : d);
    }
    return TJsonValue::NewOwnedDouble(readLeadingDouble(p + pos, j - pos));
}

// Calls a method value's callback.
void callMethod(const IJsonValue& method, const IJsonValue& self, const IJsonValue& param, IJsonValue& result) {
    if (TJsonMethod* m = method.HasKind(skMethod) ? method.Get()->Payload.Method : nullptr; m && *m)
        (*m)(self, param, result);
}

} // namespace

TJsonTokenizer::TJsonTokenizer() : frames_(reinterpret_cast<TJsonTokenizerFrame*>(frameStorage_)) {
    new (frames_) TJsonTokenizerFrame;
    framesBuilt_ = 1;
    Reset();
}

TJsonTokenizer::~TJsonTokenizer() {
    Reset();
    for (int32_t l = framesBuilt_ - 1; l >= 0; --l)
        frames_[l].~TJsonTokenizerFrame();
}

void TJsonTokenizer::Reset() {
    for (int32_t l = level_; l >= 0; --l)
        frames_[l].Reset();
    level_ = 0;
    error_ = peNone;
    argumentDepth_ = 0;
}

// One run of the machine. Kept as a class so the hot loop sees its state in locals and members.
class TJsonRun {
public:
    TJsonRun(TJsonTokenizer& t, std::u16string_view text, int64_t length, bool strict, const IJsonValue& context,
             TJsonPathOptions options, const IJsonValue& put, TJsonKind kind)
        : t_(t), p_(text.data()), n_(text.size()), limit_(length < 0 ? std::numeric_limits<int64_t>::max() : length),
          strict_(strict), context_(context), pathMode_(bool(context)), options_(options), put_(put), kind_(kind) {}

    IJsonValue Execute();

private:
    enum class Step { Consume, Reprocess, Stop, Fail };

    char16_t unitAt(size_t pos) const { return pos < n_ ? p_[pos] : char16_t(0); }
    Step fail(TJsonParseError e) {
        t_.error_ = e;
        return Step::Fail;
    }
    void finish(TJsonTokenizerFrame& f, TJsonValue* owned) {
        f.Current = IJsonValue::Adopt(owned);
        f.Resume = tsDone;
        f.State = tsSkipBlank;
    }
    Step push(TJsonTokenizerFrame*& f) {
        if (t_.level_ >= TJsonTokenizer::MaxLevel)
            return fail(peTooDeep);
        // Frames above the current level are always reset (every pop resets the frame it leaves), so only the
        // two states need setting.
        f = t_.enterFrame();
        f->State = tsSkipBlank;
        f->Resume = tsValueStart;
        return Step::Reprocess;
    }
    // null, true or false whole at pos, followed (within reach) by a unit that does not continue a word: the
    // value, with pos moved after the keyword and the units after c counted. Null for anything else, which
    // the keyword states then take unit by unit.
    TJsonValue* readKeyword(TJsonTokenizerFrame*, size_t& pos) {
        static constexpr std::u16string_view words[] = {u"null", u"true", u"false"};
        const char16_t c = p_[pos];
        const std::u16string_view word = words[c == u'n' ? 0 : c == u't' ? 1 : 2];
        const size_t n = word.size();
        if (pos + n > n_ || int64_t(n) >= limit_ - t_.offset_ || std::u16string_view(p_ + pos, n) != word ||
            isKeywordContinuation(unitAt(pos + n)))
            return nullptr;
        pos += n;
        t_.offset_ += int64_t(n);
        t_.column_ += int64_t(n - 1);
        return c == u'n' ? TJsonValue::NewOwned(skNull) : TJsonValue::NewOwnedBoolean(c == u't');
    }

    // The end of what the run may read from pos on: the length limit or the end of the text.
    size_t stopFrom(size_t pos) const {
        const int64_t room = limit_ - t_.offset_;
        return size_t(room) < n_ - pos ? pos + size_t(room) : n_;
    }
    // Takes the blanks at pos, counted into Offset, Line and Column; false when nothing readable follows.
    bool takeBlanks(size_t& pos) {
        const size_t stop = stopFrom(pos);
        const size_t j = skipBlanks(pos, stop);
        t_.offset_ += int64_t(j - pos);
        pos = j;
        return pos < stop;
    }

    // After a separator or a name's colon has been taken, with frame f in tsSkipBlank and Resume equal to
    // resume (tsArrayNext, tsMemberStart or tsMemberValue): skips the blanks that follow and, when a value
    // comes next, enters it (the container's add state and a pushed frame at tsValueStart), as the unit by
    // unit transitions would. Anything else is left to them. (The states are passed in, not read back, so
    // that the byte stores just made are not reloaded as one word.)
    void enterNext(TJsonTokenizerFrame*& f, size_t& pos, TJsonTokenizerState resume) {
        TJsonTokenizer& t = t_;
        if (!takeBlanks(pos))
            return;
        const char16_t c = p_[pos];
        if (c == u'/' || c == 0)
            return;
        if (resume == tsMemberStart || (resume == tsArrayNext && c == u']') ||
            t.level_ >= TJsonTokenizer::MaxLevel) {
            f->State = resume;
            return;
        }
        f->State = resume == tsArrayNext ? tsArrayAdd : tsMemberAdd;
        f = t.enterFrame();
        f->State = tsValueStart;
        f->Resume = tsValueStart;
    }

    // The value of frame f has just finished (tsSkipBlank, Resume tsDone). While the unit at pos (not yet
    // read), after any blanks, is the closing bracket of the container around it, takes tsDone, the
    // container's add and its separator state in one step, exactly as the unit by unit transitions would; a
    // ',' does the same and goes on into the next element.
    void closeInline(TJsonTokenizerFrame*& f, size_t& pos) {
        TJsonTokenizer& t = t_;
        while (t.level_ > 0 && pos < n_ && t.offset_ < limit_) {
            char16_t c = p_[pos];
            if (isBlank(c)) {
                // Indented text: the line break and indentation before a closing bracket, as tsSkipBlank.
                if (!takeBlanks(pos))
                    return;
                c = p_[pos];
            }
            TJsonTokenizerFrame& parent = t.frames_[t.level_ - 1];
            TJsonTokenizerState next;
            if (parent.State == tsArrayAdd) {
                if (c != u',' && c != u']')
                    return;
                parent.Current.Get()->Payload.Array->AppendOwned(f->Current.Detach());
                next = c == u',' ? tsArrayNext : tsDone;
            } else if (parent.State == tsMemberAdd) {
                if (c != u',' && c != u'}')
                    return;
                parent.Current.Get()->Payload.Object->StoreOwned(parent.Name(), f->Current.Detach());
                parent.ClearName();
                next = c == u',' ? tsMemberStart : tsDone;
            } else {
                return;
            }
            // The frame left holds nothing now but in a path run (containers, pending arguments).
            if (pathMode_)
                f->Reset();
            --t.level_;
            f = &parent;
            parent.Resume = next;
            parent.State = tsSkipBlank;
            ++t.column_;
            ++t.offset_;
            ++pos;
            if (next != tsDone) {
                enterNext(f, pos, next);
                return;
            }
        }
    }
    bool wordEnds(char16_t c) const;
    Step pathWord(TJsonTokenizerFrame& f, char16_t c);
    IJsonValue newOfKind(TJsonKind k) const { return TJsonValue::FromKind(k); }

    // Fast scan of a quoted run: returns the index of the first unit at or after from that needs the slow
    // path (the quote, a backslash, a control unit) or stop.
    size_t scanQuoted(size_t from, size_t stop, char16_t quote) const {
        size_t j = from;
#ifdef QARVIA_JSON_SSE2
        // Eight units at a time: stop at the quote, a backslash or a unit below U+0020.
        const __m128i quotes = _mm_set1_epi16(short(quote));
        const __m128i backslashes = _mm_set1_epi16(u'\\');
        const __m128i lastControl = _mm_set1_epi16(0x1F);
        const __m128i zero = _mm_setzero_si128();
        for (; j + 8 <= stop; j += 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + j));
            const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(v, lastControl), zero);
            const __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quotes), _mm_cmpeq_epi16(v, backslashes)), control);
            if (const int mask = _mm_movemask_epi8(hit))
                return j + size_t(__builtin_ctz(unsigned(mask)) >> 1);
        }
#endif
        while (j < stop) {
            const char16_t u = p_[j];
            if (u == quote || u == u'\\' || u < 0x20)
                break;
            ++j;
        }
        return j;
    }

    // Line and Column before a unit is handled: a tab adds 4 columns, a line feed starts a new line.
    void countUnit(char16_t c) {
        if (c == u'\t') {
            t_.column_ += 4;
        } else if (c == u'\n') {
            ++t_.line_;
            t_.column_ = 0;
        } else {
            ++t_.column_;
        }
    }
    // Consumes the opening quote at pos (its state already set) and, when the limit allows, reads the next
    // unit into c and counts it, so that the quoted text is taken without another dispatch. False when the
    // run must stop at the limit first.
    bool takeQuote(size_t& pos, char16_t& c) {
        ++t_.offset_;
        ++pos;
        if (t_.offset_ >= limit_)
            return false;
        c = unitAt(pos);
        countUnit(c);
        return true;
    }

    // Blanks from `from` up to the first other unit (or stop), counted into Line and Column; indentation
    // is mostly spaces, which are taken eight at a time.
    size_t skipBlanks(size_t from, size_t stop) {
        size_t j = from;
        int64_t column = t_.column_;
        for (;;) {
#ifdef QARVIA_JSON_SSE2
            const __m128i spaces = _mm_set1_epi16(u' ');
            while (j + 8 <= stop) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_ + j));
                const unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, spaces)));
                if (mask != 0xFFFF) {
                    const size_t k = size_t(__builtin_ctz(~mask)) >> 1;
                    j += k;
                    column += int64_t(k);
                    break;
                }
                j += 8;
                column += 8;
            }
#endif
            if (j >= stop)
                break;
            const char16_t u = p_[j];
            if (u == u' ' || u == u'\r' || u == 0x08 || u == 0x0C) {
                ++column;
            } else if (u == u'\n') {
                ++t_.line_;
                column = 0;
            } else if (u == u'\t') {
                column += 4;
            } else {
                break;
            }
            ++j;
        }
        t_.column_ = column;
        return j;
    }

    TJsonTokenizer& t_;
    const char16_t* p_;
    size_t n_;
    int64_t limit_;
    bool strict_;
    const IJsonValue& context_;
    bool pathMode_;
    TJsonPathOptions options_;
    const IJsonValue& put_;
    TJsonKind kind_;
    IJsonValue finished_;
};

bool TJsonRun::wordEnds(char16_t c) const {
    if (c == 0)
        return true;
    if (t_.level_ == 0)
        return false;
    const TJsonTokenizerState parent = t_.frames_[t_.level_ - 1].State;
    if (parent == tsArrayAdd)
        return c == u',' || c == u']';
    if (parent == tsMemberAdd)
        return c == u',' || c == u'}';
    return false;
}

IJsonValue TJsonRun::Execute() {
    TJsonTokenizer& t = t_;
    // Names still pointing into the text are copied when the run ends (the text may then go away); should the
    // run end by an exception, they are dropped instead.
    const auto keepNames = [&t](bool copy) {
        for (int32_t l = 0; l <= t.level_ && l < t.framesBuilt_; ++l) {
            TJsonTokenizerFrame& frame = t.frames_[l];
            if (frame.NameInText.data()) {
                if (copy)
                    frame.MemberName.assign(frame.NameInText);
                frame.NameInText = {};
            }
        }
    };
    struct DropNames {
        decltype(keepNames)& keep;
        ~DropNames() { keep(false); }
    } dropNames{keepNames};
    t.offset_ = 0;
    t.error_ = peNone;
    TJsonWriterString& scratch = t.scratch_;
    TJsonTokenizerFrame* f = &t.frames_[t.level_];
    size_t pos = 0;
    bool failed = false;

    for (;;) {
        if (t.offset_ >= limit_) {
            if (!(t.level_ == 0 && f->State == tsSkipBlank && f->Resume == tsDone))
                t.error_ = peMoreInput;
            break;
        }
        char16_t c = unitAt(pos);
        countUnit(c);

        Step step = Step::Stop;
        // Set by a transition that consumes c and leaves the frame finished (tsDone) or waiting for the next
        // element (tsArrayNext, tsMemberStart, tsMemberValue), so the next steps can be taken at once.
        TJsonTokenizerState then = tsSkipBlank;
    dispatch:
        switch (f->State) {
        case tsSkipBlank:
            if (isBlank(c)) {
                // Take the whole run of blanks (indentation) at once.
                const size_t stop = stopFrom(pos);
                const size_t j = skipBlanks(pos + 1, stop);
                t.offset_ += int64_t(j - pos);
                pos = j;
                continue;
            } else if (c == u'/') {
                scratch.Restart();
                scratch.AppendUnit(c);
                f->State = tsCommentOpen;
                step = Step::Consume;
            } else {
                f->State = f->Resume;
                goto dispatch;
            }
            break;

        case tsValueStart:
            if (pathMode_ && t.level_ == 0) {
                if (isDigit(c) && (context_.HasKind(skObject) || context_.HasKind(skArray))) {
                    // Member names may begin with digits; on an array a number selects an item.
                    f->Current = context_;
                    scratch.Restart();
                    f->State = tsWord;
                    goto dispatch;
                }
                if (c == u'(' && context_.HasKind(skMethod)) {
                    f->Current = context_;
                    f->Container = context_;
                    f->State = tsPathCall;
                    step = Step::Consume;
                    break;
                }
            }
            switch (c) {
            case u'"':
            case u'\'':
                f->State = tsString;
                scratch.Restart();
                t.quoteChar_ = c;
                if (takeQuote(pos, c))
                    goto quotedText;
                continue;
            case u'-':
            case u'0':
            case u'1':
            case u'2':
            case u'3':
            case u'4':
            case u'5':
            case u'6':
            case u'7':
            case u'8':
            case u'9':
                f->State = tsNumber;
                scratch.Restart();
                t.fractional_ = false;
                t.fractionDigits_ = -1;
                goto dispatch;
            case u'(':
                step = Step::Consume;
                break;
            case u'n':
            case u't':
            case u'f':
                if (TJsonValue* v = readKeyword(f, pos)) {
                    finish(*f, v);
                    closeInline(f, pos);
                    continue;
                }
                [[fallthrough]];
            case u'N':
            case u'T':
            case u'F':
                f->State = c == u'n' || c == u'N' ? tsNullWord : tsBoolWord;
                scratch.Restart();
                t.matchPos_ = 0;
                goto dispatch;
            case u'[':
                f->Current = IJsonValue::Adopt(TJsonValue::NewOwned(skArray));
                f->State = tsSkipBlank;
                f->Resume = tsArrayNext;
                then = tsArrayNext;
                step = Step::Consume;
                break;
            case u'{':
                f->Current = IJsonValue::Adopt(TJsonValue::NewOwned(skObject));
                f->State = tsSkipBlank;
                f->Resume = tsMemberStart;
                then = tsMemberStart;
                step = Step::Consume;
                break;
            default:
                f->State = tsWord;
                scratch.Restart();
                goto dispatch;
            }
            break;

        case tsDone:
            if (t.level_ == 0) {
                step = Step::Stop;
                break;
            }
            finished_ = std::move(f->Current);
            f->Reset();
            f = &t.frames_[--t.level_];
            goto dispatch;

        case tsNullWord:
        case tsBoolWord: {
            scratch.AppendUnit(c);
            const std::u16string_view have = scratch.View();
            const auto matches = [&](std::u16string_view word) {
                const size_t k = std::min<size_t>(size_t(t.matchPos_) + 1, word.size());
                return have.size() >= k && have.substr(0, k) == word.substr(0, k);
            };
            std::u16string_view word;
            if (f->State == tsNullWord) {
                if (matches(u"null"))
                    word = u"null";
            } else if (matches(u"true")) {
                word = u"true";
            } else if (matches(u"false")) {
                word = u"false";
            }
            if (word.empty()) {
                scratch.RemoveLast();
                f->State = tsWord;
                goto dispatch;
            }
            if (size_t(t.matchPos_) == word.size()) {
                // c is the unit after the keyword.
                if (isKeywordContinuation(c)) {
                    f->State = tsWord;
                    ++t.matchPos_;
                    step = Step::Consume;
                    break;
                }
                scratch.RemoveLast();
                finish(*f,
                       word[0] == u'n' ? TJsonValue::NewOwned(skNull) : TJsonValue::NewOwnedBoolean(word[0] == u't'));
                goto dispatch;
            }
            ++t.matchPos_;
            step = Step::Consume;
            break;
        }

        case tsCommentOpen:
            if (c == u'*') {
                scratch.AppendUnit(c);
                f->State = tsBlockComment;
            } else if (c == u'/') {
                scratch.AppendUnit(c);
                f->State = tsLineComment;
            } else {
                step = fail(peComment);
                break;
            }
            step = Step::Consume;
            break;

        case tsBlockComment:
            // The comment text itself is not kept; only its shape matters.
            if (c == u'*')
                f->State = tsBlockCommentEnd;
            step = Step::Consume;
            break;

        case tsLineComment:
            if (c == u'\n')
                f->State = tsSkipBlank;
            step = Step::Consume;
            break;

        case tsBlockCommentEnd:
            // A run of stars still closes at the next slash, as in "/** note **/".
            if (c != u'*')
                f->State = c == u'/' ? tsSkipBlank : tsBlockComment;
            step = Step::Consume;
            break;

        case tsString:
        case tsQuotedName:
        quotedText:
            if (c == t.quoteChar_) {
                if (f->State == tsString) {
                    finish(*f, TJsonValue::NewOwnedText(scratch.Chars(), size_t(scratch.Used())));
                    then = tsDone;
                } else {
                    f->MemberName.assign(scratch.View());
                    f->Resume = tsNameSep;
                    f->State = tsSkipBlank;
                }
                step = Step::Consume;
            } else if (c == u'\\') {
                // A whole \uXXXX at once when it is all here; anything else unit by unit through tsEscape.
                const int64_t room = limit_ - t.offset_;
                if (room >= 6 && pos + 6 <= n_ && p_[pos + 1] == u'u') {
                    const int d0 = numbers::hexDigit(p_[pos + 2]), d1 = numbers::hexDigit(p_[pos + 3]),
                              d2 = numbers::hexDigit(p_[pos + 4]), d3 = numbers::hexDigit(p_[pos + 5]);
                    if ((d0 | d1 | d2 | d3) >= 0) {
                        scratch.AppendUnit(char16_t(d0 << 12 | d1 << 8 | d2 << 4 | d3));
                        t.column_ += 5;
                        t.offset_ += 6;
                        pos += 6;
                        continue;
                    }
                }
                f->Resume = f->State;
                f->State = tsEscape;
                step = Step::Consume;
            } else if (c < 0x20) {
                scratch.AppendUnit(c);
                step = Step::Consume;
            } else {
                // Ordinary units: take the whole run up to the next unit that needs attention.
                const size_t stop = stopFrom(pos);
                const size_t j = scanQuoted(pos + 1, stop, t.quoteChar_);
                if (j < stop && p_[j] == t.quoteChar_ && scratch.Used() == 0) {
                    // The whole text is here: build the value straight from the input.
                    const bool isName = f->State == tsQuotedName;
                    if (!isName) {
                        finish(*f, TJsonValue::NewOwnedText(p_ + pos, j - pos));
                    } else {
                        f->NameInText = {p_ + pos, j - pos};
                        f->Resume = tsNameSep;
                        f->State = tsSkipBlank;
                    }
                    t.column_ += int64_t(j - pos); // the units after c, and the closing quote
                    t.offset_ += int64_t(j + 1 - pos);
                    pos = j + 1;
                    if (!isName) {
                        closeInline(f, pos);
                    } else if (pos < stop && p_[pos] == u':') {
                        // The usual colon right after a name: take it here, as tsNameSep would.
                        ++t.column_;
                        ++t.offset_;
                        ++pos;
                        f->Resume = tsMemberValue;
                        enterNext(f, pos, tsMemberValue);
                    }
                    continue;
                }
                scratch.Append(p_ + pos, int64_t(j - pos));
                t.column_ += int64_t(j - pos - 1);
                t.offset_ += int64_t(j - pos);
                pos = j;
                continue;
            }
            break;

        case tsEscape:
            switch (c) {
            case u'b':
                scratch.AppendUnit(0x08);
                f->State = f->Resume;
                break;
            case u'f':
                scratch.AppendUnit(0x0C);
                f->State = f->Resume;
                break;
            case u'n':
                scratch.AppendUnit(0x0A);
                f->State = f->Resume;
                break;
            case u'r':
                scratch.AppendUnit(0x0D);
                f->State = f->Resume;
                break;
            case u't':
                scratch.AppendUnit(0x09);
                f->State = f->Resume;
                break;
            case u'u':
                t.escapeValue_ = 0;
                t.matchPos_ = 0;
                f->State = tsUnicodeEscape;
                break;
            case u'x':
                t.escapeValue_ = 0;
                t.matchPos_ = 0;
                f->State = tsHexEscape;
                break;
            default:
                scratch.AppendUnit(c);
                f->State = f->Resume;
                break;
            }
            step = Step::Consume;
            break;

        case tsUnicodeEscape:
        case tsHexEscape: {
            const int d = numbers::hexDigit(c);
            if (d < 0) {
                step = fail(peString);
                break;
            }
            const int digits = f->State == tsUnicodeEscape ? 4 : 2;
            t.escapeValue_ = char16_t(t.escapeValue_ | (d << (4 * (digits - 1 - t.matchPos_))));
            if (++t.matchPos_ == digits) {
                scratch.AppendUnit(t.escapeValue_);
                f->State = f->Resume;
            }
            step = Step::Consume;
            break;
        }

        case tsWord:
            if (pathMode_) {
                step = pathWord(*f, c);
                if (step == Step::Reprocess)
                    goto dispatch;
                break;
            }
            if (c >= 0x100) {
                scratch.AppendUnit(c);
                step = Step::Consume;
            } else if (wordEnds(c)) {
                if (strict_) {
                    step = fail(peString);
                    break;
                }
                scratch.TrimEnd();
                finish(*f, TJsonValue::NewOwnedText(scratch.Chars(), size_t(scratch.Used())));
                goto dispatch;
            } else if (c == u'\\') {
                f->Resume = tsWord;
                f->State = tsEscape;
                step = Step::Consume;
            } else {
                scratch.AppendUnit(c);
                step = Step::Consume;
            }
            break;

        case tsNumber: {
            if (!isNumberChar(c)) {
                finish(*f, convertNumber(scratch.Chars(), size_t(scratch.Used()), t.fractional_, t.fractionDigits_));
                goto dispatch;
            }
            // Take the run of number characters at once.
            const size_t stop = stopFrom(pos);
            size_t j = pos;
            if (scratch.Used() == 0) {
                if (TJsonValue* v = readPlainNumber(p_, pos, stop, j, t.fractional_, t.fractionDigits_)) {
                    finish(*f, v);
                    t.column_ += int64_t(j - pos - 1);
                    t.offset_ += int64_t(j - pos);
                    pos = j;
                    closeInline(f, pos);
                    continue;
                }
                j = pos;
            }
            bool fractional = t.fractional_;
            int32_t fractionDigits = t.fractionDigits_;
            for (; j < stop; ++j) {
                const char16_t u = p_[j];
                if (u >= u'0' && u <= u'9') {
                    if (fractional && fractionDigits >= 0 && ++fractionDigits > 4)
                        fractionDigits = -1;
                } else if (u == u'.') {
                    fractional = true;
                    fractionDigits = 0;
                } else if (u == u'E' || u == u'e') {
                    fractional = true;
                    fractionDigits = -1;
                } else if (u != u'-' && u != u'+') {
                    break;
                }
            }
            t.fractional_ = fractional;
            t.fractionDigits_ = fractionDigits;
            t.column_ += int64_t(j - pos - 1);
            t.offset_ += int64_t(j - pos);
            if (j < stop && scratch.Used() == 0) {
                finish(*f, convertNumber(p_ + pos, j - pos, fractional, fractionDigits));
            } else {
                scratch.Append(p_ + pos, int64_t(j - pos));
            }
            pos = j;
            continue; // the unit at j is read afresh, as a reprocessed unit would be
        }

        case tsArrayNext:
            if (c == u']') {
                f->Resume = tsDone;
                f->State = tsSkipBlank;
                then = tsDone;
                step = Step::Consume;
                break;
            }
            f->State = tsArrayAdd;
            step = push(f);
            if (step == Step::Reprocess)
                goto dispatch;
            break;

        case tsArrayAdd:
            f->Current.Get()->Payload.Array->AppendOwned(finished_.Detach());
            f->Resume = tsArraySep;
            f->State = tsSkipBlank;
            goto dispatch;

        case tsArraySep:
            if (c == u']') {
                f->Resume = tsDone;
            } else if (c == u',') {
                f->Resume = tsArrayNext;
            } else {
                step = fail(peArray);
                break;
            }
            then = f->Resume;
            f->State = tsSkipBlank;
            step = Step::Consume;
            break;

        case tsMemberStart:
            if (c == u'}') {
                f->Resume = tsDone;
                f->State = tsSkipBlank;
                then = tsDone;
                step = Step::Consume;
            } else if (c == u'"' || c == u'\'') {
                t.quoteChar_ = c;
                scratch.Restart();
                f->State = tsQuotedName;
                if (takeQuote(pos, c))
                    goto quotedText;
                continue;
            } else if (c < 0x100 && (strict_ || isReserved(c))) {
                step = fail(peMemberName);
            } else {
                f->State = tsBareName;
                scratch.Restart();
                goto dispatch;
            }
            break;

        case tsBareName:
            if (c == 0 || c == u':') {
                f->MemberName.assign(scratch.View());
                f->Resume = tsNameSep;
                f->State = tsSkipBlank;
                goto dispatch;
            }
            if (c == u'\\') {
                f->Resume = tsBareName;
                f->State = tsEscape;
            } else {
                scratch.AppendUnit(c);
            }
            step = Step::Consume;
            break;

        case tsNameSep:
            if (c != u':') {
                step = fail(peMemberColon);
                break;
            }
            f->Resume = tsMemberValue;
            f->State = tsSkipBlank;
            then = tsMemberValue;
            step = Step::Consume;
            break;

        case tsMemberValue:
            f->State = tsMemberAdd;
            step = push(f);
            if (step == Step::Reprocess)
                goto dispatch;
            break;

        case tsMemberAdd:
            f->Current.Get()->Payload.Object->StoreOwned(f->Name(), finished_.Detach());
            f->ClearName();
            f->Resume = tsMemberSep;
            f->State = tsSkipBlank;
            goto dispatch;

        case tsMemberSep:
            if (c == u'}') {
                f->Resume = tsDone;
            } else if (c == u',') {
                f->Resume = tsMemberStart;
            } else {
                step = fail(peMemberSep);
                break;
            }
            then = f->Resume;
            f->State = tsSkipBlank;
            step = Step::Consume;
            break;

        case tsPathMember:
        case tsPathIndex: {
            const bool member = f->State == tsPathMember;
            const TJsonKind want = member ? skObject : skArray;
            if (!f->Current) {
                TJsonMemberTable* table = f->Container.ToObject();
                if (!(options_ & poCreatePath) || !table || scratch.Used() == 0) {
                    step = fail(member ? pePathObject : pePathArray);
                    break;
                }
                f->Current = newOfKind(want);
                table->Store(scratch.View(), f->Current);
            } else if (!f->Current.HasKind(want)) {
                step = fail(member ? pePathObject : pePathArray);
                break;
            }
            scratch.Restart();
            f->State = member ? tsWord : tsIndexValue;
            goto dispatch;
        }

        case tsPathCall:
            if (!f->Current.HasKind(skMethod) || !f->Current.Get()->Payload.Method) {
                step = fail(pePathMethod);
                break;
            }
            scratch.Restart();
            f->Pending = newOfKind(skArray);
            f->State = tsArgValue;
            goto dispatch;

        case tsIndexValue:
        case tsArgValue:
            if (c == (f->State == tsIndexValue ? u']' : u')')) {
                f->State = tsWord;
                step = Step::Consume;
                break;
            }
            f->State = f->State == tsIndexValue ? tsIndexPut : tsArgPut;
            ++t.argumentDepth_;
            step = push(f);
            if (step == Step::Reprocess)
                goto dispatch;
            break;

        case tsIndexPut:
            --t.argumentDepth_;
            f->Pending = std::move(finished_);
            scratch.Restart();
            f->Resume = tsWord;
            f->State = tsSkipBlank;
            step = c == u']' ? Step::Consume : fail(pePathArray);
            break;

        case tsArgPut: {
            --t.argumentDepth_;
            TJsonArray* args = f->Pending.ToArray();
            if (args)
                args->AppendOwned(finished_.Detach());
            if (c == u')') {
                if (args && args->ItemCount() == 1)
                    f->Pending = args->ItemAt(0);
                scratch.Restart();
                f->Resume = tsWord;
                f->State = tsSkipBlank;
                step = Step::Consume;
            } else if (c == u',') {
                scratch.Restart();
                f->Resume = tsArgValue;
                f->State = tsSkipBlank;
                step = Step::Consume;
            } else {
                // Stay in the argument state so a further call cannot count the depth down twice.
                ++t.argumentDepth_;
                step = fail(pePathMethod);
            }
            break;
        }
        }

        if (step == Step::Consume) {
            ++t.offset_;
            ++pos;
            if (then == tsDone)
                closeInline(f, pos);
            else if (then != tsSkipBlank)
                enterNext(f, pos, then);
            if (c == 0) {
                // Below the top level the container is still open, even when its last element is done (the
                // text ended inside a comment after it): nothing of it may pass for the document.
                if (t.level_ > 0 || (f->State != tsDone && f->Resume != tsDone))
                    t.error_ = peEndOfText;
                break;
            }
            continue;
        }
        if (step == Step::Fail) {
            failed = true;
            break;
        }
        break; // Stop
    }

    keepNames(true);
    if (t.error_ == peMoreInput)
        return {}; // the caller may feed the rest of the text to the same tokenizer
    if (failed || t.error_ != peNone) {
        // Nothing of the partly built tree survives a syntax error.
        const TJsonParseError e = t.error_;
        t.Reset();
        t.error_ = e;
        return {};
    }
    if ((options_ & poCallMethod) && f->Current.HasKind(skMethod) && f->Current.Get()->Payload.Method) {
        IJsonValue result;
        const IJsonValue method = f->Current;
        callMethod(method, f->Container, put_, result);
        return result;
    }
    return f->Current;
}

TJsonRun::Step TJsonRun::pathWord(TJsonTokenizerFrame& f, char16_t c) {
    TJsonWriterString& scratch = t_.scratch_;
    if (!isReserved(c)) {
        scratch.AppendUnit(c);
        return Step::Consume;
    }
    f.OuterContainer = f.Container;
    f.Container = f.Current ? f.Current : context_;
    const bool separator = c == u'.' || c == u'[' || c == u'(';
    const bool atTop = t_.argumentDepth_ == 0;
    const IJsonValue& container = f.Container;

    switch (container.GetKind()) {
    case skObject: {
        TJsonMemberTable* table = container.ToObject();
        const std::u16string_view name = scratch.View();
        if (!name.empty())
            f.Current = table->Lookup(name);
        if (separator) {
            f.State = c == u'.' ? tsPathMember : c == u'[' ? tsPathIndex : tsPathCall;
            return Step::Consume;
        }
        if (atTop && !name.empty()) {
            if (options_ & poPutValue) {
                table->Store(name, put_);
                f.Current = table->Lookup(name);
            } else if (options_ & poDelete) {
                f.Current = table->Extract(name);
            } else if (!f.Current && (options_ & poCreatePath)) {
                table->Store(name, newOfKind(kind_));
                f.Current = table->Lookup(name);
            }
        }
        f.State = tsDone;
        return Step::Reprocess;
    }

    case skArray: {
        TJsonArray* array = container.ToArray();
        if (!f.Pending && scratch.Used() > 0 && container == context_) {
            // A whole number as the first segment on an array selects that item.
            int64_t index = 0;
            const std::u16string_view digits = scratch.View();
            bool allDigits = true;
            for (char16_t u : digits)
                allDigits = allDigits && isDigit(u);
            if (allDigits && numbers::textToInteger(digits, index)) {
                f.Pending = TJsonValue::FromInteger(index);
                scratch.Restart();
            }
        }
        if (f.Pending) {
            const IJsonValue indexValue = std::move(f.Pending);
            f.Pending.Reset();
            if (!indexValue.HasKind(skInteger) || indexValue.ToInteger() < 0 ||
                indexValue.ToInteger() >= std::numeric_limits<int32_t>::max())
                return fail(pePathIndex);
            const auto index = static_cast<int32_t>(indexValue.ToInteger());
            f.Current = array->ItemAt(index);
            if (c == u'.' || c == u'[') {
                if (!f.Current) {
                    if (!(options_ & poCreatePath))
                        return fail(c == u'.' ? pePathObject : pePathArray);
                    f.Current = newOfKind(c == u'.' ? skObject : skArray);
                    array->SetItemAt(index, f.Current);
                }
                scratch.Restart();
                if (c == u'[')
                    f.State = tsPathIndex;
                return Step::Consume;
            }
            if (c == u'(') {
                f.State = tsPathCall;
                return Step::Consume;
            }
            if (atTop && (options_ & poPutValue)) {
                array->SetItemAt(index, put_);
                f.Current = put_;
            } else if (atTop && (options_ & poDelete)) {
                f.Current = array->RemoveAt(index);
            } else if (atTop && !f.Current && (options_ & poCreatePath)) {
                f.Current = newOfKind(kind_);
                array->SetItemAt(index, f.Current);
            }
            f.State = tsDone;
            return Step::Reprocess;
        }
        const auto lastItem = [&] { return array->ItemAt(array->ItemCount() - 1); };
        if (separator) {
            if (options_ & poPutValue) {
                if (c == u'(') {
                    f.Current.Reset();
                } else {
                    f.Current = newOfKind(c == u'.' ? skObject : skArray);
                    array->Append(f.Current);
                }
            } else {
                f.Current = lastItem();
            }
            if (c == u'.') {
                if (!f.Current.HasKind(skObject))
                    return fail(pePathObject);
                scratch.Restart();
            } else {
                f.State = c == u'[' ? tsPathIndex : tsPathCall;
            }
            return Step::Consume;
        }
        if (atTop && (options_ & poPutValue)) {
            array->Append(put_);
            f.Current = put_;
        } else if (scratch.Used() == 0) {
            if (atTop && (options_ & poDelete)) {
                f.Current = array->RemoveAt(array->ItemCount() - 1);
            } else {
                f.Current = lastItem();
                if (!f.Current && atTop && (options_ & poCreatePath)) {
                    f.Current = newOfKind(kind_);
                    array->Append(f.Current);
                }
            }
        }
        f.State = tsDone;
        return Step::Reprocess;
    }

    case skMethod: {
        if (separator) {
            f.Current.Reset();
            callMethod(container, f.OuterContainer, f.Pending, f.Current);
            f.Pending.Reset();
            scratch.Restart();
            if (c == u'(')
                f.State = tsPathCall;
            else if (c == u'[')
                f.State = tsPathIndex;
            return Step::Consume;
        }
        if (atTop && (options_ & poPutValue))
            return fail(pePathMethod);
        f.Current.Reset();
        callMethod(container, f.OuterContainer, f.Pending, f.Current);
        f.Pending.Reset();
        f.State = tsDone;
        return Step::Reprocess;
    }

    default:
        // A path cannot go on through a null, boolean, number or string.
        return Step::Consume;
    }
}

IJsonValue ParseWithTokenizer(TJsonTokenizer& tokenizer, std::u16string_view text, int64_t length, bool strict,
                              const IJsonValue& context, TJsonPathOptions options, const IJsonValue& putValue,
                              TJsonKind kind) {
    TJsonRun run(tokenizer, text, length, strict, context, options, putValue, kind);
    return run.Execute();
}

IJsonValue ParseString(std::u16string_view text, bool strict, bool partial, const IJsonValue& context,
                       TJsonPathOptions options, const IJsonValue& putValue, TJsonKind kind) {
    TJsonTokenizer tokenizer;
    IJsonValue result = ParseWithTokenizer(tokenizer, text, -1, strict, context, options, putValue, kind);
    if (tokenizer.Error() != peNone)
        return {};
    if (!partial) {
        const auto at = static_cast<size_t>(tokenizer.Offset());
        if (at < text.size() && text[at] != 0)
            return {};
        // A block comment still open after the value is text left over, not a blank.
        if (tokenizer.InBlockComment())
            return {};
    }
    return result;
}

IJsonValue ParseText(std::u16string_view text) {
    return ParseString(text, false, true);
}

} // namespace qarvia::json
