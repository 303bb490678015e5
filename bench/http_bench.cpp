// http_bench: form POSTs per second on loopback, each on a fresh connection as PostForm makes it.
//
//   PostForm/raw-client        a bare blocking socket sending one fixed request (the bytes PostForm writes) and
//                              reading the known answer: the least any client does per request on this machine
//   PostForm/raw-clients       three of them at once: a measured lower bound of what the server serves
//   PostForm/qarvia            THttpClient::PostForm, set up as the ranking tab sets it up (its time limits too)
//   PostForm/libcurl           libcurl's easy interface with CURLOPT_FORBID_REUSE, the same fields and headers
//   PostForm/qarvia-and-libcurl-in-turns
//                              the two clients in turns of 32 requests: the comparison that counts (below)
//   PostForm/qarvia-in-memory  the client's own work per request: the same requests answered from memory
//
// All talk to one in-process server that answers every request with a small JSON body and "Connection:
// close", and then closes the connection as a server that says so does. (When the server left the closing
// to the client, every closed connection held one of the machine's 28,000 local ports in TIME_WAIT for a
// minute; at 13,000 requests per second connect() then spent most of its time searching for a free port,
// and every client here, the raw one too, ran at that search's pace.)
//
// Counters: the CPU column is the client thread's CPU time per request; server_cpu_us is the server
// thread's; server_capacity is 1 / server_cpu_us, the requests per second the server thread serves on one
// core of its own. On loopback each side's time also holds the kernel's receiving work for the packets it
// sends, so neither figure is the other side's cost alone, but the two add up to the whole. The machine has
// two cores that the clients, the server and other programs share, so no client here can show the
// server's capacity by load alone: server_capacity is that proof, and raw-clients a measured lower bound.
//
// The machine is shared, and its load comes in bursts of seconds that make one case's run twice as slow as
// the next. So every case runs five times, the runs of all cases shuffled, and the last lines compare the
// medians: first the in-turns case, where a burst falls on both clients alike (target: qarvia at least 1.5
// times libcurl's requests per second), then the two clients' separate cases; then the server's capacity
// in those cases (the lowest of the three) against the faster client's rate, which it should exceed at
// least twice, and what three raw clients at once got.

#include "ranking/HttpClient.h"
#include "ranking/HttpStream.h"

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>
#include <unordered_map>
#include <vector>

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
const std::string Reply = "HTTP/1.1 200 OK\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                          std::to_string(AnswerBody.size()) + "\r\nConnection: close\r\n\r\n" + AnswerBody;

// Answers every connection with the same small JSON answer, on one thread driven by epoll, so that it never
// waits on one connection while another is ready: the listener (TCP_DEFER_ACCEPT, so accept wakes it only
// once a request has arrived) and connections still sending their request. Each connection is closed as
// soon as it is answered: the answer says "Connection: close".
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
            pending.try_emplace(fd);
            if (!readFrom(fd))
                continue;
            if (!watch(fd))
                drop(fd);
        }
    }
    // Reads what the connection has; answers once its request is whole and closes. False when the connection
    // is gone (answered or failed).
    bool readFrom(int fd) {
        auto it = pending.find(fd);
        if (it == pending.end())
            return false;
        std::string& request = it->second;
        char buffer[8192];
        for (;;) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                drop(fd);
                return false;
            }
            if (n < 0)
                return true;
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
            // The answer is small: it fits the socket's buffer in one send. The whole request has been read,
            // so the close sends an orderly end, not a reset.
            ::send(fd, Reply.data(), Reply.size(), MSG_NOSIGNAL);
            drop(fd);
            return false;
        }
    }

    int listener = -1;
    int epoll = -1;
    int wake = -1;
    int port = 0;
    std::unordered_map<int, std::string> pending; // what each connection has sent so far, by descriptor
    std::thread thread;
};

// One server for every case, started before the first: the parallel case's threads share it.
JsonServer* server = nullptr;

// Measures the server thread's CPU time over one run of a case; reported per request as "server_cpu_us"
// and as "server_capacity", the requests per second that much CPU time allows on one core (one thread
// reports for all).
class ServerCpu {
public:
    explicit ServerCpu(benchmark::State& state) : state(state) {
        if (state.thread_index() == 0)
            start = server->cpuMicroseconds();
    }
    // `perIteration`: the requests one iteration of the case makes.
    void report(int perIteration = 1) {
        if (state.thread_index() != 0 || state.iterations() == 0)
            return;
        double requests = static_cast<double>(state.iterations()) * state.threads() * perIteration;
        double perRequest = (server->cpuMicroseconds() - start) / requests;
        state.counters["server_cpu_us"] = perRequest;
        if (perRequest > 0)
            state.counters["server_capacity"] = benchmark::Counter(1e6 / perRequest);
    }

private:
    benchmark::State& state;
    double start = 0;
};

// THttpClient set up as the ranking tab sets it up (RankingPage), every request prepared as the tab does.
class QarviaPoster {
public:
    explicit QarviaPoster(std::string url) : url(std::move(url)) {
        // Every wait of the exchange has a limit.
        client.ReadTimeout = 30000;
        client.ConnectTimeout = 15000;
        client.ExchangeTimeout = 60000;
    }
    // One search; false when the answer is not the one the server sends.
    bool post() {
        client.Request.Referer = "http://127.0.0.1/";
        client.Request.UserAgent = UserAgent;
        client.Request.Accept = Accept;
        client.Request.CustomHeaders.clear();
        client.Request.CustomHeaders.addLine("X-Requested-With:XMLHttpRequest");
        std::vector<std::string> fields{"name=" + Name, "count=10"};
        std::string answer;
        client.PostForm(url, fields, answer);
        return answer == AnswerBody;
    }
    qarvia::http::THttpClient client;

private:
    std::string url;
};

std::size_t collect(char* data, std::size_t size, std::size_t count, void* sink) {
    static_cast<std::string*>(sink)->append(data, size * count);
    return size * count;
}

// libcurl's easy interface making the same requests, each on a fresh connection.
class CurlPoster {
public:
    explicit CurlPoster(const std::string& url) {
        for (const std::string& line : {std::string("Content-Type: application/x-www-form-urlencoded"),
                                        std::string("X-Requested-With:XMLHttpRequest"), "Accept: " + Accept,
                                        std::string("Referer: http://127.0.0.1/"), "User-Agent: " + UserAgent})
            headers = curl_slist_append(headers, line.c_str());
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
        curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
    }
    ~CurlPoster() {
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
    }
    CurlPoster(const CurlPoster&) = delete;
    CurlPoster& operator=(const CurlPoster&) = delete;

    bool post() {
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
        return code == CURLE_OK && status == 200 && answer == AnswerBody;
    }

private:
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    std::string answer;
};

template <class Poster> void PostFormOneClient(benchmark::State& state) {
    Poster poster(server->url());
    ServerCpu serverCpu(state);
    for (auto _ : state) {
        if (!poster.post()) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    serverCpu.report();
    state.SetItemsProcessed(state.iterations());
}

double threadCpuSeconds() {
    timespec used{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

// The two clients in turns of 32 requests each, so that a burst of load elsewhere on the machine falls on
// both alike: each client's rate and CPU time per request are taken over its own turns only. The client
// that goes first changes every turn.
void PostFormTurns(benchmark::State& state) {
    constexpr int turn = 32;
    QarviaPoster qarvia(server->url());
    CurlPoster curl(server->url());
    double wall[2] = {}, cpu[2] = {};
    std::int64_t requests[2] = {};
    ServerCpu serverCpu(state);
    int first = 0;
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k) {
            const int who = (first + k) % 2;
            const auto startWall = std::chrono::steady_clock::now();
            const double startCpu = threadCpuSeconds();
            for (int i = 0; i < turn; ++i) {
                if (!(who == 0 ? qarvia.post() : curl.post())) {
                    state.SkipWithError("wrong answer");
                    return;
                }
            }
            wall[who] += std::chrono::duration<double>(std::chrono::steady_clock::now() - startWall).count();
            cpu[who] += threadCpuSeconds() - startCpu;
            requests[who] += turn;
        }
        first ^= 1;
    }
    serverCpu.report(2 * turn);
    if (requests[0] == 0 || wall[0] <= 0 || wall[1] <= 0)
        return;
    const double qarviaRate = static_cast<double>(requests[0]) / wall[0];
    const double curlRate = static_cast<double>(requests[1]) / wall[1];
    state.counters["qarvia"] = benchmark::Counter(qarviaRate);
    state.counters["libcurl"] = benchmark::Counter(curlRate);
    state.counters["ratio"] = qarviaRate / curlRate;
    state.counters["qarvia_cpu_us"] = cpu[0] * 1e6 / static_cast<double>(requests[0]);
    state.counters["libcurl_cpu_us"] = cpu[1] * 1e6 / static_cast<double>(requests[1]);
    state.SetItemsProcessed(state.iterations() * 2 * turn);
}

// The client's own work per request, without the network: the same requests, answered from memory.
void PostFormQarviaInMemory(benchmark::State& state) {
    QarviaPoster qarvia(server->url());
    qarvia.client.setConnector(
        [](const std::string&, int, int) { return std::make_unique<qarvia::http::THttpMemoryStream>(Reply); });
    for (auto _ : state) {
        if (!qarvia.post()) {
            state.SkipWithError("wrong answer");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// The server alone: a blocking socket that sends one fixed request (the bytes PostForm writes) and reads the
// known answer, with nothing built, parsed or checked beyond its size. Its rate is what the server, the
// loopback and the kernel's work for one connection allow a single client.
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
    const std::size_t answerSize = Reply.size();
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

// Prints the results as usual, then compares the cases: the medians of the repetitions (or the single run).
class ComparingReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || !(single || median))
                continue;
            Figures& figures = cases[run.run_name.function_name];
            for (const auto& [name, counter] : run.counters)
                figures[name] = counter.value;
            figures["cpu_us"] = run.GetAdjustedCPUTime() * microsecondsPer(run.time_unit);
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        double faster = 0;
        if (const Figures* turns = find("PostForm/qarvia-and-libcurl-in-turns")) {
            std::printf("\nin turns:   qarvia %.2fx libcurl's requests per second (%.1fk/s against %.1fk/s); CPU time "
                        "per request %.1f us against %.1f us\n",
                        value(*turns, "ratio"), value(*turns, "qarvia") / 1e3, value(*turns, "libcurl") / 1e3,
                        value(*turns, "qarvia_cpu_us"), value(*turns, "libcurl_cpu_us"));
            faster = std::max(value(*turns, "qarvia"), value(*turns, "libcurl"));
        }
        const Figures* qarvia = find("PostForm/qarvia");
        const Figures* curl = find("PostForm/libcurl");
        if (qarvia && curl && value(*curl, "items_per_second") > 0) {
            double q = value(*qarvia, "items_per_second"), c = value(*curl, "items_per_second");
            std::printf("separately: qarvia %.2fx libcurl's requests per second (%.1fk/s against %.1fk/s); CPU time "
                        "per request %.1f us against %.1f us\n",
                        q / c, q / 1e3, c / 1e3, value(*qarvia, "cpu_us"), value(*curl, "cpu_us"));
            faster = std::max({faster, q, c});
        }
        // The server's capacity where it answers the clients compared above, one request at a time: the
        // lowest of those cases.
        double lowest = 0;
        for (const char* name : {"PostForm/qarvia-and-libcurl-in-turns", "PostForm/qarvia", "PostForm/libcurl"}) {
            const Figures* figures = find(name);
            double capacity = figures ? value(*figures, "server_capacity") : 0;
            if (capacity > 0 && (lowest == 0 || capacity < lowest))
                lowest = capacity;
        }
        if (lowest > 0 && faster > 0)
            std::printf("server:     %.1f us of CPU per request at the most in those cases: a capacity of %.1fk/s, "
                        "%.2fx the faster client's rate (%.1fk/s)\n",
                        1e3 / lowest * 1e3, lowest / 1e3, lowest / faster, faster / 1e3);
        if (const Figures* raw = find("PostForm/raw-clients"))
            std::printf(
                "            three raw clients at once got %.1fk/s; sharing the two cores with them, the server "
                "used %.1f us of CPU per request (%.1fk/s)\n",
                value(*raw, "items_per_second") / 1e3, value(*raw, "server_cpu_us"),
                value(*raw, "server_capacity") / 1e3);
    }

private:
    using Figures = std::map<std::string, double>;
    const Figures* find(const std::string& name) const {
        auto it = cases.find(name);
        return it == cases.end() ? nullptr : &it->second;
    }
    static double value(const Figures& figures, const std::string& name) {
        auto it = figures.find(name);
        return it == figures.end() ? 0 : it->second;
    }
    static double microsecondsPer(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kNanosecond:
            return 1e-3;
        case benchmark::kMicrosecond:
            return 1;
        case benchmark::kMillisecond:
            return 1e3;
        case benchmark::kSecond:
            return 1e6;
        }
        return 1e-3;
    }
    std::map<std::string, Figures> cases;
};

} // namespace

BENCHMARK(PostFormRaw)->Name("PostForm/raw-client")->UseRealTime()->MinTime(1.0);
// Three raw clients at once: the rate the server kept up with while sharing two cores with them.
BENCHMARK(PostFormRaw)->Name("PostForm/raw-clients")->UseRealTime()->MinTime(1.0)->Threads(3);
BENCHMARK(PostFormOneClient<QarviaPoster>)->Name("PostForm/qarvia")->UseRealTime()->MinTime(1.0);
BENCHMARK(PostFormOneClient<CurlPoster>)->Name("PostForm/libcurl")->UseRealTime()->MinTime(1.0);
BENCHMARK(PostFormTurns)->Name("PostForm/qarvia-and-libcurl-in-turns")->UseRealTime()->MinTime(2.0);
BENCHMARK(PostFormQarviaInMemory)->Name("PostForm/qarvia-in-memory")->MinTime(0.2);

int main(int argc, char** argv) {
    // Unless told otherwise: five runs of each case, taken in turns, so that a burst of load elsewhere on the
    // machine falls on every case alike rather than on one of them.
    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    auto given = [&](std::string_view flag) {
        for (int i = 1; i < argc; ++i)
            if (std::string_view(argv[i]).starts_with(flag))
                return true;
        return false;
    };
    if (!given("--benchmark_repetitions"))
        args.insert(args.begin() + 1, repetitions.data());
    if (!given("--benchmark_enable_random_interleaving"))
        args.insert(args.begin() + 1, interleaving.data());
    int count = static_cast<int>(args.size());
    args.push_back(nullptr);

    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&count, args.data());
    JsonServer shared;
    server = &shared;
    ComparingReporter reporter(benchmark::ConsoleReporter::OO_None);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    curl_global_cleanup();
    return 0;
}
