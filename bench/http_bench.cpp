// http_bench: form POSTs per second on loopback, each on a fresh connection as PostForm makes it.
//
//   PostForm/raw-client    a bare socket sending one fixed request: what the server and loopback allow
//   PostForm/raw-clients   three of them at once: the server's capacity
//   PostForm/qarvia        THttpClient::PostForm
//   PostForm/libcurl       libcurl's easy interface with CURLOPT_FORBID_REUSE, the same fields and headers
//
// All talk to one in-process server that answers every request with a small JSON body. The figure that
// matters is the ratio of the two clients' rates (target: qarvia at least 1.5 times libcurl). The raw cases
// show what is left when a client does nothing but its socket calls; server_cpu_us (the server thread's
// CPU time per request) says what the server itself costs. On a loaded machine every rate here is bounded
// by the CPU share the threads get, the raw ones included. The CPU column is the client thread's time per
// request.

#include "ranking/HttpClient.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <thread>
#include <unordered_map>

#include <arpa/inet.h>
#include <pthread.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string AnswerBody = R"({"result":{"total_count":1,"roles":[{"name":"x","id":"7"}]}})";
const std::string UserAgent =
    "Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.4 (KHTML, like Gecko) Chrome/22.0.1229.94 Safari/537.4";
const std::string Accept = "application/json, text/javascript, */*; q=0.01";
const std::string Name = "\xE5\xBC\xA0\xE4\xB8\x89";

// Answers every connection with the same small JSON answer, on one thread driven by epoll, so that it never
// waits on one connection while another is ready: the listener (TCP_DEFER_ACCEPT, so accept wakes it only
// once a request has arrived), connections still sending their request, and answered ones waiting for the
// client to close (the client, not the server, keeps the closed connection's state, as with a real service).
class JsonServer {
public:
    JsonServer() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int deferSeconds = 1;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::setsockopt(listener, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds) != 0 ||
            ::listen(listener, 512) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on 127.0.0.1");
        port = ntohs(address.sin_port);
        reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                std::to_string(AnswerBody.size()) + "\r\nConnection: close\r\n\r\n" + AnswerBody;
        epoll = ::epoll_create1(EPOLL_CLOEXEC);
        wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (epoll < 0 || wake < 0 || !watch(listener) || !watch(wake))
            throw std::runtime_error("cannot set up epoll");
        thread = std::thread([this] { run(); });
    }
    ~JsonServer() {
        std::uint64_t one = 1;
        if (::write(wake, &one, sizeof one) != sizeof one)
            std::abort();
        thread.join();
        for (auto& [fd, connection] : pending)
            ::close(fd);
        ::close(wake);
        ::close(epoll);
        ::close(listener);
    }
    JsonServer(const JsonServer&) = delete;
    JsonServer& operator=(const JsonServer&) = delete;

    std::string url() const { return "http://127.0.0.1:" + std::to_string(port) + "/bang/search4role"; }
    // CPU time the server's thread has used so far, in microseconds: its cost per request, whoever waits.
    double cpuMicroseconds() {
        clockid_t clock;
        timespec used{};
        if (::pthread_getcpuclockid(thread.native_handle(), &clock) != 0 || ::clock_gettime(clock, &used) != 0)
            return 0;
        return static_cast<double>(used.tv_sec) * 1e6 + static_cast<double>(used.tv_nsec) / 1e3;
    }
    int portNumber() const { return port; }
    std::size_t replySize() const { return reply.size(); }

private:
    bool watch(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        return ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event) == 0;
    }
    void drop(int fd) {
        pending.erase(fd);
        ::close(fd); // leaves the epoll set with its last descriptor
    }
    void run() {
        epoll_event events[64];
        for (;;) {
            int n = ::epoll_wait(epoll, events, 64, -1);
            if (n < 0 && errno != EINTR)
                return;
            for (int i = 0; i < n; ++i) {
                int fd = events[i].data.fd;
                if (fd == wake)
                    return;
                if (fd == listener)
                    acceptAll();
                else
                    readFrom(fd);
            }
        }
    }
    void acceptAll() {
        for (;;) {
            int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0)
                return;
            pending[fd] = Connection{};
            if (!readFrom(fd))
                continue;
            if (!watch(fd))
                drop(fd);
        }
    }
    // Reads what the connection has; answers once its request is whole, closes once the client has.
    // False when the connection is gone.
    bool readFrom(int fd) {
        auto it = pending.find(fd);
        if (it == pending.end())
            return false;
        Connection& connection = it->second;
        std::string& request = connection.request;
        char buffer[8192];
        for (;;) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                drop(fd);
                return false;
            }
            if (n < 0)
                return true;
            if (connection.answered) // anything after the request is ignored
                continue;
            request.append(buffer, static_cast<std::size_t>(n));
            std::size_t end = request.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            std::size_t length = 0;
            std::size_t at = request.find("Content-Length:");
            if (at != std::string::npos && at < end)
                length = std::strtoul(request.c_str() + at + 15, nullptr, 10);
            if (request.size() < end + 4 + length)
                continue;
            // The answer is small: it fits the socket's buffer in one send.
            if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(reply.size())) {
                drop(fd);
                return false;
            }
            connection.answered = true;
            request.clear();
        }
    }

    struct Connection {
        std::string request; // what it sent so far
        bool answered = false;
    };

    int listener = -1;
    int epoll = -1;
    int wake = -1;
    int port = 0;
    std::string reply;
    std::unordered_map<int, Connection> pending; // by descriptor
    std::thread thread;
};

// One server for every case, started before the first: the parallel case's threads share it.
JsonServer* server = nullptr;

// Measures the server thread's CPU time over one run of a case; reported per request as "server_cpu_us"
// (one thread reports for all), so 1e6 / server_cpu_us is the rate one core gives the server alone.
class ServerCpu {
public:
    explicit ServerCpu(benchmark::State& state) : state(state) {
        if (state.thread_index() == 0)
            start = server->cpuMicroseconds();
    }
    void report() {
        if (state.thread_index() != 0 || state.iterations() == 0)
            return;
        double requests = static_cast<double>(state.iterations()) * state.threads();
        state.counters["server_cpu_us"] = (server->cpuMicroseconds() - start) / requests;
    }

private:
    benchmark::State& state;
    double start = 0;
};

void PostFormQarvia(benchmark::State& state) {
    const std::string url = server->url();
    qarvia::http::THttpClient client;
    std::size_t bytes = 0;
    ServerCpu serverCpu(state);
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
    serverCpu.report();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

std::size_t collect(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

void PostFormLibcurl(benchmark::State& state) {
    const std::string url = server->url();
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
    ServerCpu serverCpu(state);
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
    serverCpu.report();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

// The server alone: a blocking socket that sends one fixed request (the bytes PostForm writes) and reads the
// known answer, with nothing built, parsed or checked beyond its size. Its rate is what the server and the
// loopback allow; a client well below it is measuring itself, not the server.
void PostFormRaw(benchmark::State& state) {
    const std::string request = "POST /bang/search4role HTTP/1.0\r\nConnection: keep-alive\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 33\r\n"
                                "X-Requested-With:XMLHttpRequest\r\nHost: 127.0.0.1:" +
                                std::to_string(server->portNumber()) + "\r\nAccept: " + Accept +
                                "\r\nReferer: http://127.0.0.1/\r\nUser-Agent: " + UserAgent +
                                "\r\n\r\nname=%E5%BC%A0%E4%B8%89&count=10&";
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(server->portNumber()));
    const std::size_t answerSize = server->replySize();
    char buffer[4096];
    ServerCpu serverCpu(state);
    for (auto _ : state) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        std::size_t got = 0;
        if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            ssize_t n;
            while (got < answerSize && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                got += static_cast<std::size_t>(n);
        }
        if (fd >= 0)
            ::close(fd);
        if (got != answerSize) {
            state.SkipWithError("raw request failed");
            break;
        }
    }
    serverCpu.report();
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(PostFormRaw)->Name("PostForm/raw-client")->UseRealTime()->MinTime(2.0);
// The server's capacity: three raw clients at once keep it from ever waiting for the next request.
BENCHMARK(PostFormRaw)->Name("PostForm/raw-clients")->UseRealTime()->MinTime(2.0)->Threads(3);
BENCHMARK(PostFormQarvia)->Name("PostForm/qarvia")->UseRealTime()->MinTime(2.0);
BENCHMARK(PostFormLibcurl)->Name("PostForm/libcurl")->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    JsonServer shared;
    server = &shared;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
