#include "ranking/HttpClient.h"

#include "ranking/HttpText.h"
#include "text/Ascii.h"

#include <algorithm>
#include <array>
#include <climits>
#include <iterator>
#include <utility>

namespace qarvia::http {

namespace {

// Bytes a header block may hold in all: far beyond any real answer, small enough to refuse a flood.
constexpr std::size_t MaxHeaderBlock = 1024 * 1024;
constexpr int RefusedBodyTimeout = 2000;
constexpr int RedirectBodyTimeout = 4000;

const char* methodName(THttpMethod method) {
    switch (method) {
    case hmHead:
        return "HEAD";
    case hmGet:
        return "GET";
    case hmPost:
        return "POST";
    case hmOptions:
        return "OPTIONS";
    case hmTrace:
        return "TRACE";
    case hmPut:
        return "PUT";
    case hmDelete:
        return "DELETE";
    case hmConnect:
        return "CONNECT";
    }
    return "GET";
}

std::string base64(std::string_view data) {
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8 |
                     static_cast<unsigned char>(data[i + 2]);
        out += {digits[v >> 18], digits[(v >> 12) & 63], digits[(v >> 6) & 63], digits[v & 63]};
    }
    if (i + 1 == data.size()) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        out += {digits[v >> 18], digits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == data.size()) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8;
        out += {digits[v >> 18], digits[(v >> 12) & 63], digits[(v >> 6) & 63], '='};
    }
    return out;
}

// Blanks, control characters and bytes above 0x7E cannot stand in a request line: they go out as %XX.
std::string escapeTarget(std::string_view target) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : target) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool hasLineBreak(std::string_view text) {
    // Two single-byte searches: find_first_of would test every byte against the set one call at a time.
    return text.find('\n') != std::string_view::npos || text.find('\r') != std::string_view::npos;
}

} // namespace

THttpClient::THttpClient()
    : connector([](const std::string& host, int port, int timeoutMs) -> std::unique_ptr<IHttpStream> {
          return THttpSocketStream::connect(host, port, timeoutMs);
      }) {}

THttpClient::~THttpClient() = default;

void THttpClient::setConnector(Connector newConnector) {
    Disconnect();
    connector = std::move(newConnector);
}

void THttpClient::Disconnect() {
    io.close();
}

std::string THttpClient::EncodeFormValue(std::string_view value) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (unsigned char c : value) {
        if (c == ' ') {
            out += '+';
        } else if (text::isAsciiAlnum(static_cast<char>(c))) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string THttpClient::BuildFormBody(std::vector<std::string>& fields) const {
    if (HTTPOptions.contains(hoForceEncodeParams)) {
        // Each line is encoded from its own value, so two fields of the same name keep their own values.
        for (std::string& line : fields) {
            std::size_t equals = line.find('=');
            if (equals == std::string::npos || equals + 1 == line.size())
                continue;
            line = line.substr(0, equals + 1) + EncodeFormValue(std::string_view(line).substr(equals + 1));
        }
    }
    std::string text;
    for (const std::string& line : fields) {
        text += line;
        text += fields.size() >= 2 ? "&" : "\r\n";
    }
    return std::string(trimmed(text));
}

void THttpClient::applyIOSettings() {
    io.ReadTimeout = ReadTimeout;
    io.MaxLineLength = MaxLineLength;
    io.MaxLineAction = MaxLineAction;
    io.RecvBufferSize = RecvBufferSize;
    io.SendBufferSize = SendBufferSize;
}

void THttpClient::PostForm(const std::string& url, std::vector<std::string>& fields, std::string& answer) {
    if (Request.ContentType.empty() || sameTextIgnoringCase(Request.ContentType, "text/html"))
        Request.ContentType = "application/x-www-form-urlencoded";
    std::string body = BuildFormBody(fields);
    Disconnect();

    // A POST goes out as HTTP/1.0 unless told otherwise; the setting is back as it was on every way out.
    struct VersionGuard {
        THttpProtocolVersion& version;
        THttpProtocolVersion saved;
        ~VersionGuard() { version = saved; }
    } guard{ProtocolVersion, ProtocolVersion};
    if (!HTTPOptions.contains(hoKeepOrigProtocol))
        ProtocolVersion = pv1_0;

    PerformRequest(hmPost, url, body, answer);
}

void THttpClient::Get(const std::string& url, std::string& answer) {
    PerformRequest(hmGet, url, std::string(), answer);
}

void THttpClient::PerformRequest(THttpMethod method, const std::string& url, const std::string& source,
                                 std::string& answer) {
    const std::size_t startLength = answer.size();
    Request.URL = url;
    Request.Method = method;
    Request.Source = source;
    redirectCount = 0;
    applyIOSettings();
    io.setDeadline(ExchangeTimeout > 0
                       ? std::optional(THttpIOHandler::Clock::now() + std::chrono::milliseconds(ExchangeTimeout))
                       : std::nullopt);
    struct DeadlineGuard {
        THttpIOHandler& io;
        ~DeadlineGuard() { io.setDeadline(std::nullopt); }
    } deadlineGuard{io};

    try {
        for (;;) {
            ++redirectCount;
            PrepareTarget();
            bool reused = ConnectIfNeeded();
            try {
                SendRequestHead();
                ReadAnswerHeads();
            } catch (const EHttpException& e) {
                // A kept-alive connection the peer has closed meanwhile fails before any answer: the request
                // is made once more on a new connection (only other methods than POST ever reuse one).
                bool stale =
                    dynamic_cast<const EHttpConnClosedGracefully*>(&e) || dynamic_cast<const EHttpSocketError*>(&e);
                if (!reused || !stale)
                    throw;
                io.close();
                ConnectIfNeeded();
                SendRequestHead();
                ReadAnswerHeads();
            }

            TDecision decision = DecideOnStatus(answer, startLength);
            if (decision == dGoToURL) {
                answer.resize(startLength);
                previousKeepAlive = answerKeepAlive();
                continue;
            }
            if (decision == dAuthorize) {
                --redirectCount;
                Request.URL = url;
                previousKeepAlive = answerKeepAlive();
                continue;
            }
            if (decision == dExit)
                break;
            throw EHttpException("Undefined situation");
        }
    } catch (const EHttpProtocolException&) {
        // The refused answer was read whole: its connection may serve again when it said so.
        previousKeepAlive = Response.KeepAlive = answerKeepAlive();
        if (!previousKeepAlive)
            io.close();
        redirectCount = 0;
        throw;
    } catch (...) {
        // Anywhere else the stream stands at an unknown place: it cannot carry another request.
        previousKeepAlive = Response.KeepAlive = false;
        io.close();
        redirectCount = 0;
        throw;
    }
    previousKeepAlive = Response.KeepAlive = answerKeepAlive();
    if (!previousKeepAlive)
        io.close();
    redirectCount = 0;
}

void THttpClient::PrepareTarget() {
    THttpURI next = THttpURI::parse(Request.URL);
    if (!next.Username.empty()) {
        Request.Username = next.Username;
        Request.Password = next.Password;
    }
    uri.Path = THttpURI::resolvePath(uri.Path, next.Path);
    uri.Document = next.Document;
    uri.Params = next.Params;
    uri.Bookmark = next.Bookmark;
    if (!next.Host.empty())
        uri.Host = next.Host;
    uri.Protocol = next.Protocol.empty() ? "http" : next.Protocol;

    if (uri.Protocol == "https")
        throw EHttpUnknownProtocol("HTTPS is not supported");
    if (uri.Protocol != "http")
        throw EHttpUnknownProtocol();
    // A URL that names its host without a port means the default port, whatever the last request used;
    // only a relative URL stays on the remembered one.
    if (!next.Port.empty())
        uri.Port = next.Port;
    else if (!next.Host.empty() || uri.Port.empty() || uri.Port == "0" || uri.Port == "80" || uri.Port == "443")
        uri.Port = "80";
    if (!readDecimal(uri.Port, 1, 65535))
        throw EHttpSocketError(10022);

    requestVersion = ProtocolVersion;
    THttpMethod method = Request.Method;
    if ((method == hmOptions || method == hmTrace || method == hmPut || method == hmDelete) && requestVersion != pv1_1)
        throw EHttpException("This request method is supported in HTTP 1.1");

    // The length field is 32 bits wide: a body it cannot describe is not sent at all.
    if (Request.Source.size() > static_cast<std::size_t>(INT32_MAX))
        throw EHttpException("Request too large");
    Request.ContentLength =
        (method == hmPost || method == hmPut) ? static_cast<std::int32_t>(Request.Source.size()) : -1;
    Request.Host = uri.Port == "80" ? uri.Host : uri.Host + ":" + uri.Port;
}

void THttpClient::ReadAnswerHeads() {
    do {
        ReadResponseHead();
        if (AllowCookies) {
            if (!cookies)
                cookies = std::make_unique<THttpCookieManager>();
            cookies->StoreCookies(Response.RawHeaders, uri.Host, uri.Path + uri.Document);
        }
    } while (Response.ResponseCode == 100);
}

bool THttpClient::ConnectIfNeeded() {
    int port = static_cast<int>(*readDecimal(uri.Port, 1, 65535));
    if (io.streamOpen() && (uri.Host != connectedHost || port != connectedPort))
        io.close();
    if (requestVersion == pv1_0 && Request.Connection.empty())
        Request.Connection = "keep-alive";
    // A connection is reused only when the last answer allowed it and left nothing unread behind.
    if (!previousKeepAlive || io.hasUnread())
        io.close();
    if (io.streamOpen())
        return true;
    io.close();
    int limit = ConnectTimeout > 0 ? ConnectTimeout : ReadTimeout;
    // The request's deadline bounds the connect too (a connect that outlives it fails as a time-out).
    int left = io.timeLeft();
    if (left > 0 && (limit <= 0 || left < limit))
        limit = left;
    std::unique_ptr<IHttpStream> stream = connector(uri.Host, port, limit);
    if (!stream)
        throw EHttpSocketError(10057);
    io.open(std::move(stream));
    connectedHost = uri.Host;
    connectedPort = port;
    previousKeepAlive = true;
    return false;
}

void THttpClient::SendRequestHead() {
    THttpHeaderList& raw = Request.RawHeaders;
    raw.clear();
    // Each name below is new to the list, so its line is appended, unless the caller's own lines (which
    // come in the middle) carry it: then its value replaces that line in place, or removes it when empty.
    const THttpHeaderList& custom = Request.CustomHeaders;
    // The names the caller's lines carry, read once (a list with more names than this is asked each time).
    std::array<std::string_view, 8> customNames;
    std::size_t customNameCount = 0;
    custom.forEachName([&](std::string_view name, std::size_t) {
        if (customNameCount < customNames.size())
            customNames[customNameCount] = name;
        ++customNameCount;
    });
    auto isCustom = [&](std::string_view name) {
        if (customNameCount > customNames.size())
            return custom.contains(name);
        for (std::size_t i = 0; i < customNameCount; ++i)
            if (sameTextIgnoringCase(customNames[i], name))
                return true;
        return false;
    };
    auto put = [&](std::string_view name, std::string_view value) {
        if (isCustom(name))
            raw.setValue(name, value);
        else
            raw.appendValue(name, value);
    };
    put("Connection", Request.Connection);
    put("Content-Version", Request.ContentVersion);
    put("Content-Encoding", Request.ContentEncoding);
    put("Content-Language", Request.ContentLanguage);
    put("Content-Type", Request.ContentType);
    if (Request.ContentLength >= 0)
        put("Content-Length", std::to_string(Request.ContentLength));
    put("Cache-control", Request.CacheControl);
    if (Request.Date)
        put("Date", formatHttpDate(*Request.Date));
    if (Request.Expires)
        put("Expires", formatHttpDate(*Request.Expires));
    put("Pragma", Request.Pragma);
    for (const std::string& line : custom.lines())
        raw.addLine(line);
    put("Proxy-Connection", Request.ProxyConnection);
    put("Host", Request.Host);
    put("Accept", Request.Accept);
    put("Accept-Charset", Request.AcceptCharSet);
    put("Accept-Encoding", Request.AcceptEncoding);
    put("Accept-Language", Request.AcceptLanguage);
    put("From", Request.From);
    put("Referer", Request.Referer);
    put("User-Agent", Request.UserAgent);
    if (Request.LastModified)
        put("If-Modified-Since", formatHttpDate(*Request.LastModified));
    if (Request.ContentRangeStart != 0 || Request.ContentRangeEnd != 0) {
        std::string range = "bytes=" + std::to_string(Request.ContentRangeStart) + "-";
        if (Request.ContentRangeEnd != 0)
            range += std::to_string(Request.ContentRangeEnd);
        put("Range", range);
    }
    if (Request.BasicAuthentication)
        put("Authorization", "Basic " + base64(Request.Username + ":" + Request.Password));
    if (cookies)
        put("Cookie", cookies->CookieHeaderFor(uri, false));

    const bool withBody = Request.Method == hmPost || Request.Method == hmPut;
    const std::string target = escapeTarget(uri.target());
    std::size_t size = 32 + target.size() + (withBody ? Request.Source.size() : 0);
    for (const std::string& line : raw.lines())
        size += line.size() + 2;
    std::string head;
    head.reserve(size);
    head.append(methodName(Request.Method))
        .append(" ")
        .append(target)
        .append(requestVersion == pv1_0 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    for (const std::string& line : raw.lines()) {
        // A line break inside a value would start a header of its own: nothing of the kind is sent.
        if (hasLineBreak(line))
            throw EHttpException("Invalid character in request header");
        if (!line.empty())
            head.append(line).append("\r\n");
    }
    head += "\r\n";

    // The head goes out in one write; a POST or PUT body follows in the same stream of writes, so a small
    // body leaves in the same packet instead of waiting behind the head.
    if (withBody)
        head += Request.Source;
    io.write(head);
}

void THttpClient::ReadResponseHead() {
    Response = THttpResponse{};
    Response.ResponseText = io.readLine();

    std::size_t total = Response.ResponseText.size();
    for (;;) {
        std::string line;
        try {
            line = io.readLine();
        } catch (const EHttpConnClosedGracefully&) {
            io.close();
            break;
        }
        if (line.empty())
            break;
        total += line.size() + 2;
        if (total > MaxHeaderBlock)
            throw EHttpException("Header block too large");
        Response.RawHeaders.addLine(std::move(line));
    }

    std::string_view status = Response.ResponseText;
    std::size_t blank = status.find(' ');
    std::string_view codeText = blank == std::string_view::npos ? std::string_view() : trimmed(status.substr(blank));
    codeText = codeText.substr(0, codeText.find(' '));
    Response.ResponseCode = static_cast<std::int32_t>(readDecimal(codeText, INT32_MIN, INT32_MAX).value_or(-1));
    std::string_view version = status.size() >= 8 ? status.substr(5, 3) : std::string_view();
    Response.ResponseVersion = version == "1.1" ? pv1_1 : pv1_0;

    // The fields in one pass over the lines: each takes the first line of its name, as value() finds it.
    const THttpHeaderList& headers = Response.RawHeaders;
    std::string contentLength, date, lastModified, expires;
    const std::pair<std::string_view, std::string*> fields[] = {
        {"Location", &Response.Location},
        {"Server", &Response.Server},
        {"Proxy-Connection", &Response.ProxyConnection},
        {"Content-Range", &Response.ContentRange},
        {"Connection", &Response.Connection},
        {"Content-Version", &Response.ContentVersion},
        {"Content-Encoding", &Response.ContentEncoding},
        {"Content-Language", &Response.ContentLanguage},
        {"Content-Type", &Response.ContentType},
        {"Content-Length", &contentLength},
        {"Date", &date},
        {"Last-Modified", &lastModified},
        {"Expires", &expires},
        {"Pragma", &Response.Pragma},
    };
    bool found[std::size(fields)] = {};
    headers.forEachName([&](std::string_view name, std::size_t index) {
        if (sameTextIgnoringCase(name, "WWW-Authenticate")) {
            Response.WWWAuthenticate.push_back(headers.valueAt(index));
            return;
        }
        if (sameTextIgnoringCase(name, "Proxy-Authenticate")) {
            Response.ProxyAuthenticate.push_back(headers.valueAt(index));
            return;
        }
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            if (!found[i] && sameTextIgnoringCase(name, fields[i].first)) {
                found[i] = true;
                *fields[i].second = headers.valueAt(index);
                return;
            }
        }
    });

    std::optional<std::int64_t> length = readDecimal(contentLength, 0, INT64_MAX / 2);
    Response.ContentLength = length.value_or(-1);
    Response.HasContentLength = length.has_value();
    Response.Date = parseHttpDate(date);
    Response.LastModified = parseHttpDate(lastModified);
    if (std::optional<std::int64_t> seconds = readDecimal(expires, 0, 100LL * 366 * 24 * 3600))
        Response.Expires =
            std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()) + std::chrono::seconds(*seconds);
    else
        Response.Expires = parseHttpDate(expires);
}

bool THttpClient::answerKeepAlive() const {
    if (!io.streamOpen())
        return false;
    std::string_view connection = trimmed(Response.Connection);
    std::string_view proxyConnection = trimmed(Response.ProxyConnection);
    if (requestVersion == pv1_0)
        return sameTextIgnoringCase(connection, "keep-alive") || sameTextIgnoringCase(proxyConnection, "keep-alive");
    return !sameTextIgnoringCase(connection, "close") && !sameTextIgnoringCase(proxyConnection, "close");
}

THttpClient::TDecision THttpClient::DecideOnStatus(std::string& answer, std::size_t startLength) {
    const int code = Response.ResponseCode;
    if ((code >= 300 && code <= 399 && code != 304) || !Response.Location.empty()) {
        std::string target = Response.Location;
        THttpMethod method = Request.Method;
        bool accepted = OnRedirect ? OnRedirect(target, method) : HandleRedirects;
        if (!accepted)
            refuse();
        if (io.connected()) {
            // Read the redirect's own body out of the way; whatever goes wrong there does not matter.
            std::string dropped;
            io.ReadTimeout = RedirectBodyTimeout;
            try {
                ReadResponseBody(dropped, MaxAnswerSize);
            } catch (const EHttpException&) {
                io.close();
            }
            io.ReadTimeout = ReadTimeout;
        }
        if (HandleRedirects && redirectCount <= RedirectMaximum) {
            Request.URL = target;
            Request.Method = method;
            return dGoToURL;
        }
        Response.Location = target;
        return dExit;
    }
    if (code >= 200 && code <= 299) {
        if (!io.connected())
            return dUndecided;
        if (code != 204 && Request.Method != hmHead) {
            std::size_t used = answer.size() - startLength;
            ReadResponseBody(answer, MaxAnswerSize - std::min(used, MaxAnswerSize));
        }
        return dExit;
    }
    // 401 and 407 would need a credentials hook, which this client does not have: refused like the rest.
    refuse();
    return dUndecided;
}

void THttpClient::refuse() {
    std::string body;
    const int code = Response.ResponseCode;
    // 1xx, 204 and 304 answers and answers to HEAD carry no body: waiting for one would only turn the
    // status into a time-out.
    bool hasBody = !(code >= 100 && code <= 199) && code != 204 && code != 304 && Request.Method != hmHead;
    if (io.connected() && hasBody) {
        io.ReadTimeout = RefusedBodyTimeout;
        try {
            ReadResponseBody(body, MaxAnswerSize);
        } catch (...) {
            io.ReadTimeout = ReadTimeout;
            throw;
        }
        io.ReadTimeout = ReadTimeout;
    }
    throw EHttpProtocolException(Response.ResponseText, code, std::move(body));
}

void THttpClient::ReadResponseBody(std::string& answer, std::size_t limit) {
    if (Response.ContentLength > 0) {
        if (static_cast<std::uint64_t>(Response.ContentLength) > limit)
            throw EHttpException("Answer too large");
        // A peer that closes early leaves a shorter body, which is what it sent.
        io.readBytes(static_cast<std::size_t>(Response.ContentLength), answer);
        return;
    }
    // Transfer codings are case-insensitive: "Chunked" is as chunked as "chunked".
    if (lowerCased(Response.RawHeaders.value("Transfer-Encoding")).find("chunked") != std::string::npos) {
        std::size_t total = 0;
        for (;;) {
            std::string line = io.readLine();
            std::string_view sizeLine = trimmed(line);
            // The size is the leading hexadecimal digits; an extension may follow with or without a blank.
            std::size_t digits = 0;
            std::uint64_t size = 0;
            while (digits < sizeLine.size() && text::isAsciiHexDigit(sizeLine[digits])) {
                if (size > MaxAnswerSize)
                    throw EHttpException("Answer too large");
                size = size * 16 + static_cast<std::uint64_t>(text::asciiHexValue(sizeLine[digits]));
                ++digits;
            }
            if (digits == 0)
                throw EHttpException("Invalid chunk size");
            if (size == 0)
                break;
            if (size > limit - total)
                throw EHttpException("Answer too large");
            if (!io.readBytes(static_cast<std::size_t>(size), answer))
                throw EHttpConnClosedGracefully();
            total += static_cast<std::size_t>(size);
            io.readLine(); // the CR LF after the chunk
        }
        // Trailer lines up to the blank line that ends the body; the body is whole even if the stream ends here.
        try {
            std::size_t trailer = 0;
            for (std::string line = io.readLine(); !line.empty(); line = io.readLine()) {
                if ((trailer += line.size() + 2) > MaxHeaderBlock)
                    throw EHttpException("Header block too large");
            }
        } catch (const EHttpConnClosedGracefully&) {
        }
        return;
    }
    if (!Response.HasContentLength)
        io.readToEnd(answer, limit);
}

} // namespace qarvia::http
