// qarvia-fetch: downloads one URL with the update component's transfer layer, to a file or to standard
// output, with a progress bar on standard error when that is a terminal.

#include "update/TsuCustomHTTP.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

using namespace qarvia::update;

namespace {

enum ExitCode { exitDone = 0, exitUsage = 1, exitHttpError = 2, exitConnLost = 3, exitUnreachable = 4 };

const char* usageText = "usage: qarvia-fetch [options] URL [FILE]\n"
                        "Downloads URL to FILE, or to standard output when FILE is not given.\n"
                        "  --buffer-size N       bytes per read (default 4096)\n"
                        "  --connect-timeout MS  give up connecting after MS milliseconds\n"
                        "  --stall-timeout MS    give up when no data arrives for MS milliseconds\n"
                        "  --user NAME, --password TEXT   login for servers that ask for one\n"
                        "  --no-cache            ask caches on the way for a fresh copy\n"
                        "  --cacert FILE         trust the certificate authorities in FILE (PEM)\n"
                        "  --insecure            accept a certificate issued for another name or out of its dates\n"
                        "  --version             print the version and exit\n"
                        "Exit status: 0 done, 1 usage, 2 HTTP error, 3 connection lost, 4 host unreachable.\n";

std::string humanBytes(double bytes) {
    const char* units[] = {"B", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (bytes >= 1024 && unit < 4) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string clock(std::int64_t seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%02lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

// Draws "[#####.....]  45%  12.3 MB/s  00:07 left  45.0 MB of 100.0 MB" at most ten times a second.
class ProgressBar {
public:
    explicit ProgressBar(bool enabled) : enabled(enabled), start(Clock::now()), lastDraw(start) {}

    void update(std::int64_t read, std::int64_t size, bool force = false) {
        if (!enabled)
            return;
        const auto now = Clock::now();
        if (!force && now - lastDraw < std::chrono::milliseconds(100))
            return;
        lastDraw = now;
        const double seconds = std::chrono::duration<double>(now - start).count();
        const double rate = seconds > 0 ? double(read) / seconds : 0;
        std::string line;
        if (size > 0) {
            const double fraction = std::min(1.0, double(read) / double(size));
            const auto filled = static_cast<std::size_t>(std::clamp(fraction, 0.0, 1.0) * barWidth);
            line.assign(1, '[').append(filled, '#').append(barWidth - filled, '.').append("] ");
            char percent[8];
            std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100));
            line += percent;
        } else {
            line.assign(1, '[').append(barWidth, '?').append("]  ?? ");
        }
        line += "  " + humanBytes(rate) + "/s";
        if (size > 0 && rate > 0)
            line += "  " + clock(static_cast<std::int64_t>(double(size - read) / rate)) + " left";
        line += "  " + humanBytes(double(read)) + (size > 0 ? " of " + humanBytes(double(size)) : std::string());
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        drawn = true;
    }

    void finish() {
        if (drawn)
            std::fputc('\n', stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t barWidth = 30;
    bool enabled;
    bool drawn = false;
    Clock::time_point start;
    Clock::time_point lastDraw;
};

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TsuCustomHTTP http;
    std::string url;
    std::string file;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(usageText, stdout);
            return exitDone;
        } else if (arg == "--version") {
            std::puts("qarvia-fetch " QARVIA_VERSION);
            return exitDone;
        } else if (arg == "--buffer-size" && hasValue) {
            http.setTransferBufferSize(std::atoll(argv[++i]));
        } else if (arg == "--connect-timeout" && hasValue) {
            http.Timeouts.ConnectTimeout = std::atoi(argv[++i]);
        } else if (arg == "--stall-timeout" && hasValue) {
            http.Timeouts.ReceiveTimeout = std::atoi(argv[++i]);
        } else if (arg == "--user" && hasValue) {
            http.HTTPUsername = argv[++i];
        } else if (arg == "--password" && hasValue) {
            http.HTTPPassword = argv[++i];
        } else if (arg == "--cacert" && hasValue) {
            http.CertificateAuthorityFile = argv[++i];
        } else if (arg == "--no-cache") {
            http.CacheOptions.insert(TsuCacheOption::coPragmaNoCache);
        } else if (arg == "--insecure") {
            http.InternetOptions.insert(TsuInternetOption::ioIgnoreCertificateInvalid)
                .insert(TsuInternetOption::ioIgnoreCertificateDateInvalid);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "qarvia-fetch: unknown option %s\n%s", arg.c_str(), usageText);
            return exitUsage;
        } else if (url.empty()) {
            url = arg;
        } else if (file.empty()) {
            file = arg;
        } else {
            std::fputs(usageText, stderr);
            return exitUsage;
        }
    }
    if (url.empty()) {
        std::fputs(usageText, stderr);
        return exitUsage;
    }

    http.URL = url;
    http.OutputFileName = file;
    ProgressBar bar(isatty(STDERR_FILENO) == 1);
    // Assigned even without a terminal: every block is handed to this thread, as in the program.
    http.OnProgress = [&bar](const TsuHTTPProgress& p) { bar.update(p.BytesRead, p.Size); };
    int status = exitDone;
    auto finish = [&](int code) {
        status = code;
        QCoreApplication::exit(code);
    };
    http.OnDone = [&](const std::string&, TsuTransferStream& stream, std::int64_t total) {
        bar.update(total, http.ContentLength(), true);
        bar.finish();
        if (!stream.isFile() && !writeAll(STDOUT_FILENO, stream.data())) {
            std::fprintf(stderr, "qarvia-fetch: writing to standard output failed\n");
            finish(exitConnLost);
            return;
        }
        finish(exitDone);
    };
    http.OnConnLost = [&](const std::string&, TsuTransferStream&, std::int64_t read, std::int64_t size) {
        bar.finish();
        const std::string reason = http.LastErrorText();
        std::fprintf(stderr, "qarvia-fetch: connection lost after %lld of %lld bytes%s%s\n",
                     static_cast<long long>(read), static_cast<long long>(size), reason.empty() ? "" : ": ",
                     reason.c_str());
        finish(exitConnLost);
    };
    http.OnHostUnreachable = [&] {
        bar.finish();
        const std::string reason = http.LastErrorText();
        std::fprintf(stderr, "qarvia-fetch: host unreachable%s%s\n", reason.empty() ? "" : ": ", reason.c_str());
        finish(exitUnreachable);
    };
    http.OnHTTPError = [&](int code, TsuTransferStream&) {
        bar.finish();
        std::fprintf(stderr, "qarvia-fetch: HTTP error %d\n", code);
        finish(exitHttpError);
    };
    http.OnHandlerError = [](const std::string& message) {
        std::fprintf(stderr, "qarvia-fetch: %s\n", message.c_str());
    };

    if (!http.StartTransfer())
        return exitUnreachable;
    app.exec();
    return status;
}
