#include "update/TsuCustomHTTP.h"

#include "update/HttpDate.h"
#include "update/SharedLibrary.h"
#include "update/TransferUrl.h"
#include "update/TsuThreadWindow.h"
#include "text/Ascii.h"
#include "text/Blanks.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QtDebug>

#include <curl/curl.h>
#ifdef QARVIA_HAVE_OPENSSL
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qarvia::update {

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A header line's value without its blanks and its line end.
std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (text::isBlank(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return text::trimBlanks(s);
}

size_t discardBytes(char*, size_t size, size_t count, void*) {
    return size * count;
}

// The HTTP library's functions. The first transfer's worker opens the library and sets it up (see
// SharedLibrary.h), under the guard of this function's static, which every use of the library passes first:
// the main thread goes on meanwhile, and a program that never transfers never loads it.
struct CurlFunctions {
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_version_info) version_info = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_duphandle) easy_duphandle = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_easy_strerror) easy_strerror = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
#ifdef QARVIA_HAVE_OPENSSL
    // OpenSSL's, found only where the library works over it.
    decltype(&SSL_CTX_get_cert_store) ssl_ctx_get_cert_store = nullptr;
    decltype(&X509_STORE_set_flags) x509_store_set_flags = nullptr;
#endif
    std::string error; // why the library cannot serve; empty when it can
};

const CurlFunctions& libcurl() {
    // Never destroyed: a worker may still be using the library while the process ends.
    static const CurlFunctions& functions = *new CurlFunctions([] {
        CurlFunctions f;
        SharedLibrary library(QARVIA_CURL_LIBRARY);
        const bool bound =
            library.bind(f.global_init, "curl_global_init") && library.bind(f.version_info, "curl_version_info") &&
            library.bind(f.easy_init, "curl_easy_init") && library.bind(f.easy_duphandle, "curl_easy_duphandle") &&
            library.bind(f.easy_setopt, "curl_easy_setopt") && library.bind(f.easy_perform, "curl_easy_perform") &&
            library.bind(f.easy_getinfo, "curl_easy_getinfo") && library.bind(f.easy_strerror, "curl_easy_strerror") &&
            library.bind(f.easy_cleanup, "curl_easy_cleanup") && library.bind(f.slist_append, "curl_slist_append") &&
            library.bind(f.slist_free_all, "curl_slist_free_all");
        if (!bound) {
            f.error = library.error();
            return f;
        }
        if (f.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            f.error = "the library could not be set up";
            return f;
        }
#ifdef QARVIA_HAVE_OPENSSL
        const curl_version_info_data* info = f.version_info(CURLVERSION_NOW);
        if (info->ssl_version != nullptr && std::strncmp(info->ssl_version, "OpenSSL", 7) == 0 &&
            !(library.bind(f.ssl_ctx_get_cert_store, "SSL_CTX_get_cert_store") &&
              library.bind(f.x509_store_set_flags, "X509_STORE_set_flags")))
            f.ssl_ctx_get_cert_store = nullptr;
#endif
        return f;
    }());
    return functions;
}

// Transfer workers still running. The application's end waits for them, at most ExitWaitMs, before the
// process exits: a worker still setting up the HTTP library (OpenSSL registers its clean-up with the exit
// handlers as it starts) or still inside it while exit tears the libraries down would crash the process on
// its way out. A stopped worker ends within a second: the library asks it whether to go on at least that often.
class RunningWorkers {
public:
    static constexpr std::chrono::milliseconds ExitWaitMs{2000};
    static RunningWorkers& get() {
        static RunningWorkers& workers = *new RunningWorkers; // never destroyed: workers may outlive the wait
        return workers;
    }
    // Main thread, as a component is made: the wait is added to what the application object does as it is
    // destroyed. Routines added later (the web engine's shutdown, when its first view is made) run before
    // it, so a worker still setting the library up meanwhile is seldom waited for.
    void waitAtTheApplicationsEnd() {
        std::lock_guard lock(mutex);
        if (!waitAdded) {
            qAddPostRoutine([] { get().waitForAll(); });
            waitAdded = true;
        }
    }
    // Main thread, before a worker starts.
    void enter() {
        std::lock_guard lock(mutex);
        ++running;
    }
    void leave() {
        {
            std::lock_guard lock(mutex);
            --running;
        }
        ended.notify_all();
    }

private:
    void waitForAll() {
        std::unique_lock lock(mutex);
        waitAdded = false; // a later application object needs its own
        ended.wait_for(lock, ExitWaitMs, [this] { return running == 0; });
    }
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
    bool waitAdded = false;
};

#ifdef QARVIA_HAVE_OPENSSL
CURLcode skipTimeChecks(CURL*, void* context, void*) {
    libcurl().x509_store_set_flags(libcurl().ssl_ctx_get_cert_store(static_cast<SSL_CTX*>(context)),
                                   X509_V_FLAG_NO_CHECK_TIME);
    return CURLE_OK;
}
#endif

// Lets certificates outside their validity dates pass (every other check stays). Possible only where the
// HTTP library works with OpenSSL; elsewhere the dates stay checked.
void ignoreCertificateDates(CURL* curl) {
#ifdef QARVIA_HAVE_OPENSSL
    if (libcurl().ssl_ctx_get_cert_store != nullptr)
        libcurl().easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &skipTimeChecks);
#else
    (void)curl;
#endif
}

// Memory kept in advance for a body held in memory: the announced size, but never a hostile amount.
constexpr std::int64_t maxMemoryReserve = 16 * 1024 * 1024;

// A file body is written in pieces of this size (blocks gathered in memory until then): one system call per
// 4096-byte block costs a fast download more than its reading.
constexpr std::size_t fileWriteBytes = 256 * 1024;

// Bytes the HTTP library receives at a time: the blocks handed on are cut from them, so a small block size
// does not make for small reads.
constexpr std::int64_t receiveBufferBytes = 256 * 1024;

void reportHandlerError(TsuCustomHTTP& owner, const std::string& message) {
    if (owner.OnHandlerError) {
        try {
            owner.OnHandlerError(message);
            return;
        } catch (...) {
        }
    }
    qWarning("TsuCustomHTTP: a handler failed: %s", message.c_str());
}

} // namespace

std::string TsuTransferStream::readAll() const {
    if (!isFile())
        return memory;
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char block[65536];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n <= 0)
            break;
        content.append(block, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content + unwritten;
}

// One transfer: the settings it started with, its state, and the worker body. Shared by the component and
// the worker; the worker never touches the component except through calls on the main thread.
class TsuTransferJob {
public:
    // What the evaluation of a response asks the read loop to do.
    enum class Verdict { Proceed, Retry, Skip, Fail };

    TsuCustomHTTP* owner = nullptr; // main thread only, while the channel is open
    std::shared_ptr<TsuMainThreadChannel> channel;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> deletePartial{false};
    std::atomic<bool> discarded{false};

    // Settings, copied when the transfer starts.
    std::string url;
    std::string outputFileName;
    std::int64_t startPosition = 0;
    std::int64_t endPosition = 0;
    std::int64_t bufferSize = 4096;
    TsuHTTPProxy proxy;
    TsuInternetOptions internetOptions;
    TsuCacheOptions cacheOptions;
    TsuThreadPriority priority = TsuThreadPriority::tpNormal;
    std::string userName;
    std::string password;
    std::string acceptTypes;
    std::string agent;
    TsuHTTPTimeouts timeouts;
    int connectLimitMs = 30000;
    int stallLimitMs = 60000;
    TsuOutputFileAttributes attributes;
    std::string customHeaders;
    std::string referrer;
    std::string postData;
    std::istream* upload = nullptr; // the body to send, when set
    std::string caFile;
    bool hasUploadProgress = false;
    bool hasHeaders = false, hasProgress = false, hasPassword = false, hasProxyAuth = false, hasStatus = false,
         hasRedirect = false;

    // State.
    std::atomic<int> statusCode{-1};
    std::atomic<std::int64_t> contentLength{0};
    std::atomic<std::int64_t> downloaded{0};
    std::atomic<bool> success{false};
    bool continueFlag = true;
    Clock::time_point startTick;
    std::string contentType;
    std::string lastError;
    std::string storeError; // the system's reason when the body could not be stored
    std::string handlerError;
    bool handlerFailed = false;

    // Output; `outputMutex` orders the worker's writes against a hard stop closing the file. A file stream
    // keeps the blocks not yet written in stream.unwritten.
    std::mutex outputMutex;
    TsuTransferStream stream;
    int fd = -1;
    bool fileCreated = false;
    std::string buffer;
    bool hasStream = false;

    // Response being read.
    CURL* curl = nullptr;
    std::vector<std::string> headerLines; // of the latest response, status line first
    bool evaluated = false;
    bool tryAgain = false;
    bool stalled = false;
    bool alreadyComplete = false;
    std::int64_t lastProgressBytes = -1;
    Clock::time_point lastProgressAt;
    TsuHTTPProgress progress;

    // Upload: the body is upload's bytes from uploadStart on, uploadSize of them. A piece of up to the
    // buffer size is read at a time and handed to the library; once all of it was handed on, it is reported.
    std::unique_ptr<std::istringstream> uploadCopy; // the content of a stream that cannot seek
    std::istream::pos_type uploadStart = 0;
    std::int64_t uploadSize = 0;
    std::int64_t uploadRead = 0; // bytes taken from the stream
    std::int64_t uploaded = 0;   // bytes handed to the library in whole pieces
    std::string uploadPiece;
    std::size_t uploadPieceSent = 0;
    TsuHTTPProgress uploadProgress;

    void run();

    // Runs `f` on the main thread while this worker waits. False when the transfer was discarded or the
    // handler threw (its message is kept for OnHandlerError).
    template <typename F> bool onMain(F&& f) {
        bool skipped = false;
        auto wrapped = [&] {
            // Stopped while this call waited for its turn: the handler does not run any more.
            if (stopping()) {
                skipped = true;
                return;
            }
            try {
                f();
            } catch (const std::exception& e) {
                handlerFailed = true;
                handlerError = e.what();
            } catch (...) {
                handlerFailed = true;
                handlerError = "unknown error";
            }
        };
        if (!channel->call(wrapped) || skipped)
            return false;
        return !handlerFailed;
    }

    bool stopping() const { return stopRequested.load(std::memory_order_relaxed); }
    void reportStatus(int code, const std::string& extra = {});

    void runFile(const TsuURLParts& parts);
    void runHttp(const TsuURLParts& parts);
    curl_slist* requestHeaders() const;
    Verdict evaluate();
    std::string header(std::string_view name) const;
    bool openOutput();
    bool deliverBlock(const char* data, std::size_t size);
    // With outputMutex held: write to the file (the system's reason kept on failure); writeOut() writes
    // stream.unwritten.
    bool writeAll(const char* data, std::size_t size);
    bool writeOut();
    void closeFile(bool removeFile); // flushes (unless removing) and closes the output file, if open
    bool prepareUpload();
    bool rewindUpload(std::int64_t offset);
    bool reportUploadPiece();
    void endSilently();

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* data, size_t size, size_t count, void* self);
    static int onSeek(void* self, curl_off_t offset, int origin);
    static int onProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow);
    static curl_socket_t onOpenSocket(void* self, curlsocktype, curl_sockaddr* address);
    static int onRequestReady(void* self, char*, char*, int, int);
};

void TsuTransferJob::reportStatus(int code, const std::string& extra) {
    if (!hasStatus && !(code == 110 && hasRedirect))
        return;
    onMain([&] {
        if (owner->OnStatus)
            owner->OnStatus(code, std::string(StatusCodeText(code)));
        if (code == 110 && owner->OnRedirect)
            owner->OnRedirect(extra);
    });
}

void TsuTransferJob::run() {
    // Per-thread scheduling priority; raising it may be refused, which leaves the normal one.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), NiceValueOf(priority));

    statusCode = -1;
    startTick = Clock::now();
    continueFlag = true;

    const std::optional<TsuURLParts> parts = SplitTransferURL(url, userName, password);
    if (!parts)
        lastError = "The URL cannot be used: " + url;
    else if (parts->scheme == "file")
        runFile(*parts);
    else if (parts->scheme == "http" || parts->scheme == "https")
        runHttp(*parts);
    else
        lastError = "Unsupported URL scheme: " + parts->scheme;

    if (stopping() || discarded) {
        endSilently();
        return;
    }
    // The last blocks go to the file now: a failure to store them fails the transfer.
    {
        std::lock_guard lock(outputMutex);
        const std::string earlier = lastError; // what broke the transfer first is what it reports
        if (fd >= 0 && !stream.unwritten.empty() && !writeOut() && !earlier.empty())
            lastError = earlier;
    }
    // Success: a good status and, when a size was announced and a stream exists, all of it.
    const int status = statusCode;
    bool ok = (status == 200 || status == 206) && lastError.empty() && !handlerFailed;
    if (ok && hasStream && contentLength > 0 && downloaded != contentLength)
        ok = false;
    success = ok;
    stream.offset = 0;
    channel->call(
        [](void* self) {
            auto* job = static_cast<TsuTransferJob*>(self);
            job->owner->finishJob(job);
        },
        this);
}

void TsuTransferJob::endSilently() {
    closeFile(deletePartial);
    if (discarded)
        return;
    // Tell the component that this transfer is over, without any outcome handler.
    channel->call(
        [](void* self) {
            auto* job = static_cast<TsuTransferJob*>(self);
            if (job->owner->job.get() == job)
                job->owner->detachJob();
        },
        this);
}

void TsuTransferJob::runFile(const TsuURLParts& parts) {
    const int input = ::open(parts.path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (input < 0 || fstat(input, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (input >= 0)
            ::close(input);
        statusCode = 404;
        contentLength = 0;
        evaluated = true;
        if (!openOutput())
            return;
        return;
    }
    statusCode = 200;
    contentLength = info.st_size;
    evaluated = true;
    if (!openOutput()) {
        ::close(input);
        return;
    }
    std::string block(static_cast<std::size_t>(bufferSize), '\0');
    for (;;) {
        if (stopping())
            break;
        const ssize_t n = ::read(input, block.data(), block.size());
        if (n < 0) {
            lastError = std::string("Reading the file failed: ") + std::strerror(errno);
            break;
        }
        if (n == 0 || !deliverBlock(block.data(), static_cast<std::size_t>(n)))
            break;
    }
    ::close(input);
}

curl_slist* TsuTransferJob::requestHeaders() const {
    curl_slist* list = nullptr;
    auto add = [&list](const std::string& line) {
        if (!line.empty())
            list = libcurl().slist_append(list, line.c_str());
    };
    add("Accept: " + acceptTypes);
    auto addLines = [&add](std::string_view lines) {
        while (!lines.empty()) {
            const std::size_t end = lines.find('\n');
            add(std::string(trimmed(lines.substr(0, end))));
            lines = end == std::string_view::npos ? std::string_view{} : lines.substr(end + 1);
        }
    };
    addLines(customHeaders);
    addLines(CacheRequestHeaders(cacheOptions));
    if (!internetOptions.contains(TsuInternetOption::ioKeepConnection))
        add("Connection: close");
    if (upload != nullptr) {
        // A Content-Type among the custom header lines wins.
        bool typed = false;
        std::string_view lines = customHeaders;
        while (!lines.empty() && !typed) {
            const std::size_t end = lines.find('\n');
            const std::string_view line = trimmed(lines.substr(0, end));
            const std::size_t colon = line.find(':');
            typed = colon != std::string_view::npos &&
                    text::equalsIgnoringAsciiCase(trimmed(line.substr(0, colon)), "Content-Type");
            lines = end == std::string_view::npos ? std::string_view{} : lines.substr(end + 1);
        }
        if (!typed)
            add("Content-Type: application/octet-stream");
    } else if (!postData.empty()) {
        add("Content-Type: application/x-www-form-urlencoded");
    }
    // Keep the library from waiting for a "100 Continue" that many servers never send.
    add("Expect:");
    return list;
}

void TsuTransferJob::runHttp(const TsuURLParts& parts) {
    const CurlFunctions& curlLib = libcurl();
    if (!curlLib.error.empty()) {
        lastError = "The HTTP library could not be loaded: " + curlLib.error;
        return;
    }
    curl = curlLib.easy_init();
    if (curl == nullptr) {
        lastError = "The HTTP library could not start";
        return;
    }
    reportStatus(60);
    const std::string requestUrl = TransferRequestURL(parts);
    curlLib.easy_setopt(curl, CURLOPT_URL, requestUrl.c_str());
    curlLib.easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curlLib.easy_setopt(curl, CURLOPT_USERAGENT, agent.c_str());
    if (!referrer.empty())
        curlLib.easy_setopt(curl, CURLOPT_REFERER, referrer.c_str());
    curl_slist* headers = requestHeaders();
    curlLib.easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (upload != nullptr) {
        if (!prepareUpload()) {
            curlLib.easy_cleanup(curl);
            curl = nullptr;
            curlLib.slist_free_all(headers);
            return;
        }
        curlLib.easy_setopt(curl, CURLOPT_POST, 1L);
        curlLib.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(uploadSize));
        curlLib.easy_setopt(curl, CURLOPT_READFUNCTION, &TsuTransferJob::onRead);
        curlLib.easy_setopt(curl, CURLOPT_READDATA, this);
        curlLib.easy_setopt(curl, CURLOPT_SEEKFUNCTION, &TsuTransferJob::onSeek);
        curlLib.easy_setopt(curl, CURLOPT_SEEKDATA, this);
        curlLib.easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE,
                            static_cast<long>(std::clamp<std::int64_t>(bufferSize, 16384, 2 * 1024 * 1024)));
    } else if (!postData.empty()) {
        curlLib.easy_setopt(curl, CURLOPT_POSTFIELDS, postData.c_str());
        curlLib.easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postData.size()));
    }

    // Proxy: the system's settings (the proxy environment) unless told otherwise.
    std::string proxyAddress;
    std::string bypass;
    if (proxy.AccessType == TsuAccessType::atDirect) {
        curlLib.easy_setopt(curl, CURLOPT_PROXY, "");
    } else if (proxy.AccessType == TsuAccessType::atUseProxy) {
        proxyAddress = proxy.ProxyServer + ":" + std::to_string(proxy.ProxyPort);
        curlLib.easy_setopt(curl, CURLOPT_PROXY, proxyAddress.c_str());
        if (!proxy.ProxyBypass.empty()) {
            bypass = proxy.ProxyBypass;
            std::replace(bypass.begin(), bypass.end(), ';', ',');
            curlLib.easy_setopt(curl, CURLOPT_NOPROXY, bypass.c_str());
        }
    }

    // Redirects: followed unless asked not to; crossing between http and https only when allowed.
    const bool secure = parts.scheme == "https";
    std::string redirectProtocols = secure ? "https" : "http";
    if (secure && internetOptions.contains(TsuInternetOption::ioIgnoreRedirectToHTTP))
        redirectProtocols += ",http";
    if (!secure && internetOptions.contains(TsuInternetOption::ioIgnoreRedirectToHTTPS))
        redirectProtocols += ",https";
    const bool followRedirects = !internetOptions.contains(TsuInternetOption::ioNoAutoRedirect);
    curlLib.easy_setopt(curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curlLib.easy_setopt(curl, CURLOPT_MAXREDIRS, 20L);
    curlLib.easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols.c_str());
    if (!internetOptions.contains(TsuInternetOption::ioNoCookies))
        curlLib.easy_setopt(curl, CURLOPT_COOKIEFILE, ""); // cookies live for this transfer only

    // Certificates are checked against the system's store (or the given authorities); the two options
    // relax exactly what they name: the name the certificate was issued for, and its dates. An issuer that
    // is not trusted always fails.
    if (!caFile.empty())
        curlLib.easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
    if (internetOptions.contains(TsuInternetOption::ioIgnoreCertificateInvalid))
        curlLib.easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    if (internetOptions.contains(TsuInternetOption::ioIgnoreCertificateDateInvalid))
        ignoreCertificateDates(curl);

    curlLib.easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectLimitMs));
    curlLib.easy_setopt(curl, CURLOPT_BUFFERSIZE,
                        static_cast<long>(std::clamp<std::int64_t>(bufferSize, receiveBufferBytes, 524288)));
    curlLib.easy_setopt(curl, CURLOPT_HEADERFUNCTION, &TsuTransferJob::onHeader);
    curlLib.easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curlLib.easy_setopt(curl, CURLOPT_WRITEFUNCTION, &TsuTransferJob::onWrite);
    curlLib.easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curlLib.easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curlLib.easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TsuTransferJob::onProgress);
    curlLib.easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    if (hasStatus) {
        curlLib.easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, &TsuTransferJob::onOpenSocket);
        curlLib.easy_setopt(curl, CURLOPT_OPENSOCKETDATA, this);
        curlLib.easy_setopt(curl, CURLOPT_PREREQFUNCTION, &TsuTransferJob::onRequestReady);
        curlLib.easy_setopt(curl, CURLOPT_PREREQDATA, this);
    }

    CURLcode result = CURLE_OK;
    for (;;) {
        if (stopping())
            break;
        // The login in force now (a password handler may just have changed it).
        const bool authenticate = !internetOptions.contains(TsuInternetOption::ioNoAuthentication) &&
                                  (!userName.empty() || !password.empty());
        curlLib.easy_setopt(curl, CURLOPT_USERNAME, authenticate ? userName.c_str() : nullptr);
        curlLib.easy_setopt(curl, CURLOPT_PASSWORD, authenticate ? password.c_str() : nullptr);
        curlLib.easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        if (proxy.AccessType != TsuAccessType::atDirect && !proxy.ProxyUsername.empty() &&
            !proxy.ProxyPassword.empty()) {
            curlLib.easy_setopt(curl, CURLOPT_PROXYUSERNAME, proxy.ProxyUsername.c_str());
            curlLib.easy_setopt(curl, CURLOPT_PROXYPASSWORD, proxy.ProxyPassword.c_str());
        }
        std::string range;
        if (startPosition > 0 || endPosition > 0)
            range = std::to_string(startPosition) + "-" + (endPosition > 0 ? std::to_string(endPosition) : "");
        curlLib.easy_setopt(curl, CURLOPT_RANGE, range.empty() ? nullptr : range.c_str());

        if (upload != nullptr && !rewindUpload(0)) {
            lastError = "The upload stream cannot be read again";
            break;
        }
        tryAgain = false;
        evaluated = false;
        stalled = false;
        headerLines.clear();
        lastProgressBytes = -1;
        reportStatus(10);
        result = curlLib.easy_perform(curl);
        if (stopping() || discarded)
            break;
        long connectCode = 0;
        curlLib.easy_getinfo(curl, CURLINFO_HTTP_CONNECTCODE, &connectCode);
        if (!evaluated && !headerLines.empty()) {
            // A response without a body (or one whose body never came): evaluate it now.
            const Verdict verdict = evaluate();
            if (verdict == Verdict::Skip || verdict == Verdict::Fail)
                break;
        } else if (!evaluated && connectCode == 407 && hasProxyAuth) {
            // The proxy refused the tunnel for an https request.
            onMain([&] {
                owner->OnProxyAuthenticationRequest(owner->Proxy.ProxyUsername, owner->Proxy.ProxyPassword, tryAgain);
                proxy.ProxyUsername = owner->Proxy.ProxyUsername;
                proxy.ProxyPassword = owner->Proxy.ProxyPassword;
            });
        }
        if (tryAgain && !handlerFailed)
            continue;
        if (result != CURLE_OK && lastError.empty() && continueFlag && !alreadyComplete) {
            if (stalled)
                lastError = "No data arrived for " + std::to_string(stallLimitMs) + " ms";
            else
                lastError = curlLib.easy_strerror(result);
        }
        break;
    }
    // What is left in the buffer was read too, even when the connection broke after it.
    if (!stopping() && continueFlag && evaluated && !buffer.empty())
        deliverBlock(nullptr, 0);
    if (!stopping() && !discarded && continueFlag)
        reportStatus(100);
    reportStatus(70);
    curlLib.easy_cleanup(curl);
    curl = nullptr;
    curlLib.slist_free_all(headers);
}

std::string TsuTransferJob::header(std::string_view name) const {
    for (std::size_t i = 1; i < headerLines.size(); ++i) {
        const std::string_view line = headerLines[i];
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos && text::equalsIgnoringAsciiCase(trimmed(line.substr(0, colon)), name))
            return std::string(trimmed(line.substr(colon + 1)));
    }
    return {};
}

TsuTransferJob::Verdict TsuTransferJob::evaluate() {
    const CurlFunctions& curlLib = libcurl();
    evaluated = true;
    long code = -1;
    curlLib.easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    statusCode = code > 0 ? static_cast<int>(code) : -1;

    if (statusCode == 416 && startPosition > 0) {
        // Resuming past the end: the file may already be whole. Ask for its length from byte 0.
        std::int64_t fullLength = -1;
        if (CURL* probe = curlLib.easy_duphandle(curl)) {
            curlLib.easy_setopt(probe, CURLOPT_NOBODY, 1L);
            curlLib.easy_setopt(probe, CURLOPT_RANGE, nullptr);
            curlLib.easy_setopt(probe, CURLOPT_HEADERFUNCTION, &discardBytes);
            curlLib.easy_setopt(probe, CURLOPT_WRITEFUNCTION, &discardBytes);
            curlLib.easy_setopt(probe, CURLOPT_NOPROGRESS, 1L);
            curlLib.easy_setopt(probe, CURLOPT_OPENSOCKETFUNCTION, nullptr);
            curlLib.easy_setopt(probe, CURLOPT_PREREQFUNCTION, nullptr);
            curl_off_t length = -1;
            if (curlLib.easy_perform(probe) == CURLE_OK &&
                curlLib.easy_getinfo(probe, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
                fullLength = length;
            curlLib.easy_cleanup(probe);
        }
        if (fullLength == startPosition) {
            statusCode = 206;
            contentLength = 0;
            alreadyComplete = true;
            return Verdict::Skip; // nothing to read: the transfer ends as complete
        }
        startPosition = 0;
        endPosition = 0;
        curlLib.easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
        tryAgain = true;
        return Verdict::Retry;
    }
    if (statusCode == 401 && hasPassword) {
        const std::string realm = RealmFromAuthenticate(header("WWW-Authenticate"));
        bool again = false;
        const bool ran = onMain([&] {
            owner->OnPasswordRequest(realm, again);
            userName = owner->HTTPUsername;
            password = owner->HTTPPassword;
        });
        if (ran && again) {
            tryAgain = true;
            return Verdict::Retry;
        }
    }
    if (statusCode == 407 && hasProxyAuth) {
        bool again = false;
        const bool ran = onMain([&] {
            owner->OnProxyAuthenticationRequest(owner->Proxy.ProxyUsername, owner->Proxy.ProxyPassword, again);
            proxy.ProxyUsername = owner->Proxy.ProxyUsername;
            proxy.ProxyPassword = owner->Proxy.ProxyPassword;
        });
        if (ran && again) {
            tryAgain = true;
            return Verdict::Retry;
        }
    }
    if (handlerFailed || discarded)
        return Verdict::Fail;

    contentType = header("Content-Type");
    const std::string lengthText = header("Content-Length");
    std::int64_t length = 0;
    if (!lengthText.empty() &&
        std::all_of(lengthText.begin(), lengthText.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
        lengthText.size() < 19)
        length = std::stoll(lengthText);
    contentLength = length;
    if (header("Content-Range").empty())
        startPosition = 0;

    if (hasHeaders) {
        TsuHTTPHeaders info;
        info.StatusCode = statusCode;
        for (const std::string& line : headerLines)
            info.RawHeaders += line;
        info.ContentType = contentType;
        info.ContentLanguage = header("Content-Language");
        info.ContentEncoding = header("Content-Encoding");
        info.ContentLength = length + startPosition;
        info.Location = header("Location");
        info.Date = ParseHTTPDate(header("Date"));
        info.LastModified = ParseHTTPDate(header("Last-Modified"));
        info.LastModifiedGMT = ParseHTTPDateGMT(header("Last-Modified"));
        info.Expires = ParseHTTPDate(header("Expires"));
        info.ETag = header("ETag");
        bool keepGoing = true;
        if (!onMain([&] { owner->OnHeaders(info, keepGoing); }))
            return Verdict::Fail;
        continueFlag = keepGoing;
        if (!continueFlag)
            return Verdict::Skip;
    }
    return openOutput() ? Verdict::Proceed : Verdict::Fail;
}

bool TsuTransferJob::openOutput() {
    const int status = statusCode;
    hasStream = true;
    stream.length = 0;
    stream.offset = 0;
    if ((status == 200 || status == 206) && !outputFileName.empty()) {
        const TsuFileAttributes existing = ReadFileAttributes(outputFileName);
        const bool unblock = BlocksWriting(existing);
        if (unblock)
            ApplyFileAttributes(outputFileName, existing - TsuFileAttribute::atrReadOnly);
        const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (startPosition > 0 ? 0 : O_TRUNC);
        const int opened = ::open(outputFileName.c_str(), flags, 0666);
        const int openError = errno;
        if (unblock)
            ApplyFileAttributes(outputFileName, existing);
        if (opened < 0) {
            storeError = std::strerror(openError);
            lastError = "Cannot create " + outputFileName + ": " + storeError;
            return false;
        }
        if (startPosition > 0 && ::lseek(opened, startPosition, SEEK_SET) < 0) {
            storeError = std::strerror(errno);
            lastError = "Cannot seek in " + outputFileName + ": " + storeError;
            ::close(opened);
            return false;
        }
        ApplyFileAttributes(opened, attributes.Incomplete);
        std::lock_guard lock(outputMutex);
        if (discarded) {
            ::close(opened);
            return false;
        }
        fd = opened;
        fileCreated = true;
        stream.unwritten.reserve(fileWriteBytes);
        stream.path = outputFileName;
        stream.offset = startPosition;
        stream.length = startPosition;
        return true;
    }
    stream.memory.clear();
    stream.memory.reserve(static_cast<std::size_t>(std::min<std::int64_t>(contentLength, maxMemoryReserve)));
    return true;
}

bool TsuTransferJob::deliverBlock(const char* data, std::size_t size) {
    // `data` null: the block gathered in `buffer`.
    const char* block = data ? data : buffer.data();
    const std::size_t length = data ? size : buffer.size();
    if (stopping())
        return false;
    downloaded += static_cast<std::int64_t>(length);
    {
        std::lock_guard lock(outputMutex);
        if (discarded)
            return false;
        if (fd >= 0) {
            if (stream.unwritten.empty() && length >= fileWriteBytes) {
                if (!writeAll(block, length))
                    return false;
            } else {
                stream.unwritten.append(block, length);
                if (stream.unwritten.size() >= fileWriteBytes && !writeOut())
                    return false;
            }
        } else {
            stream.memory.append(block, length);
        }
        stream.length += static_cast<std::int64_t>(length);
        stream.offset += static_cast<std::int64_t>(length);
    }
    if (!data)
        buffer.clear();
    if (hasProgress) {
        const TsuProgressFigures figures =
            ComputeProgress(startPosition, contentLength, downloaded, millisecondsSince(startTick));
        progress.Size = contentLength + startPosition;
        progress.BytesRead = downloaded + startPosition;
        progress.ElapsedTime = figures.ElapsedTime;
        progress.EstimatedTimeLeft = figures.EstimatedTimeLeft;
        progress.PercentsDone = figures.PercentsDone;
        progress.TransferRate = figures.TransferRate;
        progress.Stream = &stream;
        if (progress.ContentType != contentType)
            progress.ContentType = contentType;
        if (!onMain([this] {
                owner->transferRate = progress.TransferRate;
                owner->OnProgress(progress);
            }))
            return false;
    }
    return true;
}

bool TsuTransferJob::writeAll(const char* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // write() answers 0 only when nothing more fits.
            storeError = std::strerror(n < 0 ? errno : ENOSPC);
            lastError = "Writing " + outputFileName + " failed: " + storeError;
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool TsuTransferJob::writeOut() {
    if (!writeAll(stream.unwritten.data(), stream.unwritten.size()))
        return false;
    stream.unwritten.clear();
    return true;
}

void TsuTransferJob::closeFile(bool removeFile) {
    std::lock_guard lock(outputMutex);
    if (fd < 0)
        return;
    if (!removeFile)
        writeOut();
    stream.unwritten.clear();
    ::close(fd);
    fd = -1;
    if (removeFile && fileCreated)
        ::unlink(outputFileName.c_str());
}

bool TsuTransferJob::prepareUpload() {
    std::istream& in = *upload;
    in.clear();
    const std::istream::pos_type start = in.tellg();
    if (start != std::istream::pos_type(-1) && in.seekg(0, std::ios::end)) {
        const std::istream::pos_type end = in.tellg();
        if (end != std::istream::pos_type(-1) && end >= start && in.seekg(start)) {
            uploadStart = start;
            uploadSize = static_cast<std::int64_t>(end - start);
            return true;
        }
    }
    // No way to learn the size in advance: take the content as it comes.
    in.clear();
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        lastError = "Reading the upload stream failed";
        return false;
    }
    uploadSize = static_cast<std::int64_t>(content.size());
    uploadCopy = std::make_unique<std::istringstream>(std::move(content));
    upload = uploadCopy.get();
    uploadStart = 0;
    return true;
}

bool TsuTransferJob::rewindUpload(std::int64_t offset) {
    if (offset < 0 || offset > uploadSize)
        return false;
    upload->clear();
    if (!upload->seekg(uploadStart + static_cast<std::streamoff>(offset)))
        return false;
    uploadRead = offset;
    uploaded = offset;
    uploadPiece.clear();
    uploadPieceSent = 0;
    return true;
}

bool TsuTransferJob::reportUploadPiece() {
    if (!hasUploadProgress)
        return true;
    const TsuProgressFigures figures = ComputeProgress(0, uploadSize, uploaded, millisecondsSince(startTick));
    uploadProgress.Size = uploadSize;
    uploadProgress.BytesRead = uploaded;
    uploadProgress.ElapsedTime = figures.ElapsedTime;
    uploadProgress.EstimatedTimeLeft = figures.EstimatedTimeLeft;
    uploadProgress.PercentsDone = figures.PercentsDone;
    uploadProgress.TransferRate = figures.TransferRate;
    return onMain([this] { owner->OnUploadProgress(uploadProgress); });
}

size_t TsuTransferJob::onRead(char* data, size_t size, size_t count, void* self) {
    auto* job = static_cast<TsuTransferJob*>(self);
    if (job->stopping() || job->discarded)
        return CURL_READFUNC_ABORT;
    const std::size_t room = size * count;
    std::size_t given = 0;
    while (given < room) {
        if (job->uploadPieceSent == job->uploadPiece.size()) {
            const std::int64_t left = job->uploadSize - job->uploadRead;
            if (left <= 0)
                break;
            job->uploadPiece.resize(static_cast<std::size_t>(std::min(left, job->bufferSize)));
            job->upload->read(job->uploadPiece.data(), static_cast<std::streamsize>(job->uploadPiece.size()));
            if (job->upload->gcount() != static_cast<std::streamsize>(job->uploadPiece.size())) {
                job->lastError = "Reading the upload stream failed";
                return CURL_READFUNC_ABORT;
            }
            job->uploadRead += static_cast<std::int64_t>(job->uploadPiece.size());
            job->uploadPieceSent = 0;
        }
        const std::size_t take = std::min(room - given, job->uploadPiece.size() - job->uploadPieceSent);
        std::memcpy(data + given, job->uploadPiece.data() + job->uploadPieceSent, take);
        given += take;
        job->uploadPieceSent += take;
        if (job->uploadPieceSent == job->uploadPiece.size()) {
            job->uploaded += static_cast<std::int64_t>(job->uploadPiece.size());
            job->uploadPiece.clear();
            job->uploadPieceSent = 0;
            if (!job->reportUploadPiece())
                return CURL_READFUNC_ABORT;
        }
    }
    return given;
}

int TsuTransferJob::onSeek(void* self, curl_off_t offset, int origin) {
    auto* job = static_cast<TsuTransferJob*>(self);
    if (origin != SEEK_SET || !job->rewindUpload(offset))
        return CURL_SEEKFUNC_FAIL;
    return CURL_SEEKFUNC_OK;
}

size_t TsuTransferJob::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* job = static_cast<TsuTransferJob*>(self);
    const std::size_t length = size * count;
    if (job->stopping())
        return 0;
    const std::string_view line(data, length);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response (after a redirect, an authentication round or an interim answer).
        if (job->headerLines.empty()) {
            job->reportStatus(31);
            job->reportStatus(40);
        }
        job->headerLines.clear();
        job->headerLines.emplace_back(line);
        return length;
    }
    if (trimmed(line).empty()) {
        if (job->headerLines.empty())
            return length;
        long code = 0;
        libcurl().easy_getinfo(job->curl, CURLINFO_RESPONSE_CODE, &code);
        job->reportStatus(41);
        if (code >= 300 && code < 400 && code != 304 &&
            !job->internetOptions.contains(TsuInternetOption::ioNoAutoRedirect)) {
            const std::string location = job->header("Location");
            if (!location.empty())
                job->reportStatus(110, location);
        }
        return length;
    }
    if (job->headerLines.size() < 1000)
        job->headerLines.emplace_back(line);
    return length;
}

size_t TsuTransferJob::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* job = static_cast<TsuTransferJob*>(self);
    std::size_t length = size * count;
    if (job->stopping())
        return 0;
    if (!job->evaluated && job->evaluate() != Verdict::Proceed)
        return 0;
    const std::size_t total = length;
    const auto blockSize = static_cast<std::size_t>(job->bufferSize);
    // Hand the body on in blocks of exactly the buffer size; whole blocks skip the copy.
    while (length > 0) {
        if (job->buffer.empty() && length >= blockSize) {
            if (!job->deliverBlock(data, blockSize))
                return 0;
            data += blockSize;
            length -= blockSize;
            continue;
        }
        const std::size_t take = std::min(length, blockSize - job->buffer.size());
        job->buffer.append(data, take);
        data += take;
        length -= take;
        if (job->buffer.size() == blockSize && !job->deliverBlock(nullptr, 0))
            return 0;
    }
    return total;
}

int TsuTransferJob::onProgress(void* self, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto* job = static_cast<TsuTransferJob*>(self);
    if (job->stopping() || job->discarded)
        return 1;
    const std::int64_t moved = dlnow + ulnow;
    const auto now = Clock::now();
    if (moved != job->lastProgressBytes) {
        job->lastProgressBytes = moved;
        job->lastProgressAt = now;
        return 0;
    }
    // Nothing moved for the stall limit: give up instead of waiting forever. Headers count as movement
    // only through the body that follows them, so a server that answers nothing is caught too.
    if (std::chrono::duration_cast<std::chrono::milliseconds>(now - job->lastProgressAt).count() >= job->stallLimitMs) {
        job->stalled = true;
        return 1;
    }
    return 0;
}

curl_socket_t TsuTransferJob::onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    auto* job = static_cast<TsuTransferJob*>(self);
    job->reportStatus(11);
    job->reportStatus(20);
    const int s = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    return s < 0 ? CURL_SOCKET_BAD : s;
}

int TsuTransferJob::onRequestReady(void* self, char*, char*, int, int) {
    auto* job = static_cast<TsuTransferJob*>(self);
    job->reportStatus(21);
    job->reportStatus(30);
    return job->stopping() ? CURL_PREREQFUNC_ABORT : CURL_PREREQFUNC_OK;
}

// ----------------------------------------------------------------------------------------------------------

TsuCustomHTTP::TsuCustomHTTP(QObject* parent) : QObject(parent), alive(std::make_shared<bool>(true)) {
    window = TsuThreadWindow::acquire();
    RunningWorkers::get().waitAtTheApplicationsEnd();
}

TsuCustomHTTP::~TsuCustomHTTP() {
    *alive = false;
    StopTransfer(false, true);
    TsuThreadWindow::release();
}

void TsuCustomHTTP::setTransferBufferSize(std::int64_t size) {
    bufferSize = std::clamp(size, MinTransferBufferSize, MaxTransferBufferSize);
}

int TsuCustomHTTP::StatusCode() const {
    return job ? job->statusCode.load() : -1;
}
std::int64_t TsuCustomHTTP::ContentLength() const {
    return job ? job->contentLength.load() : 0;
}
std::int64_t TsuCustomHTTP::Downloaded() const {
    return job ? job->downloaded.load() : 0;
}
bool TsuCustomHTTP::Success() const {
    return job && job->success;
}
std::string TsuCustomHTTP::ContentType() const {
    return job && !busy ? job->contentType : std::string();
}
std::string TsuCustomHTTP::LastErrorText() const {
    return job && !busy ? job->lastError : std::string();
}

std::string TsuCustomHTTP::LastStoreError() const {
    return job && !busy ? job->storeError : std::string();
}

bool TsuCustomHTTP::StartTransfer(std::int64_t startPosition, std::int64_t endPosition, bool wait) {
    if (busy)
        return false;
    if (job) {
        // Called from a completion handler: that transfer is over, its worker reports nothing more.
        job->discarded = true;
        job->channel->close();
    }
    auto next = std::make_shared<TsuTransferJob>();
    next->owner = this;
    next->channel = std::make_shared<TsuMainThreadChannel>(window);
    next->url = URL;
    next->outputFileName = OutputFileName;
    next->startPosition = startPosition > 0 ? startPosition : Range.StartRange;
    next->endPosition = startPosition > 0 || endPosition > 0 ? endPosition : Range.EndRange;
    next->bufferSize = bufferSize;
    next->proxy = Proxy;
    next->internetOptions = InternetOptions;
    next->cacheOptions = CacheOptions;
    next->priority = ThreadPriority;
    next->userName = HTTPUsername;
    next->password = HTTPPassword;
    next->acceptTypes = AcceptTypes;
    next->agent = Agent;
    next->timeouts = Timeouts;
    next->connectLimitMs = Timeouts.ConnectTimeout > 0 ? Timeouts.ConnectTimeout : DefaultConnectLimitMs;
    // Receiving and sending share one stall limit: the shorter of the two that are set.
    int stall = 0;
    for (int limit : {Timeouts.ReceiveTimeout, Timeouts.SendTimeout}) {
        if (limit > 0)
            stall = stall == 0 ? limit : std::min(stall, limit);
    }
    next->stallLimitMs = stall > 0 ? stall : DefaultStallLimitMs;
    next->attributes = OutputFileAttributes;
    next->customHeaders = CustomHeaders;
    next->referrer = Referrer;
    next->postData = PostData;
    next->upload = UploadStream;
    next->hasUploadProgress = bool(OnUploadProgress);
    next->caFile = CertificateAuthorityFile;
    next->hasHeaders = bool(OnHeaders);
    next->hasProgress = bool(OnProgress);
    next->hasPassword = bool(OnPasswordRequest);
    next->hasProxyAuth = bool(OnProxyAuthenticationRequest);
    next->hasStatus = bool(OnStatus);
    next->hasRedirect = bool(OnRedirect);

    job = next;
    active = true;
    busy = true;
    transferRate = -1;
    resumePosition = next->startPosition;
    RunningWorkers::get().enter();
    try {
        std::thread([next]() mutable {
            next->run();
            next.reset();
            RunningWorkers::get().leave();
        }).detach();
    } catch (const std::system_error&) {
        RunningWorkers::get().leave();
        job.reset();
        active = false;
        busy = false;
        return false;
    }
    if (!wait)
        return true;

    // Wait here, keeping the program responsive, until this transfer is over.
    QEventLoop loop;
    const std::weak_ptr<bool> stillAlive = alive;
    const std::weak_ptr<TsuTransferJob> waited = next;
    bool timedOut = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const auto current = waited.lock();
        if (stillAlive.expired() || !*stillAlive.lock() || !current || current->discarded || !active ||
            job != current || QCoreApplication::closingDown())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &loop, &QEventLoop::quit);
    poll.start();
    if (WaitTimeout > 0)
        limit.start(WaitTimeout);
    loop.exec();
    if (stillAlive.expired() || !*stillAlive.lock())
        return false;
    if (timedOut) {
        bool stopWorker = false;
        if (OnWaitTimeout)
            OnWaitTimeout(stopWorker);
        if (stopWorker)
            StopTransfer(false, true);
        return false;
    }
    return !QCoreApplication::closingDown();
}

void TsuCustomHTTP::StopTransfer(bool deletePartialFile, bool hard) {
    if (!job || !busy)
        return;
    if (!hard) {
        job->deletePartial = deletePartialFile;
        job->stopRequested = true;
        return;
    }
    const std::shared_ptr<TsuTransferJob> stopped = job;
    stopped->discarded = true;
    stopped->stopRequested = true;
    stopped->channel->close();
    stopped->closeFile(deletePartialFile);
    active = false;
    busy = false;
}

void TsuCustomHTTP::detachJob() {
    active = false;
    busy = false;
}

void TsuCustomHTTP::finishJob(TsuTransferJob* finished) {
    const std::shared_ptr<bool> stillAlive = alive;
    busy = false;
    if (finished->stopping()) {
        // Stopped after the worker had finished: still no outcome, as for any stop.
        finished->closeFile(finished->deletePartial);
        active = false;
        return;
    }
    if (finished->handlerFailed)
        reportHandlerError(*this, finished->handlerError);

    auto closeOutput = [finished] { finished->closeFile(false); };
    auto run = [&](auto&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            if (*stillAlive)
                reportHandlerError(*this, e.what());
        } catch (...) {
            if (*stillAlive)
                reportHandlerError(*this, "unknown error");
        }
    };

    if (!finished->continueFlag) {
        closeOutput();
        std::string().swap(finished->buffer);
        active = false;
        run([&] {
            if (OnSkipped)
                OnSkipped();
        });
        return;
    }
    const int status = finished->statusCode;
    TsuTransferStream& stream = finished->stream;
    if (finished->success) {
        closeOutput();
        if (finished->fileCreated && !(finished->attributes.Complete == finished->attributes.Incomplete))
            ApplyFileAttributes(finished->outputFileName, finished->attributes.Complete);
        run([&] {
            if (OnDone)
                OnDone(finished->contentType, stream, finished->downloaded);
        });
    } else if (status == 200 || status == 206) {
        run([&] {
            if (OnConnLost)
                OnConnLost(finished->contentType, stream, finished->downloaded, finished->contentLength);
        });
    } else if (status == -1) {
        run([&] {
            if (OnHostUnreachable)
                OnHostUnreachable();
        });
    } else {
        run([&] {
            if (OnHTTPError)
                OnHTTPError(status, stream);
        });
        closeOutput();
        if (finished->fileCreated)
            ::unlink(finished->outputFileName.c_str());
    }
    closeOutput();
    // The body and the read buffer are not needed any more (the stream was the handlers' to read).
    std::string().swap(finished->stream.memory);
    std::string().swap(finished->buffer);
    // A handler may have destroyed the component or started the next transfer.
    if (*stillAlive && job.get() == finished)
        active = false;
}

} // namespace qarvia::update
