// THttpClient against a real HTTP server program written elsewhere: Python's http.server on loopback.

#include "ranking/HttpClient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qarvia::http;

namespace {

// Serves a temporary folder with `python3 -m http.server` on 127.0.0.1 and a kernel-chosen port; stopped
// and reaped by the destructor.
class PythonServer {
public:
    PythonServer() {
        folder = std::filesystem::temp_directory_path() / ("qarvia-peer-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::ofstream(folder / "hello.txt") << "hello from the peer\n";

        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(pipeFds[1], 1);
            ::dup2(pipeFds[1], 2);
            ::close(pipeFds[0]);
            if (::chdir(folder.c_str()) == 0)
                ::execl(QARVIA_PYTHON3, "python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", nullptr);
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        output = pipeFds[0];
        // "Serving HTTP on 127.0.0.1 port 43219 (http://127.0.0.1:43219/) ..."
        std::string text;
        std::smatch match;
        std::regex pattern("port ([0-9]+)");
        while (pid > 0 && !std::regex_search(text, match, pattern)) {
            pollfd item{output, POLLIN, 0};
            char buffer[256];
            ssize_t n = ::poll(&item, 1, 10000) > 0 ? ::read(output, buffer, sizeof buffer) : 0;
            if (n <= 0)
                return;
            text.append(buffer, static_cast<std::size_t>(n));
        }
        port = std::stoi(match[1]);
    }
    ~PythonServer() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (output >= 0)
            ::close(output);
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    int port = 0;

private:
    std::filesystem::path folder;
    pid_t pid = -1;
    int output = -1;
};

} // namespace

TEST(HttpPeer, PythonHttpServer) {
    if (std::string(QARVIA_PYTHON3).empty() || !std::filesystem::exists(QARVIA_PYTHON3))
        GTEST_SKIP() << "python3 not found";
    PythonServer server;
    ASSERT_GT(server.port, 0) << "http.server did not start";

    THttpClient client;
    client.ReadTimeout = 10000;
    std::string answer;
    client.Get(server.url("/hello.txt"), answer);
    EXPECT_EQ(answer, "hello from the peer\n");
    EXPECT_EQ(client.Response.ResponseCode, 200);
    EXPECT_TRUE(client.Response.Date.has_value());

    // It has no POST handler: the refusal comes back with its status line as the message.
    std::vector<std::string> fields{"name=x", "count=10"};
    try {
        client.PostForm(server.url("/bang/search4role"), fields, answer);
        FAIL() << "POST was accepted";
    } catch (const EHttpProtocolException& e) {
        EXPECT_EQ(e.ErrorCode(), 501);
        EXPECT_EQ(std::string(e.what()).rfind("HTTP/1.0 501 ", 0), 0u) << e.what();
        EXPECT_NE(e.ErrorMessage().find("501"), std::string::npos);
    }
    try {
        client.Get(server.url("/missing"), answer);
        FAIL() << "missing file was found";
    } catch (const EHttpProtocolException& e) {
        EXPECT_EQ(std::string(e.what()), "HTTP/1.0 404 File not found");
    }
}
