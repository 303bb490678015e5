#include "json/JsonWriter.h"

#include "json/JsonNumbers.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/socket.h>
#include <unistd.h>
// SSE2 is part of every x86-64; QARVIA_JSON_NO_SIMD builds the plain loop alone (the tests run both).
#if defined(__SSE2__) && !defined(QARVIA_JSON_NO_SIMD)
#define QARVIA_JSON_SSE2 1
#include <emmintrin.h>
#endif

namespace qarvia::json {

// --- Sinks ---------------------------------------------------------------------------------------------

int64_t TJsonWriter::AppendText(const char16_t* text) {
    int64_t n = 0;
    while (text[n])
        ++n;
    return Append(text, n);
}

TJsonWriterString::TJsonWriterString()
    : chars_(static_cast<char16_t*>(std::malloc(size_t(InitialCapacity) * sizeof(char16_t)))) {
    if (!chars_)
        throw std::bad_alloc();
    chars_[0] = 0;
}

TJsonWriterString::~TJsonWriterString() {
    std::free(chars_);
}

void TJsonWriterString::grow(int64_t n) {
    int64_t wanted = capacity_ * 2;
    if (wanted < n + used_ + 8)
        wanted = n + used_ + 8;
    auto* grown = static_cast<char16_t*>(std::realloc(chars_, size_t(wanted) * sizeof(char16_t)));
    if (!grown)
        throw std::bad_alloc();
    chars_ = grown;
    capacity_ = wanted;
}

int64_t TJsonWriterString::Append(const char16_t* buffer, int64_t n) {
    if (n <= 0)
        return n;
    if (n >= capacity_ - used_)
        grow(n);
    std::memcpy(chars_ + used_, buffer, size_t(n) * sizeof(char16_t));
    used_ += n;
    chars_[used_] = 0;
    return n;
}

void TJsonWriterString::TrimEnd() noexcept {
    while (used_ > 0 && (chars_[used_ - 1] == u'\n' || chars_[used_ - 1] == u'\r' || chars_[used_ - 1] == u' '))
        --used_;
    chars_[used_] = 0;
}

int64_t TJsonMemoryStream::Write(const void* data, int64_t n) {
    if (n <= 0)
        return 0;
    bytes_.append(static_cast<const char*>(data), size_t(n));
    return n;
}

TJsonFileStream::TJsonFileStream(const std::string& fileName)
    : fd_(::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}

TJsonFileStream::~TJsonFileStream() {
    if (fd_ >= 0)
        ::close(fd_);
}

int64_t TJsonFileStream::Write(const void* data, int64_t n) {
    if (fd_ < 0)
        return -1;
    const char* p = static_cast<const char*>(data);
    int64_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd_, p + done, size_t(n - done));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        done += w;
    }
    size_ += done;
    return done;
}

void TJsonFileStream::SetSize(int64_t size) {
    if (fd_ < 0)
        return;
    if (::ftruncate(fd_, size) == 0) {
        size_ = size;
        ::lseek(fd_, size, SEEK_SET);
    }
}

int64_t TJsonUnicodeWriterStream::Append(const char16_t* buffer, int64_t n) {
    if (n <= 0)
        return 0;
    char bytes[2048];
    int64_t written = 0;
    while (written < n) {
        const int64_t chunk = n - written < 1024 ? n - written : 1024;
        for (int64_t i = 0; i < chunk; ++i) {
            bytes[2 * i] = static_cast<char>(buffer[written + i] & 0xFF);
            bytes[2 * i + 1] = static_cast<char>(buffer[written + i] >> 8);
        }
        if (stream_.Write(bytes, chunk * 2) != chunk * 2) {
            failed_ = true;
            return -1;
        }
        written += chunk;
    }
    return n * 2;
}

namespace {

// Low bytes of the units, through a stack buffer (a heap buffer for runs over 1024 units).
template <typename Send> int64_t sendLowBytes(const char16_t* buffer, int64_t n, Send send) {
    char stackBuf[1024];
    char* bytes = stackBuf;
    std::unique_ptr<char[]> heap;
    if (n > int64_t(sizeof stackBuf)) {
        heap.reset(new char[size_t(n)]);
        bytes = heap.get();
    }
    for (int64_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(buffer[i] & 0xFF);
    return send(bytes, n);
}

} // namespace

int64_t TJsonAnsiWriterStream::Append(const char16_t* buffer, int64_t n) {
    if (n <= 0)
        return 0;
    return sendLowBytes(buffer, n, [this](const char* bytes, int64_t count) -> int64_t {
        const int64_t w = stream_.Write(bytes, count);
        if (w != count) {
            failed_ = true;
            return -1;
        }
        return w;
    });
}

int64_t TJsonWriterSock::Append(const char16_t* buffer, int64_t n) {
    if (n <= 0 || failed_)
        return failed_ ? -1 : 0;
    return sendLowBytes(buffer, n, [this](const char* bytes, int64_t count) -> int64_t {
        int64_t sent = 0;
        while (sent < count) {
            // No SIGPIPE for a peer that went away: the failure is reported through the count.
            const ssize_t s = ::send(socket_, bytes + sent, size_t(count - sent), MSG_NOSIGNAL);
            if (s < 0) {
                if (errno == EINTR)
                    continue;
                failed_ = true;
                return -1;
            }
            sent += s;
        }
        total_ += sent;
        return sent;
    });
}

std::u16string CurrencyText(int64_t scaled) {
    if (scaled == 0)
        return u"0";
    const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, magnitude);
    std::string d(digits, r.ptr);
    if (d.size() < 5)
        d.insert(0, 5 - d.size(), '0');
    std::string decimals = d.substr(d.size() - 4);
    while (!decimals.empty() && decimals.back() == '0')
        decimals.pop_back();
    std::u16string out;
    if (scaled < 0)
        out.push_back(u'-');
    for (char ch : d.substr(0, d.size() - 4))
        out.push_back(static_cast<char16_t>(ch));
    out.push_back(u'.');
    for (char ch : decimals)
        out.push_back(static_cast<char16_t>(ch));
    return out;
}

// --- Writer --------------------------------------------------------------------------------------------

namespace {

constexpr char16_t HexDigits[] = u"0123456789abcdef";

class TextWriter {
public:
    TextWriter(TJsonWriter& sink, bool indent, bool escape)
        : sink_(sink), string_(dynamic_cast<TJsonWriterString*>(&sink)), indent_(indent), escape_(escape) {}

    void value(TJsonValue* v, int level);
    int64_t last() const { return last_; }

private:
    void put(const char16_t* s, int64_t n) {
        // The string sink is the common one (ToJson); calling it directly lets the copy be inlined.
        if (n > 0)
            last_ = string_ ? string_->Append(s, n) : sink_.Append(s, n);
    }
    void putAscii(const char* s, size_t n) {
        char16_t buf[40];
        for (size_t i = 0; i < n; ++i)
            buf[i] = static_cast<char16_t>(static_cast<unsigned char>(s[i]));
        put(buf, int64_t(n));
    }
    void put(std::u16string_view s) { put(s.data(), int64_t(s.size())); }
    // A line break followed by level spaces (none above level 127).
    void newLine(int level) {
        char16_t buf[2 + 128];
        buf[0] = u'\r';
        buf[1] = u'\n';
        int n = 2;
        if (level > 0 && level <= 127)
            for (int i = 0; i < level; ++i)
                buf[n++] = u' ';
        put(buf, n);
    }
    void quoted(std::u16string_view s);

    TJsonWriter& sink_;
    TJsonWriterString* string_;
    bool indent_;
    bool escape_;
    int64_t last_ = 0;
};

// Index of the first unit at or after i that is written escaped (n when none is): '"', '\\', '/' and U+0000,
// and with escape set every unit below U+0020 or above U+007F. Eight units at a time where SSE2 is there.
size_t nextEscaped(const char16_t* p, size_t i, size_t n, bool escape) {
#ifdef QARVIA_JSON_SSE2
    const __m128i quote = _mm_set1_epi16(u'"');
    const __m128i backslash = _mm_set1_epi16(u'\\');
    const __m128i slash = _mm_set1_epi16(u'/');
    const __m128i zero = _mm_setzero_si128();
    const __m128i lastControl = _mm_set1_epi16(0x1F);
    const __m128i lastAscii = _mm_set1_epi16(0x7F);
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)),
                                   _mm_cmpeq_epi16(v, slash));
        if (escape) {
            const __m128i control = _mm_cmpeq_epi16(_mm_subs_epu16(v, lastControl), zero);
            const __m128i ascii = _mm_cmpeq_epi16(_mm_subs_epu16(v, lastAscii), zero);
            hit = _mm_or_si128(_mm_or_si128(hit, control), _mm_andnot_si128(ascii, _mm_cmpeq_epi16(zero, zero)));
        } else {
            hit = _mm_or_si128(hit, _mm_cmpeq_epi16(v, zero));
        }
        if (const int mask = _mm_movemask_epi8(hit))
            return i + size_t(__builtin_ctz(unsigned(mask)) >> 1);
    }
#endif
    for (; i < n; ++i) {
        const char16_t c = p[i];
        if (c == u'"' || c == u'\\' || c == u'/' || (escape ? c < 0x20 || c >= 0x80 : c == 0))
            return i;
    }
    return n;
}

void TextWriter::quoted(std::u16string_view s) {
    put(u"\"", 1);
    const char16_t* p = s.data();
    const size_t n = s.size();
    size_t runStart = 0;
    char16_t esc[6];
    for (size_t i = 0; i < n; ++i) {
        // Units written as they are go out in runs.
        i = nextEscaped(p, i, n, escape_);
        if (i >= n)
            break;
        const char16_t c = p[i];
        int escLen = 0;
        if (escape_) {
            if (c >= 0x20 && c < 0x80 && c != u'"' && c != u'\\' && c != u'/')
                continue;
            esc[0] = u'\\';
            switch (c) {
            case 0x08:
                esc[1] = u'b';
                escLen = 2;
                break;
            case 0x09:
                esc[1] = u't';
                escLen = 2;
                break;
            case 0x0A:
                esc[1] = u'n';
                escLen = 2;
                break;
            case 0x0C:
                esc[1] = u'f';
                escLen = 2;
                break;
            case 0x0D:
                esc[1] = u'r';
                escLen = 2;
                break;
            case u'"':
            case u'\\':
            case u'/':
                esc[1] = c;
                escLen = 2;
                break;
            default:
                esc[1] = u'u';
                esc[2] = HexDigits[(c >> 12) & 0xF];
                esc[3] = HexDigits[(c >> 8) & 0xF];
                esc[4] = HexDigits[(c >> 4) & 0xF];
                esc[5] = HexDigits[c & 0xF];
                escLen = 6;
                break;
            }
        } else {
            if (c != 0 && c != u'"' && c != u'\\' && c != u'/')
                continue;
            esc[0] = u'\\';
            if (c == 0) {
                esc[1] = u'u';
                esc[2] = esc[3] = esc[4] = esc[5] = u'0';
                escLen = 6;
            } else {
                esc[1] = c;
                escLen = 2;
            }
        }
        put(p + runStart, int64_t(i - runStart));
        put(esc, escLen);
        runStart = i + 1;
    }
    put(p + runStart, int64_t(n - runStart));
    put(u"\"", 1);
}

void TextWriter::value(TJsonValue* v, int level) {
    if (!v) {
        put(u"null", 4);
        return;
    }
    if (v->Busy) {
        put(u"null", 4);
        return;
    }
    v->Busy = true;
    switch (v->Kind) {
    case skNull:
        put(u"null", 4);
        break;
    case skBoolean:
        if (v->Payload.Boolean)
            put(u"true", 4);
        else
            put(u"false", 5);
        break;
    case skInteger: {
        char buf[24];
        const auto r = std::to_chars(buf, buf + sizeof buf, v->Payload.Integer);
        putAscii(buf, size_t(r.ptr - buf));
        break;
    }
    case skDouble: {
        char buf[40];
        putAscii(buf, size_t(numbers::formatDouble(v->Payload.Double, buf)));
        break;
    }
    case skCurrency:
        put(CurrencyText(v->Payload.Currency));
        break;
    case skString:
        quoted(v->Text);
        break;
    case skMethod:
        break;
    case skObject: {
        const TJsonMemberTable* table = v->Payload.Object;
        if (table->MemberCount() == 0) {
            put(u"{}", 2);
            break;
        }
        put(u"{", 1);
        int inner = indent_ ? level + 1 : level;
        bool first = true;
        TJsonAvlIterator it(table);
        for (bool more = it.First(); more; more = it.Next()) {
            const TJsonAvlEntry* node = it.Current();
            TJsonValue* member = node->Value;
            if (member && (member->Kind == skMethod || member->Busy))
                continue;
            if (!first)
                put(u",", 1);
            first = false;
            if (indent_)
                newLine(inner);
            quoted(node->Name());
            if (indent_)
                put(u": ", 2);
            else
                put(u":", 1);
            value(member, inner);
        }
        if (indent_) {
            inner = level;
            newLine(inner);
        }
        put(u"}", 1);
        break;
    }
    case skArray: {
        const TJsonArray* array = v->Payload.Array;
        if (array->ItemCount() == 0) {
            put(u"[]", 2);
            break;
        }
        put(u"[", 1);
        const int inner = indent_ ? level + 1 : level;
        if (indent_)
            newLine(inner);
        bool first = true;
        for (int32_t i = 0; i < array->ItemCount(); ++i) {
            TJsonValue* item = array->RawItem(i);
            if (item && (item->Kind == skMethod || item->Busy))
                continue;
            if (!first)
                put(u",", 1);
            first = false;
            value(item, inner);
        }
        put(u"]", 1);
        break;
    }
    }
    v->Busy = false;
}

} // namespace

int64_t IJsonValue::WriteTo(TJsonWriter& sink, bool indent, bool escape, int level) const {
    TextWriter w(sink, indent, escape);
    w.value(v_, level);
    if (sink.Failed())
        return -1;
    // Callers only look for a negative count; a string value reports 0 as it always has.
    return HasKind(skString) ? 0 : w.last();
}

std::u16string IJsonValue::ToJson(bool indent, bool escape) const {
    TJsonWriterString sink;
    if (WriteTo(sink, indent, escape, 0) < 0 || sink.Used() == 0)
        return {};
    return sink.Text();
}

int64_t IJsonValue::SaveToStream(TJsonStream& stream, bool indent, bool escape) const {
    TJsonUnicodeWriterStream unicodeSink(stream);
    TJsonAnsiWriterStream ansiSink(stream);
    TJsonWriter& sink = escape ? static_cast<TJsonWriter&>(ansiSink) : unicodeSink;
    if (WriteTo(sink, indent, escape, 0) < 0) {
        sink.Restart();
        return 0;
    }
    return stream.Size();
}

int64_t IJsonValue::SaveToFile(const std::string& fileName, bool indent, bool escape) const {
    TJsonFileStream file(fileName);
    if (!file.IsOpen())
        return 0;
    return SaveToStream(file, indent, escape);
}

int64_t IJsonValue::SaveToSocket(int socket, bool indent, bool escape) const {
    TJsonWriterSock sink(socket);
    if (WriteTo(sink, indent, escape, 0) < 0)
        return 0;
    return sink.Total();
}

int64_t IJsonValue::MeasureText(bool indent, bool escape) const {
    TJsonWriterFake sink;
    WriteTo(sink, indent, escape, 0);
    return sink.Total();
}

} // namespace qarvia::json
