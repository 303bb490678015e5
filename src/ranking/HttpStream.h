#pragma once

// The byte stream the HTTP client talks through, and the buffered reader the protocol code uses.
//
// The protocol code never touches a socket: it reads and writes an IHttpStream. THttpSocketStream is the
// real one (a TCP connection); tests and the fuzz target hand the client streams made of plain bytes.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace qarvia::http {

class IHttpStream {
public:
    virtual ~IHttpStream() = default;
    // Waits until a read would not block (data or end of stream); `timeoutMs` 0 means no limit.
    // False when the time ran out.
    virtual bool waitReadable(int timeoutMs) = 0;
    // Reads at most `size` bytes, waiting as waitReadable(0) would; 0 means end of stream.
    // Throws EHttpSocketError.
    virtual std::size_t read(char* buffer, std::size_t size) = 0;
    // Writes every byte, each wait for room limited to `timeoutMs` (0: no limit). Throws EHttpSocketError
    // (10060 "Connection timed out." when the peer takes nothing for that long).
    virtual void write(const char* data, std::size_t size, int timeoutMs) = 0;
    // Waits as waitReadable(timeoutMs) would, then reads as read() does; nothing when the time ran out.
    virtual std::optional<std::size_t> readWithin(char* buffer, std::size_t size, int timeoutMs) {
        if (!waitReadable(timeoutMs))
            return std::nullopt;
        return read(buffer, size);
    }
};

// An IPv4 TCP connection.
class THttpSocketStream : public IHttpStream {
public:
    // "LOCALHOST" (any case) is 127.0.0.1, a dotted address is used as it stands, any other name is
    // resolved. `timeoutMs` limits the connect (0: the system's own limit); running out of it throws
    // EHttpSocketError 10060. Failures throw EHttpSocketError (11001 "Host not found." for a name that
    // does not resolve).
    static std::unique_ptr<THttpSocketStream> connect(const std::string& host, int port, int timeoutMs);

    ~THttpSocketStream() override;
    THttpSocketStream(const THttpSocketStream&) = delete;
    THttpSocketStream& operator=(const THttpSocketStream&) = delete;

    bool waitReadable(int timeoutMs) override;
    std::size_t read(char* buffer, std::size_t size) override;
    void write(const char* data, std::size_t size, int timeoutMs) override;
    // The receive waits by itself, limited by the socket's receive time-out: one call where a wait and a
    // read would take two.
    std::optional<std::size_t> readWithin(char* buffer, std::size_t size, int timeoutMs) override;

private:
    explicit THttpSocketStream(int fd) : fd(fd) {}
    int fd;
    int receiveTimeout = 0; // the socket's receive time-out as last set, in milliseconds (0: none)
};

// A stream over bytes in memory: reads give `answer` in pieces of at most `pieceSize` bytes, then the end of
// the stream; writes are collected. For tests and the fuzz target, and wherever a canned answer will do.
class THttpMemoryStream : public IHttpStream {
public:
    explicit THttpMemoryStream(std::string answer, std::size_t pieceSize = 4096)
        : answer(std::move(answer)), pieceSize(pieceSize == 0 ? 1 : pieceSize) {}
    bool waitReadable(int) override { return true; }
    std::size_t read(char* buffer, std::size_t size) override;
    void write(const char* data, std::size_t size, int) override { written.append(data, size); }

    const std::string& writtenBytes() const { return written; }

private:
    std::string answer;
    std::size_t pieceSize;
    std::size_t pos = 0;
    std::string written;
};

enum TMaxLineAction { maException, maSplit };

// Buffered reading over a stream: lines, counted bytes and everything up to the end of the stream.
// The stream is dropped (closed) as soon as it reports its end; bytes already buffered stay readable.
class THttpIOHandler {
public:
    void open(std::unique_ptr<IHttpStream> stream);
    void close();
    // Open, or still holding unread bytes.
    bool connected() const { return stream != nullptr || pos < buffer.size(); }
    bool streamOpen() const { return stream != nullptr; }
    bool hasUnread() const { return pos < buffer.size(); }

    int ReadTimeout = 0; // milliseconds each wait for data may take; 0: no limit

    using Clock = std::chrono::steady_clock;
    // A point in time no wait may pass, whatever ReadTimeout allows: once it is reached, reads (and
    // writes) throw EHttpReadTimeout. None by default.
    void setDeadline(std::optional<Clock::time_point> at) { deadline = at; }
    // Milliseconds left before the deadline, 0 without one. Throws EHttpReadTimeout when it has passed.
    int timeLeft() const;
    // The longest the next wait may take: ReadTimeout cut to what is left before the deadline (0: no limit).
    // Throws EHttpReadTimeout when the deadline has passed.
    int waitLimit() const;
    std::size_t MaxLineLength = 16384;
    TMaxLineAction MaxLineAction = maException;
    std::size_t RecvBufferSize = 32768;
    std::size_t SendBufferSize = 32768;

    // One line without its LF and the CR before it. Throws EHttpConnClosedGracefully when the stream ends
    // before the line does, EHttpMaxLineLengthExceeded for a line longer than MaxLineLength (also when no LF
    // comes at all), EHttpReadTimeout when a wait runs out.
    std::string readLine();
    // Appends `count` bytes to `out`; false when the stream ended first (what came is kept).
    bool readBytes(std::size_t count, std::string& out);
    // Appends everything up to the end of the stream; throws EHttpException when more than `limit` bytes
    // would be appended.
    void readToEnd(std::string& out, std::size_t limit);
    // Writes in pieces of at most SendBufferSize bytes; each wait for room is limited as a read's wait is.
    void write(const std::string& data);

private:
    // Reads more into the buffer; false at the end of the stream.
    bool fill();
    std::size_t buffered() const { return buffer.size() - pos; }

    std::unique_ptr<IHttpStream> stream;
    std::optional<Clock::time_point> deadline;
    std::string buffer;
    std::size_t pos = 0;
    std::unique_ptr<char[]> scratch; // what one read receives
    std::size_t scratchSize = 0;
};

} // namespace qarvia::http
