// qarvia-post: posts form fields to a URL the way the ranking page does and prints the answer body.
//
//     qarvia-post [--header "Name: value"]... [--referer URL] [--timeout MS] URL name=value...
//
// The answer body goes to standard output as it came; on an error the message goes to standard error and
// the exit status is 1 (2 for a wrong command line).

#include "ranking/HttpClient.h"
#include "text/Ascii.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

using namespace qarvia::http;

namespace {

constexpr const char* usage =
    "usage: qarvia-post [options] URL name=value...\n"
    "Posts the fields as a form (each value percent-encoded, lines joined with \"&\") and writes the\n"
    "answer body to standard output. Any status outside 2xx is an error.\n"
    "options:\n"
    "  --header \"Name: value\"  add a request header (repeatable); Accept, User-Agent, Referer and\n"
    "                          Content-Type replace the client's own values\n"
    "  --referer URL           the Referer header\n"
    "  --timeout MS            limit for connecting and for each wait for data (default 30000, 0: none)\n"
    "  --help                  this text\n"
    "  --version               print the version and exit\n";

std::string trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t");
    std::size_t end = text.find_last_not_of(" \t");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

// Headers the client writes itself are set through their fields, so the given value wins; any other
// line is sent as it stands.
void addHeader(THttpRequest& request, const std::string& line) {
    std::size_t colon = line.find(':');
    std::string name =
        colon == std::string::npos ? std::string() : qarvia::text::asciiLowerCased(trim(line.substr(0, colon)));
    std::string value = colon == std::string::npos ? std::string() : trim(line.substr(colon + 1));
    if (name == "accept")
        request.Accept = value;
    else if (name == "user-agent")
        request.UserAgent = value;
    else if (name == "referer")
        request.Referer = value;
    else if (name == "content-type")
        request.ContentType = value;
    else
        request.CustomHeaders.addLine(line);
}

bool readNumber(const char* text, int& value) {
    char* end = nullptr;
    long number = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || number < 0 || number > 86400000)
        return false;
    value = static_cast<int>(number);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    THttpClient client;
    client.ReadTimeout = 30000;
    std::string url;
    std::vector<std::string> fields;

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::cout << usage;
            return 0;
        } else if (arg == "--version") {
            std::cout << "qarvia-post " QARVIA_VERSION "\n";
            return 0;
        } else if (arg == "--header" && hasValue) {
            std::string line = argv[++i];
            if (line.find_first_of("\r\n") != std::string::npos || line.find(':') == std::string::npos) {
                std::cerr << "qarvia-post: a header is one line \"Name: value\"\n";
                return 2;
            }
            addHeader(client.Request, line);
        } else if (arg == "--referer" && hasValue) {
            client.Request.Referer = argv[++i];
        } else if (arg == "--timeout" && hasValue) {
            if (!readNumber(argv[++i], client.ReadTimeout)) {
                std::cerr << "qarvia-post: --timeout takes milliseconds\n";
                return 2;
            }
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << "qarvia-post: unknown or incomplete option " << arg << "\n" << usage;
            return 2;
        } else if (url.empty()) {
            url = arg;
        } else {
            fields.push_back(arg);
        }
    }
    if (url.empty()) {
        std::cerr << usage;
        return 2;
    }
    client.ConnectTimeout = client.ReadTimeout;

    std::string answer;
    try {
        client.PostForm(url, fields, answer);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::fwrite(answer.data(), 1, answer.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
