#pragma once

// A blocking HTTP/1.0 and HTTP/1.1 client that posts forms: the ranking page's way to the ranking service.
//
//     THttpClient http;
//     http.Request.Referer = base + "/";
//     http.Request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
//     std::vector<std::string> fields{"name=" + utf8Name, "count=10"};
//     std::string answer;
//     http.PostForm(base + "/bang/search4role", fields, answer); // throws an EHttpException on failure
//
// Every POST goes out on a fresh connection as HTTP/1.0. Cookies the answers set are kept (CookieManager)
// and sent back. Any status outside 2xx, and any redirect, raises EHttpProtocolException with the status
// line as message. Errors are the classes of ranking/HttpErrors.h.
//
// One client serves one thread at a time.

#include "ranking/HttpCookies.h"
#include "ranking/HttpDate.h"
#include "ranking/HttpErrors.h"
#include "ranking/HttpHeaderList.h"
#include "ranking/HttpStream.h"
#include "ranking/HttpUri.h"

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qarvia::http {

enum THttpMethod { hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect };
enum THttpProtocolVersion { pv1_0, pv1_1 };
enum THttpOption { hoInProcessAuth, hoKeepOrigProtocol, hoForceEncodeParams };

class THttpOptions {
public:
    THttpOptions() = default;
    THttpOptions(std::initializer_list<THttpOption> options) {
        for (THttpOption option : options)
            bits.set(option);
    }
    bool contains(THttpOption option) const { return bits.test(option); }
    void insert(THttpOption option) { bits.set(option); }
    void erase(THttpOption option) { bits.reset(option); }

private:
    std::bitset<3> bits;
};

// The request record. Fields keep their values from one request to the next; an empty field is not sent.
struct THttpRequest {
    std::string Connection;
    std::string ContentVersion;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::string ContentType = "text/html";
    std::int32_t ContentLength = -1; // negative: none
    std::string CacheControl;
    std::optional<THttpDateTime> Date;
    std::optional<THttpDateTime> Expires;
    std::string Pragma;
    THttpHeaderList CustomHeaders{THttpHeaderList::HeaderFoldLength}; // raw lines, sent as they stand
    std::string ProxyConnection;
    std::string Host; // replaced from the URL at every request
    std::string Accept = "text/html, */*";
    std::string AcceptCharSet;
    std::string AcceptEncoding;
    std::string AcceptLanguage;
    std::string From;
    std::string Referer;
    std::string UserAgent = "Mozilla/3.0 (compatible; HTTP client)";
    std::optional<THttpDateTime> LastModified; // sent as "If-Modified-Since"
    std::int32_t ContentRangeStart = 0;
    std::int32_t ContentRangeEnd = 0;
    bool BasicAuthentication = false;
    std::string Username;
    std::string Password;

    // Of the request in progress (or the last one).
    std::string URL;
    THttpMethod Method = hmGet;
    std::string Source; // the body for POST and PUT
    THttpHeaderList RawHeaders{THttpHeaderList::HeaderFoldLength};
};

// The answer record of the last request.
struct THttpResponse {
    std::string ResponseText;       // the status line
    std::int32_t ResponseCode = -1; // -1 when the status line has none
    THttpProtocolVersion ResponseVersion = pv1_0;
    THttpHeaderList RawHeaders{THttpHeaderList::HeaderFoldLength};
    std::string Connection;
    std::string ProxyConnection;
    std::string Location;
    std::string Server;
    std::string ContentType;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::string ContentVersion;
    std::string ContentRange;
    std::string Pragma;
    std::int64_t ContentLength = -1; // -1 when absent or not a number
    bool HasContentLength = false;
    std::optional<THttpDateTime> Date;
    std::optional<THttpDateTime> Expires;
    std::optional<THttpDateTime> LastModified;
    std::vector<std::string> WWWAuthenticate;
    std::vector<std::string> ProxyAuthenticate;
    bool KeepAlive = false; // as decided when the request ended
};

class THttpClient {
public:
    // The most body bytes one answer may bring (also what a Content-Length or chunk size may announce).
    static constexpr std::size_t MaxAnswerSize = 64 * 1024 * 1024;

    // Opens the connection to host:port, waiting at most timeoutMs (0: no limit of its own).
    using Connector = std::function<std::unique_ptr<IHttpStream>(const std::string& host, int port, int timeoutMs)>;
    // Asked about a redirect with its target and method, both of which it may change; true accepts it.
    using RedirectHook = std::function<bool(std::string& url, THttpMethod& method)>;

    THttpClient();
    ~THttpClient();
    THttpClient(const THttpClient&) = delete;
    THttpClient& operator=(const THttpClient&) = delete;

    // Settings.
    THttpProtocolVersion ProtocolVersion = pv1_1; // for requests other than POST
    THttpOptions HTTPOptions{hoForceEncodeParams};
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    int AuthRetries = 3;
    bool AllowCookies = true;
    int ReadTimeout = 0;    // milliseconds each wait for data may take; 0: no limit
    int ConnectTimeout = 0; // milliseconds a connect may take; 0: ReadTimeout when set, else no limit
    // Milliseconds one whole request may take, from its connect to the last byte of the answer, however
    // the peer paces its bytes; 0: no limit. Running out ends the request with EHttpReadTimeout.
    int ExchangeTimeout = 0;
    std::size_t MaxLineLength = 16384;
    TMaxLineAction MaxLineAction = maException;
    std::size_t RecvBufferSize = 32768;
    std::size_t SendBufferSize = 32768;
    RedirectHook OnRedirect;

    THttpRequest Request;
    THttpResponse Response;

    // Created on the first answer when AllowCookies is set; null before that.
    THttpCookieManager* CookieManager() const { return cookies.get(); }
    // Hands the client a store of the caller's (its hooks set, say) in place of the one it would create.
    void setCookieManager(std::unique_ptr<THttpCookieManager> manager) { cookies = std::move(manager); }

    // Posts `fields` (lines "name=value", encoded in place) to `url`, an absolute http URL, and appends
    // the answer body to `answer`. Throws an EHttpException when the answer is not a 2xx one or the
    // exchange fails; `answer` then keeps what had arrived.
    void PostForm(const std::string& url, std::vector<std::string>& fields, std::string& answer);
    // A GET with ProtocolVersion, on the open connection when the last answer allowed keeping it.
    void Get(const std::string& url, std::string& answer);

    // The form body of `fields`: each value encoded (hoForceEncodeParams), the lines joined with "&", and
    // with two or more lines a final "&" ("name=a+b&count=10&").
    std::string BuildFormBody(std::vector<std::string>& fields) const;
    // Letters and digits stay, a blank becomes "+", every other byte "%XX".
    static std::string EncodeFormValue(std::string_view value);

    // Closes the connection if one is open.
    void Disconnect();
    bool Connected() const { return io.connected(); }

    // Test seam: how connections are opened (TCP by default).
    void setConnector(Connector connector);

private:
    enum TDecision { dGoToURL, dAuthorize, dExit, dUndecided };

    void PerformRequest(THttpMethod method, const std::string& url, const std::string& source, std::string& answer);
    void PrepareTarget();
    // True when the open connection is used again, false when a new one was opened.
    bool ConnectIfNeeded();
    // ReadResponseHead and StoreCookies, repeated while the status is 100.
    void ReadAnswerHeads();
    void SendRequestHead();
    void ReadResponseHead();
    TDecision DecideOnStatus(std::string& answer, std::size_t startLength);
    void ReadResponseBody(std::string& answer, std::size_t limit);
    void refuse();
    bool answerKeepAlive() const;
    void applyIOSettings();

    Connector connector;
    THttpIOHandler io;
    std::unique_ptr<THttpCookieManager> cookies;
    THttpURI uri; // parts of the last request's URL
    std::string connectedHost;
    int connectedPort = 0;
    bool previousKeepAlive = true; // keep-alive flag of the last answer on the open connection
    THttpProtocolVersion requestVersion = pv1_1;
    int redirectCount = 0;
};

} // namespace qarvia::http
