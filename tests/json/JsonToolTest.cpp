#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool with the given arguments and standard input.
ToolRun runTool(const std::string& args, const std::string& input) {
    char dir[] = "/tmp/qarvia-json-tool-XXXXXX";
    if (!mkdtemp(dir))
        return {-1, {}, {}};
    const std::string base = dir;
    std::ofstream(base + "/in", std::ios::binary) << input;
    const std::string cmd =
        std::string(QARVIA_JSON_TOOL) + " " + args + " < " + base + "/in > " + base + "/out 2> " + base + "/err";
    const int raw = std::system(cmd.c_str());
    const auto slurp = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    ToolRun r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(base + "/out"), slurp(base + "/err")};
    std::remove((base + "/in").c_str());
    std::remove((base + "/out").c_str());
    std::remove((base + "/err").c_str());
    rmdir(dir);
    return r;
}

TEST(JsonToolTest, ReformatsAndReportsFailures) {
    const struct {
        const char* args;
        const char* input;
        int status;
        const char* out;
        const char* err;
    } cases[] = {
        {"", "{\"b\": 1, 'a': [1.5, \"\xE4\xB8\xAD\"]}", 0, "{\"a\":[1.5,\"\xE4\xB8\xAD\"],\"b\":1}\n", ""},
        {"--escape", "\xEF\xBB\xBF[\"\xE4\xB8\xAD/\"]", 0, "[\"\\u4e2d\\/\"]\n", ""},
        {"--indent", "{\"a\":[1]}", 0, "{\r\n \"a\": [\r\n  1]\r\n}\n", ""},
        {"-", "plain words", 0, "\"plain words\"\n", ""},
        {"--strict", "plain words", 1, "", "no value\n"},
        {"--strict", "[1] [2]", 1, "", "no value\n"},
        {"--strict", "[1 // x", 1, "", "no value\n"}, // mended: printed 1 and exited 0
        {"", "[1 // x", 1, "", "no value\n"},
        {"", "[1 2]", 1, "", "no value\n"},
        {"--bogus", "", 2, "", nullptr},
        {"/nonexistent/file.json", "", 2, "", nullptr},
    };
    for (const auto& c : cases) {
        const ToolRun r = runTool(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << c.args << " " << c.input;
        EXPECT_EQ(r.out, c.out) << c.args << " " << c.input;
        if (c.err)
            EXPECT_EQ(r.err, c.err) << c.args << " " << c.input;
        else
            EXPECT_FALSE(r.err.empty());
    }
}

} // namespace
