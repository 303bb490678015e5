#pragma once

// TsuCustomHTTP: downloads one URL at a time on a worker thread of its own and reports every outcome on
// the main thread, while the worker waits for the handler to return.
//
// Use: set URL (and OutputFileName to write a file, or leave it empty to keep the body in memory), assign
// the handlers you need, call StartTransfer(). Exactly one of OnDone, OnConnLost, OnHostUnreachable,
// OnHTTPError and OnSkipped ends every transfer that was neither stopped nor replaced:
//   OnDone            status 200/206 and the whole body arrived (the stream is rewound)
//   OnConnLost        status 200/206 but the body ended short, stalled, or could not be stored
//   OnHostUnreachable no HTTP status at all (name, connection, TLS, time-out, unusable URL)
//   OnHTTPError       any other status; its body is in the (memory) stream, no output file is left
//   OnSkipped         OnHeaders cleared Continue; the body was not read and no file was created
// OnHeaders, OnProgress, OnPasswordRequest, OnProxyAuthenticationRequest, OnStatus and OnRedirect run
// during the transfer, on the main thread, while the worker waits.
//
// An error a handler throws is carried back to the worker, ends the transfer as a failure and is handed to
// OnHandlerError on the main thread before the closing outcome.

#include "update/TransferSettings.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>

namespace qarvia::update {

// Where a transfer's body goes: a file (OutputFileName) or memory.
class TsuTransferStream {
public:
    bool isFile() const { return !path.empty(); }
    const std::string& fileName() const { return path; }
    // The body held in memory (empty for a file stream).
    const std::string& data() const { return memory; }
    std::int64_t size() const { return length; }
    std::int64_t position() const { return offset; }
    // The whole content (for a file stream, read back from the file, with the bytes not yet written to it;
    // "" when it cannot be read).
    std::string readAll() const;

private:
    friend class TsuTransferJob;
    friend class TsuCustomHTTP;
    std::string path;
    std::string memory;
    std::string unwritten; // a file stream's latest bytes, not yet written to the file
    std::int64_t length = 0;
    std::int64_t offset = 0;
};

struct TsuHTTPHeaders {
    int StatusCode = -1;
    std::string RawHeaders; // status line and header lines, each ending in "\r\n"
    std::string ContentType;
    std::string ContentLanguage;
    std::string ContentEncoding;
    std::int64_t ContentLength = 0; // plus the start position
    std::string Location;
    std::int64_t Date = 0; // local time, seconds since 1970 (see HttpDate.h); 0 = none
    std::int64_t LastModified = 0;
    std::int64_t Expires = 0;
    std::int64_t LastModifiedGMT = 0; // the same instant as Last-Modified, as UTC seconds (for file times)
    std::string ETag;
};

struct TsuHTTPProgress {
    std::string ContentType;
    std::int64_t Size = 0;      // ContentLength plus the start position
    std::int64_t BytesRead = 0; // Downloaded plus the start position
    std::int64_t ElapsedTime = 0;
    std::int64_t EstimatedTimeLeft = 0;
    std::uint8_t PercentsDone = 0;
    float TransferRate = 0; // KB/s
    TsuTransferStream* Stream = nullptr;
};

class TsuTransferJob;
class TsuThreadWindow;

class TsuCustomHTTP : public QObject {
    Q_OBJECT
public:
    explicit TsuCustomHTTP(QObject* parent = nullptr);
    ~TsuCustomHTTP() override;
    TsuCustomHTTP(const TsuCustomHTTP&) = delete;
    TsuCustomHTTP& operator=(const TsuCustomHTTP&) = delete;

    // --- Settings (read when a transfer starts; the login and proxy login also after 401/407 handlers)
    TsuHTTPProxy Proxy;
    TsuInternetOptions InternetOptions{TsuInternetOption::ioKeepConnection};
    TsuCacheOptions CacheOptions = DefaultCacheOptions;
    TsuThreadPriority ThreadPriority = TsuThreadPriority::tpNormal;
    std::string HTTPUsername;
    std::string HTTPPassword;
    std::string AcceptTypes = "text/html, */*";
    std::string Agent = "Qarvia TsuCustomHTTP/1.1";
    TsuHTTPRange Range;
    TsuHTTPTimeouts Timeouts;
    TsuOutputFileAttributes OutputFileAttributes;
    std::string CustomHeaders; // extra request header lines, each ending in "\r\n"
    std::string Referrer;
    std::string PostData; // non-empty: POST it as application/x-www-form-urlencoded
    // Set: the request is a POST whose body is this stream's content from its current position to its end,
    // its size announced (Content-Length) and sent in pieces of TransferBufferSize() bytes, each followed by
    // an OnUploadProgress report. Takes the place of PostData. The worker reads it: leave it alone until the
    // transfer ended. A stream that cannot seek is read whole before the request is sent.
    std::istream* UploadStream = nullptr;
    // HTTPS: a file of trusted certificate authorities (PEM) used instead of the system's store.
    std::string CertificateAuthorityFile;

    // Limits used when the matching timeout is 0: no transfer waits forever.
    int DefaultConnectLimitMs = 30000;
    int DefaultStallLimitMs = 60000;

    // The transfer's URL and output file ("" keeps the body in memory).
    std::string URL;
    std::string OutputFileName;

    // Bytes per read, clamped to 255..2147483647.
    std::int64_t TransferBufferSize() const { return bufferSize; }
    void setTransferBufferSize(std::int64_t size);

    // Longest a waiting StartTransfer waits, in milliseconds (0 = no limit).
    int WaitTimeout = 0;

    // --- Handlers (all run on the main thread)
    std::function<void(const TsuHTTPHeaders& headers, bool& Continue)> OnHeaders;
    std::function<void(const TsuHTTPProgress& progress)> OnProgress;
    // After each piece of UploadStream was sent: Size is the body's size, BytesRead the bytes sent so far,
    // the other figures as for OnProgress; ContentType is empty and Stream null.
    std::function<void(const TsuHTTPProgress& progress)> OnUploadProgress;
    std::function<void(const std::string& Realm, bool& TryAgain)> OnPasswordRequest;
    std::function<void(std::string& ProxyUsername, std::string& ProxyPassword, bool& TryAgain)>
        OnProxyAuthenticationRequest;
    std::function<void(const std::string& ContentType, TsuTransferStream& Stream, std::int64_t TotalBytes)> OnDone;
    std::function<void(const std::string& ContentType, TsuTransferStream& Stream, std::int64_t BytesRead,
                       std::int64_t Size)>
        OnConnLost;
    std::function<void()> OnHostUnreachable;
    std::function<void(int StatusCode, TsuTransferStream& Stream)> OnHTTPError;
    std::function<void()> OnSkipped;
    std::function<void(int Code, const std::string& Text)> OnStatus;
    std::function<void(const std::string& NewURL)> OnRedirect;
    std::function<void(const std::string& Message)> OnHandlerError;
    // A waiting StartTransfer ran out of WaitTimeout; set StopWorker to stop the transfer (hard).
    std::function<void(bool& StopWorker)> OnWaitTimeout;

    // --- Operations (main thread)
    // False, doing nothing, while a transfer runs (a completion handler may start the next one; the
    // previous worker is then discarded). With `wait`, processes events until the transfer ended, the
    // component is destroyed, the application quits or WaitTimeout passes (false in the last three cases).
    bool StartTransfer(std::int64_t startPosition = 0, std::int64_t endPosition = 0, bool wait = false);
    // Soft: the worker stops at its next check point and reports nothing; no handler starts after this call
    // (one already running finishes). Hard: the worker is discarded at once and the clean-up happens here.
    // Either way the partial output file is deleted when asked.
    void StopTransfer(bool deletePartialFile = false, bool hard = false);

    // --- State of the current (or last) transfer
    bool Active() const { return active; }
    bool Busy() const { return busy; }
    int StatusCode() const;
    std::int64_t ContentLength() const;
    std::int64_t Downloaded() const;
    bool Success() const;
    std::string ContentType() const;                    // valid from OnHeaders on
    std::string LastErrorText() const;                  // why the last transfer failed, "" when it did not
    // The system's reason when the last transfer failed because its body could not be stored in
    // OutputFileName (a read-only folder, a full disk, ...); "" otherwise.
    std::string LastStoreError() const;
    float TransferRate() const { return transferRate; } // -1 until the first progress report
    std::int64_t ResumePosition() const { return resumePosition; }

private:
    friend class TsuTransferJob;
    void finishJob(TsuTransferJob* job); // main thread: the completion of `job`
    void detachJob();

    std::shared_ptr<TsuTransferJob> job;
    std::int64_t bufferSize = 4096;
    std::int64_t resumePosition = 0;
    float transferRate = -1;
    bool active = false;
    bool busy = false;
    std::shared_ptr<bool> alive;
    TsuThreadWindow* window = nullptr; // this component's counted use of the process-wide window
};

} // namespace qarvia::update
