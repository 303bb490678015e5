// qarvia-rank-demo: a local hero ranking service to try the toolbox's ranking tab with.

#include "RankDemo.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* const usage = "Usage: qarvia-rank-demo [options]\n"
                          "Serves a generated hero ranking so the toolbox's ranking tab can be tried locally.\n"
                          "\n"
                          "  --port N         port to listen on (default 8765; 0 picks a free one)\n"
                          "  --host ADDR      address to listen on (default 127.0.0.1)\n"
                          "  --roles N        number of generated roles (default 360)\n"
                          "  --charset NAME   how answers write Chinese text: utf-8 (default), gbk or escaped\n"
                          "  --page-size N    answer N roles a page whatever the request asks (default: its count)\n"
                          "  -h, --help       show this help and exit\n"
                          "  --version        print the version and exit\n"
                          "\n"
                          "Point the toolbox at it with:  qarvia-toolbox --rank-url http://127.0.0.1:8765\n";

bool readNumber(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < low || value > high)
        return false;
    out = static_cast<int>(value);
    return true;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "qarvia-rank-demo: %s\nTry 'qarvia-rank-demo --help'.\n", message.c_str());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    using namespace qarvia::rankdemo;
    ServerOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("qarvia-rank-demo " QARVIA_VERSION);
            return 0;
        }
        if (arg != "--port" && arg != "--host" && arg != "--roles" && arg != "--charset" && arg != "--page-size")
            return fail("unknown option '" + arg + "'");
        if (i + 1 >= argc)
            return fail("option '" + arg + "' needs a value");
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--port")
            ok = readNumber(value, 0, 65535, options.port);
        else if (arg == "--host")
            options.host = value;
        else if (arg == "--roles")
            ok = readNumber(value, 1, 100000, options.roleCount);
        else if (arg == "--page-size")
            ok = readNumber(value, 1, 100000, options.pageSize);
        else
            ok = parseCharset(value, options.charset);
        if (!ok)
            return fail("invalid value '" + std::string(value) + "' for " + arg);
    }

    // Signals are taken by sigwait below, so block them before the server starts its threads.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    RankDemoServer server(options);
    if (!server.start()) {
        std::fprintf(stderr, "qarvia-rank-demo: cannot listen on %s port %d\n", options.host.c_str(), options.port);
        return 1;
    }
    std::printf("qarvia-rank-demo: %zu roles, listening on %s (Ctrl+C stops)\n", server.roles().size(),
                server.baseUrl().c_str());
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    server.stop();
    return 0;
}
