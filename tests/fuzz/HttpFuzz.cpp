// libFuzzer target for the HTTP client's answer reader and the cookie store.
//
// The first byte picks what the rest is:
//   even: the bytes a peer answers, read by THttpClient through a memory stream (no socket), twice, so the
//         cookies the first answer set are gathered for the second request;
//   odd:  lines of "Set-cookie"/"Set-cookie2" values and expiry texts for the cookie store and date reader.
// Every failure must be an EHttpException; a crash, a leak, a hang or undefined behaviour is a finding.

#include "ranking/HttpClient.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace qarvia::http;

namespace {

void readAnswer(std::uint8_t control, const std::string& answer) {
    THttpClient client;
    std::size_t piece = 1 + (control >> 4);
    client.MaxLineLength = (control & 2) ? 64 : 16384;
    client.MaxLineAction = (control & 4) ? maSplit : maException;
    client.setConnector(
        [&](const std::string&, int, int) { return std::make_unique<THttpMemoryStream>(answer, piece); });
    for (int round = 0; round < 2; ++round) {
        std::vector<std::string> fields{"name=\xE5\xBC\xA0\xE4\xB8\x89", "count=10"};
        std::string body;
        try {
            if (control & 8)
                client.Get("http://rank.example.net/bang/role/1", body);
            else
                client.PostForm("http://rank.example.net/bang/search4role", fields, body);
        } catch (const EHttpException&) {
        }
        if (body.size() > answer.size())
            std::abort(); // a body is made of answer bytes only
    }
}

void storeCookies(const std::string& text) {
    THttpCookieManager store;
    store.setClock([] { return std::chrono::system_clock::time_point(std::chrono::hours(24 * 365 * 54)); });
    THttpHeaderList headers;
    std::size_t start = 0;
    bool second = false;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        headers.addLine((second ? "Set-cookie2: " : "Set-cookie: ") + line);
        second = !second;

        // The date reader: whatever it reads, its own written form reads back as the same instant.
        if (std::optional<THttpDateTime> when = parseHttpDate(line)) {
            if (parseHttpDate(formatHttpDate(*when)) != when)
                std::abort();
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    store.StoreCookies(headers, "svc.example.org", "/bang/search4role");
    store.StoreCookies(headers, "10.1.2.3", "/");
    for (const char* url : {"http://svc.example.org/bang/", "http://10.1.2.3/x/y", "http://other.example.org/"})
        store.CookieHeaderFor(THttpURI::parse(url), url[7] == '1');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1)
        storeCookies(rest);
    else
        readAnswer(data[0], rest);
    return 0;
}
