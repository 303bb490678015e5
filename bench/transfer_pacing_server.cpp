// A loopback HTTP server for the transfer benchmark: answers every GET with a body of the given size,
// sent no faster than the given rate (0 = as fast as the connection takes it), like a link of that speed.
//
//     transfer-pacing-server SIZE RATE      prints the port it listens on (127.0.0.1), serves until killed

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <chrono>

namespace {

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void serve(int fd, long long size, double rate) {
    std::string request;
    char block[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const ssize_t n = ::recv(fd, block, sizeof block, 0);
        if (n <= 0) {
            ::close(fd);
            return;
        }
        request.append(block, static_cast<std::size_t>(n));
    }
    const std::string head =
        "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(size) +
        "\r\nConnection: close\r\n\r\n";
    static const std::string body = [] {
        std::string b(1 << 20, '\0');
        for (std::size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<char>(i * 131 % 251);
        return b;
    }();
    if (sendAll(fd, head.data(), head.size())) {
        // Pieces small enough that the pace stays even at the scale of a few blocks.
        constexpr long long piece = 16384;
        const auto start = std::chrono::steady_clock::now();
        long long sent = 0;
        while (sent < size) {
            if (rate > 0) {
                const auto due = start + std::chrono::duration<double>(double(sent) / rate);
                std::this_thread::sleep_until(due);
            }
            const long long n = std::min(piece, size - sent);
            const std::size_t at = static_cast<std::size_t>(sent % static_cast<long long>(body.size() - piece));
            if (!sendAll(fd, body.data() + at, static_cast<std::size_t>(n)))
                break;
            sent += n;
        }
    }
    ::shutdown(fd, SHUT_WR);
    while (::recv(fd, block, sizeof block, 0) > 0) {
    }
    ::close(fd);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: transfer-pacing-server SIZE RATE(bytes/s, 0 = unpaced)\n");
        return 1;
    }
    const long long size = std::atoll(argv[1]);
    const double rate = std::atof(argv[2]);
    std::signal(SIGPIPE, SIG_IGN);
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("transfer-pacing-server");
        return 1;
    }
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::thread(serve, fd, size, rate).detach();
    }
}
