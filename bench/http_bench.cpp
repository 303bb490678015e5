// http_bench: form POSTs per second on loopback, each on a fresh connection as PostForm makes it.
//
//   PostForm/qarvia    THttpClient::PostForm
//   PostForm/libcurl   libcurl's easy interface with CURLOPT_FORBID_REUSE, the same fields and headers
//
// Both talk to one in-process server that answers every request with a small JSON body. The figure that
// matters is the ratio of the two rates (target: qarvia at least as fast as libcurl).

#include "ranking/HttpClient.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string AnswerBody = R"({"result":{"total_count":1,"roles":[{"name":"x","id":"7"}]}})";
const std::string UserAgent =
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) Chrome/22.0.1229.94 Safari/537.4";
const std::string Accept = "application/json, text/javascript, */*; q=0.01";
const std::string Name = "\xE5\xBC\xA0\xE4\xB8\x89";

// Answers each connection in turn: reads the request head and its Content-Length body, writes the answer,
// then waits for the client to close (so the client, not the server, holds the closed connection's state).
class JsonServer {
public:
    JsonServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(listener, 128) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port = ntohs(address.sin_port);
        reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                std::to_string(AnswerBody.size()) + "\r\nConnection: close\r\n\r\n" + AnswerBody;
        thread = std::thread([this] { run(); });
    }
    ~JsonServer() {
        stopping = true;
        ::shutdown(listener, SHUT_RDWR);
        thread.join();
        ::close(listener);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/bang/search4role"; }

private:
    void run() {
        while (!stopping) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (stopping || (errno != EINTR && errno != ECONNABORTED))
                    return;
                continue;
            }
            serve(fd);
            ::close(fd);
        }
    }
    void serve(int fd) {
        std::string request;
        char buffer[8192];
        std::size_t needed = std::string::npos;
        while (needed == std::string::npos || request.size() < needed) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            request.append(buffer, static_cast<std::size_t>(n));
            std::size_t end = request.find("\r\n\r\n");
            if (needed == std::string::npos && end != std::string::npos) {
                std::size_t length = 0;
                std::size_t at = request.find("Content-Length:");
                if (at != std::string::npos && at < end)
                    length = std::strtoul(request.c_str() + at + 15, nullptr, 10);
                needed = end + 4 + length;
            }
        }
        if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size()))
            return;
        pollfd item{fd, POLLIN, 0};
        while (::poll(&item, 1, 2000) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }

    int listener = -1;
    int port = 0;
    std::string reply;
    std::atomic<bool> stopping{false};
    std::thread thread;
};

void PostFormQarvia(benchmark::State& state) {
    JsonServer server;
    const std::string url = server.url();
    qarvia::http::THttpClient client;
    std::size_t bytes = 0;
    for (auto _ : state) {
        // As the ranking page prepares every request.
        client.Request.Referer = "http://127.0.0.1/";
        client.Request.UserAgent = UserAgent;
        client.Request.Accept = Accept;
        client.Request.CustomHeaders.clear();
        client.Request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
        std::vector<std::string> fields{"name=" + Name, "count=10"};
        std::string answer;
        client.PostForm(url, fields, answer);
        if (answer != AnswerBody) {
            state.SkipWithError("wrong answer");
            break;
        }
        bytes += answer.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

void PostFormLibcurl(benchmark::State& state) {
    JsonServer server;
    const std::string url = server.url();
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    for (const std::string& line : {std::string("Content-Type: application/x-www-form-urlencoded"),
                                    std::string("X-Requested-With:XMLHttpRequest"), "Accept: " + Accept,
                                    std::string("Referer: http://127.0.0.1/"), "User-Agent: " + UserAgent})
        headers = curl_slist_append(headers, line.c_str());
    std::string answer;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    std::size_t bytes = 0;
    for (auto _ : state) {
        // The same fields, encoded per request as PostForm does.
        char* name = curl_easy_escape(curl, Name.data(), static_cast<int>(Name.size()));
        std::string body = std::string("name=") + name + "&count=10&";
        curl_free(name);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
        answer.clear();
        CURLcode code = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (code != CURLE_OK || status != 200 || answer != AnswerBody) {
            state.SkipWithError("libcurl request failed");
            break;
        }
        bytes += answer.size();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

} // namespace

BENCHMARK(PostFormQarvia)->Name("PostForm/qarvia")->UseRealTime()->MinTime(2.0);
BENCHMARK(PostFormLibcurl)->Name("PostForm/libcurl")->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
