#pragma once

// The errors the HTTP client raises, and the socket error numbers and texts its messages carry.
//
// Socket failures are reported with the classic socket error numbers (10061 "Connection refused.",
// 11001 "Host not found.", ...) so that a message reads the same on every platform; Linux errno values and
// resolver failures are mapped onto them by socketErrorFromErrno() and socketErrorFromResolver().

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qarvia::http {

class EHttpException : public std::runtime_error {
public:
    explicit EHttpException(const std::string& message) : std::runtime_error(message) {}
};

// "Socket Error # %d\r\n%s" with the error number and its text.
class EHttpSocketError : public EHttpException {
public:
    explicit EHttpSocketError(int number);
    // For a platform error that has no number of its own in the table: the platform's number and text.
    EHttpSocketError(int number, const std::string& text);
    int LastError() const { return number; }

private:
    int number;
};

class EHttpConnClosedGracefully : public EHttpException {
public:
    EHttpConnClosedGracefully() : EHttpException("Connection Closed Gracefully.") {}
};

// An answer whose status was not accepted: the message is the status line; the answer body comes along.
class EHttpProtocolException : public EHttpException {
public:
    EHttpProtocolException(const std::string& statusLine, int code, std::string body)
        : EHttpException(statusLine), code(code), body(std::move(body)) {}
    int ErrorCode() const { return code; }
    const std::string& ErrorMessage() const { return body; }

private:
    int code;
    std::string body;
};

class EHttpMaxLineLengthExceeded : public EHttpException {
public:
    EHttpMaxLineLengthExceeded() : EHttpException("Max line length exceeded.") {}
};

class EHttpReadTimeout : public EHttpException {
public:
    EHttpReadTimeout() : EHttpException("Read Timeout") {}
};

class EHttpUnknownProtocol : public EHttpException {
public:
    explicit EHttpUnknownProtocol(const std::string& message = {}) : EHttpException(message) {}
};

// Text of a socket error number ("Connection refused." for 10061); empty for a number not in the table.
std::string socketErrorText(int number);

// The socket error number for a Linux errno value; 0 when the table has no counterpart.
int socketErrorFromErrno(int errnoValue);

// Throws the EHttpSocketError for a Linux errno value (the platform's own number and text when the
// table has no counterpart).
[[noreturn]] void throwSocketError(int errnoValue);

// Throws the EHttpSocketError for a getaddrinfo() failure (EAI_* code; errno consulted for EAI_SYSTEM).
[[noreturn]] void throwResolverError(int eaiCode, int errnoValue);

} // namespace qarvia::http
