#include "ranking/HttpStream.h"

#include "ranking/HttpErrors.h"
#include "ranking/HttpText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qarvia::http {

namespace {

// Polls one descriptor, restarting after signals with the time that is left. The events that came, 0 on
// time-out.
short pollEvents(int fd, short events, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs > 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            wait = static_cast<int>(std::max<long long>(left, 0));
        }
        pollfd item{fd, events, 0};
        int n = ::poll(&item, 1, wait);
        if (n > 0)
            return item.revents;
        if (n == 0)
            return 0;
        if (errno != EINTR)
            throwSocketError(errno);
    }
}

bool pollFor(int fd, short events, int timeoutMs) {
    return pollEvents(fd, events, timeoutMs) != 0;
}

// Sets the socket's send or receive time-out (SO_SNDTIMEO, SO_RCVTIMEO); 0 means none.
void setTimeout(int fd, int option, int timeoutMs) {
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::setsockopt(fd, SOL_SOCKET, option, &limit, sizeof limit) != 0)
        throwSocketError(errno);
}

int millisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
}

// Opens a socket to `address` and connects it. The socket stays in blocking mode, so the connect is the one
// call that waits (the send time-out limits it); every later send and receive says for itself whether it
// may wait. Throws EHttpSocketError.
int connectTo(const sockaddr_in& address, int timeoutMs) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throwSocketError(errno);
    try {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        if (timeoutMs > 0)
            setTimeout(fd, SO_SNDTIMEO, timeoutMs);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            // A connect cut short by its time-out reports EINPROGRESS; one cut short by a signal goes on
            // in the background (EINTR, or EALREADY when restarted): wait for it with the time that is left.
            if (errno == EINPROGRESS)
                throw EHttpSocketError(10060);
            if (errno != EINTR && errno != EALREADY)
                throwSocketError(errno);
            int left = timeoutMs > 0 ? millisecondsLeft(deadline) : 0;
            if (timeoutMs > 0 && left == 0)
                throw EHttpSocketError(10060);
            short revents = pollEvents(fd, POLLOUT, left);
            if (revents == 0)
                throw EHttpSocketError(10060);
            // A connect that failed reports POLLERR or POLLHUP; only then is there an error to fetch.
            if (revents & (POLLERR | POLLHUP)) {
                int error = 0;
                socklen_t length = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
                    throwSocketError(errno);
                if (error != 0)
                    throwSocketError(error);
            }
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    return fd;
}

} // namespace

std::unique_ptr<THttpSocketStream> THttpSocketStream::connect(const std::string& host, int port, int timeoutMs) {
    if (port <= 0 || port > 65535)
        throw EHttpSocketError(10049);

    std::vector<sockaddr_in> addresses;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (sameTextIgnoringCase(host, "LOCALHOST")) {
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addresses.push_back(address);
    } else if (isIPv4Address(host)) {
        ::inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        addresses.push_back(address);
    } else {
        if (host.empty() || host.find('\0') != std::string::npos)
            throw EHttpSocketError(11001);
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (status != 0)
            throwResolverError(status, errno);
        for (addrinfo* item = found; item != nullptr; item = item->ai_next) {
            if (item->ai_family != AF_INET || item->ai_addrlen < sizeof(sockaddr_in))
                continue;
            sockaddr_in resolved;
            std::memcpy(&resolved, item->ai_addr, sizeof resolved);
            resolved.sin_port = address.sin_port;
            addresses.push_back(resolved);
        }
        ::freeaddrinfo(found);
        if (addresses.empty())
            throw EHttpSocketError(11001);
    }

    // Try each address in the resolver's order; the last failure is the one reported.
    for (std::size_t i = 0;; ++i) {
        try {
            return std::unique_ptr<THttpSocketStream>(new THttpSocketStream(connectTo(addresses[i], timeoutMs)));
        } catch (const EHttpSocketError&) {
            if (i + 1 == addresses.size())
                throw;
        }
    }
}

THttpSocketStream::~THttpSocketStream() {
    ::close(fd);
}

bool THttpSocketStream::waitReadable(int timeoutMs) {
    return pollFor(fd, POLLIN, timeoutMs);
}

std::size_t THttpSocketStream::read(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throwSocketError(errno);
        pollFor(fd, POLLIN, 0);
    }
}

std::optional<std::size_t> THttpSocketStream::readWithin(char* buffer, std::size_t size, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int limit = timeoutMs;
    for (;;) {
        // Set again only when the limit changes: for a request of the ranking tab, once per connection.
        if (limit != receiveTimeout) {
            setTimeout(fd, SO_RCVTIMEO, limit);
            receiveTimeout = limit;
        }
        ssize_t n = ::recv(fd, buffer, size, 0);
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return std::nullopt; // the time-out ran out
        if (errno != EINTR)
            throwSocketError(errno);
        // A signal: wait on with what is left of the limit.
        if (timeoutMs > 0 && (limit = millisecondsLeft(deadline)) == 0)
            return std::nullopt;
    }
}

void THttpSocketStream::write(const char* data, std::size_t size, int timeoutMs) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throwSocketError(errno);
        if (!pollFor(fd, POLLOUT, timeoutMs))
            throw EHttpSocketError(10060);
    }
}

std::size_t THttpMemoryStream::read(char* buffer, std::size_t size) {
    std::size_t take = std::min({size, pieceSize, answer.size() - pos});
    std::memcpy(buffer, answer.data() + pos, take);
    pos += take;
    return take;
}

void THttpIOHandler::open(std::unique_ptr<IHttpStream> newStream) {
    stream = std::move(newStream);
    buffer.clear();
    pos = 0;
}

void THttpIOHandler::close() {
    stream.reset();
    buffer.clear();
    pos = 0;
}

int THttpIOHandler::timeLeft() const {
    if (!deadline)
        return 0;
    const long long left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0)
        throw EHttpReadTimeout();
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

int THttpIOHandler::waitLimit() const {
    const int left = timeLeft();
    if (left == 0)
        return ReadTimeout;
    return ReadTimeout > 0 ? std::min(ReadTimeout, left) : left;
}

bool THttpIOHandler::fill() {
    if (!stream)
        return false;
    if (pos > 0 && pos >= buffer.size() / 2) {
        buffer.erase(0, pos);
        pos = 0;
    }
    // Received into a buffer of its own: growing `buffer` by a whole piece would clear 32 KB per read
    // (most answers are a few hundred bytes).
    std::size_t chunk = std::max<std::size_t>(RecvBufferSize, 1);
    if (scratchSize < chunk) {
        scratch = std::make_unique_for_overwrite<char[]>(chunk);
        scratchSize = chunk;
    }
    std::optional<std::size_t> got = stream->readWithin(scratch.get(), chunk, waitLimit());
    if (!got)
        throw EHttpReadTimeout();
    std::size_t n = *got;
    buffer.append(scratch.get(), n);
    if (n == 0) {
        // The peer closed: the connection ends here, the bytes already read stay available.
        stream.reset();
        return false;
    }
    return true;
}

std::string THttpIOHandler::readLine() {
    std::size_t searched = 0;
    for (;;) {
        std::size_t lf = buffer.find('\n', pos + searched);
        std::size_t limit = MaxLineLength;
        if (lf != std::string::npos) {
            std::size_t end = lf;
            if (end > pos && buffer[end - 1] == '\r')
                --end;
            if (end - pos > limit) {
                if (MaxLineAction == maException)
                    throw EHttpMaxLineLengthExceeded();
                std::string line = buffer.substr(pos, limit);
                pos += limit;
                return line;
            }
            std::string line = buffer.substr(pos, end - pos);
            pos = lf + 1;
            return line;
        }
        // No LF yet: a line already longer than the limit (a CR may still precede its LF) is too long now.
        if (buffered() > limit + 1) {
            if (MaxLineAction == maException)
                throw EHttpMaxLineLengthExceeded();
            std::string line = buffer.substr(pos, limit);
            pos += limit;
            return line;
        }
        searched = buffered();
        if (!fill())
            throw EHttpConnClosedGracefully();
    }
}

bool THttpIOHandler::readBytes(std::size_t count, std::string& out) {
    while (count > 0) {
        if (buffered() == 0 && !fill())
            return false;
        std::size_t take = std::min(count, buffered());
        out.append(buffer, pos, take);
        pos += take;
        count -= take;
    }
    return true;
}

void THttpIOHandler::readToEnd(std::string& out, std::size_t limit) {
    std::size_t taken = 0;
    for (;;) {
        std::size_t take = buffered();
        if (taken + take > limit)
            throw EHttpException("Answer too large");
        out.append(buffer, pos, take);
        taken += take;
        pos += take;
        if (!fill())
            break;
    }
    // Bytes that came with the end of the stream.
    if (taken + buffered() > limit)
        throw EHttpException("Answer too large");
    out.append(buffer, pos, buffered());
    pos = buffer.size();
}

void THttpIOHandler::write(const std::string& data) {
    if (!stream)
        throw EHttpSocketError(10057);
    std::size_t piece = std::max<std::size_t>(SendBufferSize, 1);
    for (std::size_t at = 0; at < data.size(); at += piece) {
        try {
            stream->write(data.data() + at, std::min(piece, data.size() - at), waitLimit());
        } catch (const EHttpSocketError&) {
            // A peer that takes nothing until the deadline ends the exchange as a silent one does.
            if (deadline && Clock::now() >= *deadline)
                throw EHttpReadTimeout();
            throw;
        }
    }
}

} // namespace qarvia::http
