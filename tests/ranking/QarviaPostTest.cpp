// qarvia-post run as a program against a scripted peer: what reaches the wire, stdout, stderr, exit status.

#include "ScriptedServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

using qarvia::test::ScriptedServer;
using Step = ScriptedServer::Step;

namespace {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun runTool(std::vector<std::string> args) {
    auto dir = std::filesystem::temp_directory_path();
    auto outPath = dir / ("qarvia-post-out-" + std::to_string(::getpid()));
    auto errPath = dir / ("qarvia-post-err-" + std::to_string(::getpid()));
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen(outPath.c_str(), "wb", stdout) || !std::freopen(errPath.c_str(), "wb", stderr))
            ::_exit(126);
        std::vector<char*> argv{const_cast<char*>(QARVIA_POST_TOOL)};
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        ::execv(QARVIA_POST_TOOL, argv.data());
        ::_exit(127);
    }
    ToolRun run;
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = slurp(outPath);
    run.err = slurp(errPath);
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return run;
}

} // namespace

TEST(QarviaPost, SendsFieldsAndHeadersAndPrintsTheBody) {
    ScriptedServer server({Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\n{\"ok\":1}\n")});
    ToolRun run = runTool({"--header", "X-Requested-With:XMLHttpRequest", "--header", "User-Agent: probe/1",
                           "--referer", server.url("/"), server.url("/bang/search4role"), "name=a b", "count=10"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "{\"ok\":1}\n");
    ASSERT_TRUE(server.waitForFinished(1));
    std::string request = server.request(0);
    for (const std::string& part :
         {std::string("POST /bang/search4role HTTP/1.0\r\n"), std::string("\r\nX-Requested-With:XMLHttpRequest\r\n"),
          std::string("\r\nUser-Agent: probe/1\r\n"), "\r\nReferer: " + server.url("/") + "\r\n",
          std::string("\r\n\r\nname=a+b&count=10&")})
        EXPECT_NE(request.find(part), std::string::npos) << part << " in " << request;
    EXPECT_EQ(request.find("User-Agent"), request.rfind("User-Agent"));
}

TEST(QarviaPost, ErrorsGoToStandardErrorWithStatus1) {
    ScriptedServer server({Step::answer("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 4\r\n\r\nbusy")});
    ToolRun refused = runTool({server.url("/"), "a=1"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.err, "HTTP/1.1 503 Service Unavailable\n");

    ScriptedServer silent({Step::stall()});
    ToolRun timedOut = runTool({"--timeout", "200", silent.url("/"), "a=1"});
    EXPECT_EQ(timedOut.status, 1);
    EXPECT_EQ(timedOut.err, "Read Timeout\n");

    EXPECT_EQ(runTool({}).status, 2);
    EXPECT_EQ(runTool({"--timeout", "soon", server.url("/")}).status, 2);
    EXPECT_EQ(runTool({"--header", "no colon", server.url("/")}).status, 2);
}
