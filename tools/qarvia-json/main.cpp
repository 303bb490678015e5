// qarvia-json: reads a JSON text (UTF-8) from a file or standard input, parses it with the toolbox's reader
// and writes it back as UTF-8 JSON.

#include "json/JsonParser.h"
#include "text/Encoding.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

using namespace qarvia::json;

namespace {

const char Usage[] = "usage: qarvia-json [--strict] [--indent] [--escape] [FILE|-]\n"
                     "  Parses FILE (standard input when absent or '-') and writes it as JSON.\n"
                     "  --strict  strict syntax, no text after the value\n"
                     "  --indent  one member per line, one space per level\n"
                     "  --escape  write every non-ASCII and control unit as an escape\n"
                     "  --version print the version and exit\n"
                     "exit status: 0 written, 1 no value, 2 usage or file error\n";

bool readAll(std::istream& in, std::string& out) {
    std::ostringstream buffer;
    buffer << in.rdbuf();
    out = buffer.str();
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    bool strict = false, indent = false, escape = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--strict") == 0) {
            strict = true;
        } else if (std::strcmp(a, "--indent") == 0) {
            indent = true;
        } else if (std::strcmp(a, "--escape") == 0) {
            escape = true;
        } else if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (std::strcmp(a, "--version") == 0) {
            std::puts("qarvia-json " QARVIA_VERSION);
            return 0;
        } else if (a[0] == '-' && a[1] != 0) {
            std::fprintf(stderr, "qarvia-json: unknown option %s\n%s", a, Usage);
            return 2;
        } else if (file) {
            std::fprintf(stderr, "qarvia-json: only one file may be given\n%s", Usage);
            return 2;
        } else {
            file = a;
        }
    }

    std::string bytes;
    if (!file || std::strcmp(file, "-") == 0) {
        if (!readAll(std::cin, bytes)) {
            std::fputs("qarvia-json: cannot read standard input\n", stderr);
            return 2;
        }
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in || !readAll(in, bytes)) {
            std::fprintf(stderr, "qarvia-json: cannot read %s: %s\n", file, std::strerror(errno));
            return 2;
        }
    }
    // A byte-order mark is not part of the text.
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        bytes.erase(0, 3);

    const std::u16string text = qarvia::text::utf8ToUtf16(bytes);
    const IJsonValue value = strict ? ParseString(text, true, false) : ParseText(text);
    if (!value) {
        std::fputs("no value\n", stderr);
        return 1;
    }
    const std::string out = qarvia::text::utf16ToUtf8(value.ToJson(indent, escape));
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0) {
        std::fputs("qarvia-json: cannot write standard output\n", stderr);
        return 2;
    }
    return 0;
}
