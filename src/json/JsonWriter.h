#pragma once

// Sinks the writer (IJsonValue::WriteTo) appends JSON text to, the byte streams they write into, and the
// currency text. A sink that fails (a stream or socket refusing data) remembers it: Failed() stays true
// until Restart, and the serialising calls then report failure instead of a short count.

#include "json/JsonValue.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qarvia::json {

class TJsonWriter {
public:
    virtual ~TJsonWriter() = default;
    // Appends n units; returns a count (see each sink), negative on failure.
    virtual int64_t Append(const char16_t* buffer, int64_t n) = 0;
    // Appends a zero-terminated text.
    int64_t AppendText(const char16_t* text);
    virtual void Restart() = 0;
    bool Failed() const noexcept { return failed_; }

protected:
    bool failed_ = false;
};

// Growable UTF-16 buffer; also the reader's token buffer.
class TJsonWriterString final : public TJsonWriter {
public:
    static constexpr int64_t InitialCapacity = 32;

    TJsonWriterString();
    ~TJsonWriterString() override;
    TJsonWriterString(const TJsonWriterString&) = delete;
    TJsonWriterString& operator=(const TJsonWriterString&) = delete;

    int64_t Append(const char16_t* buffer, int64_t n) override;
    void Restart() override {
        used_ = 0;
        chars_[0] = 0;
    }

    void AppendUnit(char16_t c) {
        if (used_ + 1 >= capacity_)
            grow(1);
        chars_[used_++] = c;
        chars_[used_] = 0;
    }
    void RemoveLast() noexcept {
        if (used_ > 0)
            chars_[--used_] = 0;
    }
    // Drops trailing line feeds, carriage returns and spaces.
    void TrimEnd() noexcept;

    const char16_t* Chars() const noexcept { return chars_; }
    int64_t Used() const noexcept { return used_; }
    int64_t Capacity() const noexcept { return capacity_; }
    std::u16string_view View() const noexcept { return {chars_, static_cast<size_t>(used_)}; }
    std::u16string Text() const { return std::u16string(View()); }

private:
    void grow(int64_t n);

    char16_t* chars_;
    int64_t used_ = 0;
    int64_t capacity_ = InitialCapacity;
};

// A byte stream the stream sinks write into.
class TJsonStream {
public:
    virtual ~TJsonStream() = default;
    // Writes n bytes; returns the count written (negative on failure).
    virtual int64_t Write(const void* data, int64_t n) = 0;
    // Truncates (or extends) the stream and moves the write position to its end.
    virtual void SetSize(int64_t size) = 0;
    virtual int64_t Size() const = 0;
};

// A stream in memory.
class TJsonMemoryStream final : public TJsonStream {
public:
    int64_t Write(const void* data, int64_t n) override;
    void SetSize(int64_t size) override { bytes_.resize(static_cast<size_t>(size)); }
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    const std::string& Bytes() const noexcept { return bytes_; }

private:
    std::string bytes_;
};

// A file opened for writing (created or truncated); closed on destruction.
class TJsonFileStream final : public TJsonStream {
public:
    explicit TJsonFileStream(const std::string& fileName);
    ~TJsonFileStream() override;
    TJsonFileStream(const TJsonFileStream&) = delete;
    TJsonFileStream& operator=(const TJsonFileStream&) = delete;

    bool IsOpen() const noexcept { return fd_ >= 0; }
    int64_t Write(const void* data, int64_t n) override;
    void SetSize(int64_t size) override;
    int64_t Size() const override { return size_; }

private:
    int fd_ = -1;
    int64_t size_ = 0;
};

// Base of the two stream sinks.
class TJsonWriterStream : public TJsonWriter {
public:
    explicit TJsonWriterStream(TJsonStream& stream) : stream_(stream) {}
    void Restart() override {
        stream_.SetSize(0);
        failed_ = false;
    }

protected:
    TJsonStream& stream_;
};

// Each unit as two bytes, low byte first.
class TJsonUnicodeWriterStream final : public TJsonWriterStream {
public:
    using TJsonWriterStream::TJsonWriterStream;
    int64_t Append(const char16_t* buffer, int64_t n) override;
};

// The low byte of each unit (the writer's escaping mode keeps all output 7-bit).
class TJsonAnsiWriterStream final : public TJsonWriterStream {
public:
    using TJsonWriterStream::TJsonWriterStream;
    int64_t Append(const char16_t* buffer, int64_t n) override;
};

// Counts units without storing them.
class TJsonWriterFake final : public TJsonWriter {
public:
    int64_t Append(const char16_t*, int64_t n) override {
        if (n > 0)
            total_ += n;
        return total_;
    }
    void Restart() override { total_ = 0; }
    int64_t Total() const noexcept { return total_; }

private:
    int64_t total_ = 0;
};

// Sends the low byte of each unit to a connected socket. A short send is continued until everything is
// sent; a refused send marks the sink failed.
class TJsonWriterSock final : public TJsonWriter {
public:
    explicit TJsonWriterSock(int socket) : socket_(socket) {}
    int64_t Append(const char16_t* buffer, int64_t n) override;
    void Restart() override {
        total_ = 0;
        failed_ = false;
    }
    int64_t Total() const noexcept { return total_; }

private:
    int socket_;
    int64_t total_ = 0;
};

// Text of a currency value from its scaled integer: 15000 -> "1.5", 10000 -> "1.", 5 -> "0.0005".
std::u16string CurrencyText(int64_t scaled);

} // namespace qarvia::json
