// Whole upgrades: an update published on loopback by a real HTTP server program, a program built on
// TsuUpdater installed in a folder of its own (with a blank and a "+" in its path), and the real stub.

#include "update/stub/StubInstaller.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& content, bool executable = false) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    if (executable)
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

pid_t spawn(const std::vector<std::string>& args, int stdoutFd = -1, const std::vector<std::string>& env = {},
            bool quiet = false) {
    std::vector<std::string> store = args;
    std::vector<char*> argv;
    for (auto& a : store)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    if (quiet)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int waitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string waitForFile(const fs::path& path) {
    for (int i = 0; i < 1500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return readFile(path);
}

std::vector<std::string> downloadsIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().filename().string().ends_with(".uTMP"))
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Python's http.server on 127.0.0.1, a port the kernel picks, serving one folder; `shortFiles` ("NAME=BYTES")
// are announced that many bytes short of their size.
class PublishingServer {
public:
    explicit PublishingServer(const fs::path& root, const std::vector<std::string>& shortFiles = {}) {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        std::vector<std::string> args = {"python3", "-u", PUBLISHING_SERVER, root.string()};
        args.insert(args.end(), shortFiles.begin(), shortFiles.end());
        pid = spawn(args, fds[1], {}, true);
        close(fds[1]);
        // "Serving HTTP on 127.0.0.1 port 43117 (http://127.0.0.1:43117/) ..."
        std::string line;
        char c;
        while (line.find('\n') == std::string::npos && read(fds[0], &c, 1) == 1)
            line += c;
        close(fds[0]);
        const auto at = line.find(" port ");
        if (at != std::string::npos)
            port = std::atoi(line.c_str() + at + 6);
    }
    ~PublishingServer() {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    PublishingServer(const PublishingServer&) = delete;
    PublishingServer& operator=(const PublishingServer&) = delete;
    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }

    pid_t pid = -1;
    int port = 0;
};

const std::string NewProgram = "#!/bin/sh\necho \"new program: $*\" > \"$(dirname \"$0\")/mark\"\n";
// What the Chinese wizard says once after an installation was undone.
const std::string NotCompleted = "上次升级没有完成。\n\n已恢复为原来的版本；已下载的文件会保留到下次再试。\n--\n";

class UpgradeEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device rd;
        root = fs::temp_directory_path() / ("qarvia-upgrade-" + std::to_string(rd()));
        published = root / "published";
        installed = root / "My Games" / "q+t";
        fs::create_directories(published);
        fs::create_directories(installed);
        program = installed / "upgrade-test-app";
        fs::copy_file(UPGRADE_TEST_APP, program);
        oldProgram = readFile(program);
        writeFile(installed / "readme.txt", "old readme");
        server = std::make_unique<PublishingServer>(published);
        ASSERT_GT(server->port, 0);
    }
    void TearDown() override {
        server.reset();
        fs::remove_all(root);
    }

    void publish(const std::string& infoFile) { writeFile(published / "upt.inf", infoFile); }

    std::string checkUrl() const { return server->url("/upt.inf?d=7"); }
    // Runs the installed program's check; `output` receives what it writes to standard output. `asUser`
    // runs it as an unprivileged user when the test runs as root (for whom every folder is writable).
    int runCheck(const std::string& extra = {}, std::vector<std::string> env = {}, std::string* output = nullptr,
                 bool asUser = false) {
        std::vector<std::string> args = {program.string(), "--check", checkUrl()};
        if (!extra.empty())
            args.push_back(extra);
        if (asUser && geteuid() == 0)
            args.insert(args.begin(), {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});
        int fds[2] = {-1, -1};
        if (output && pipe(fds) != 0)
            return -1;
        env.push_back("UPGRADE_TEST_STUB=" + (root / "stub").string());
        const pid_t pid = spawn(args, fds[1], env);
        if (output) {
            close(fds[1]);
            char buffer[4096];
            ssize_t n = 0;
            while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
                output->append(buffer, static_cast<std::size_t>(n));
            close(fds[0]);
        }
        return waitExit(pid);
    }

    fs::path root, published, installed, program;
    std::string oldProgram;
    std::unique_ptr<PublishingServer> server;
};

} // namespace

TEST_F(UpgradeEndToEnd, PublishedUpdateIsInstalledAndRestarted) {
    writeFile(published / "upgrade-test-app", NewProgram);
    writeFile(published / "data.rar", std::string(300000, 'd'));
    writeFile(published / "readme.txt", "new readme");
    publish("#version=v1.2\r\n#url=" + server->url("/upgrade-test-app") + "\r\n#url0=" + server->url("/data.rar") +
            "\r\n#url3=" + server->url("/readme.txt") + "\r\n#message={1、增加Qarvia英雄榜查询功能}\r\n");
    EXPECT_EQ(runCheck(), 0);
    // The restarted program keeps the options it was started with.
    EXPECT_EQ(waitForFile(installed / "mark"), "new program: /afterupgrade --check " + checkUrl() + "\n");
    for (const char* name : {"upgrade-test-app", "data.rar", "readme.txt"})
        EXPECT_EQ(readFile(installed / name), readFile(published / name)) << name;
    EXPECT_TRUE(downloadsIn(installed).empty());
}

TEST_F(UpgradeEndToEnd, LostSecondFileIsSkipped) {
    writeFile(published / "data.rar", "data");
    writeFile(published / "readme.txt", "new readme");
    publish("#version=v1.2\n#url1=" + server->url("/data.rar") + "\n#url2=" + server->url("/missing.dat") +
            "\n#url3=" + server->url("/readme.txt") + "\n");
    EXPECT_EQ(runCheck(), 0);
    // The program was not replaced, so the old one starts again and learns of the upgrade.
    EXPECT_EQ(waitForFile(installed / "mark"), "after-restart --check " + checkUrl());
    EXPECT_EQ(readFile(installed / "data.rar"), "data");
    EXPECT_EQ(readFile(installed / "readme.txt"), "new readme");
    EXPECT_FALSE(fs::exists(installed / "missing.dat"));
    EXPECT_EQ(readFile(program), oldProgram);
}

TEST_F(UpgradeEndToEnd, CancelAndDeclineLeaveTheProgramAsItWas) {
    writeFile(published / "data.rar", std::string(3000000, 'd'));
    writeFile(published / "readme.txt", "new readme");
    publish("#version=v1.2\n#url=" + server->url("/data.rar") + "\n#url0=" + server->url("/readme.txt") + "\n");
    EXPECT_EQ(runCheck("--cancel"), 3);
    EXPECT_TRUE(downloadsIn(installed).empty());
    EXPECT_EQ(runCheck("--decline"), 4);
    EXPECT_EQ(downloadsIn(installed), (std::vector<std::string>{"data.rar.uTMP", "readme.txt.uTMP"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(installed / "mark"));
    EXPECT_EQ(readFile(installed / "readme.txt"), "old readme");
    EXPECT_EQ(readFile(program), oldProgram);
}

TEST_F(UpgradeEndToEnd, SetupProgramRunsBeforeTheRestart) {
    writeFile(published / "setup.exe", "#!/bin/sh\necho \"setup ran: $1\" > \"$(dirname \"$0\")/setup-ran\"\n");
    publish("#version=v1.2\n#url=" + server->url("/setup.exe") + "\n#method=1\n");
    EXPECT_EQ(runCheck(), 0);
    EXPECT_EQ(waitForFile(installed / "mark"), "after-restart --check " + checkUrl());
    EXPECT_EQ(readFile(installed / "setup-ran"), "setup ran: /afterupgrade\n");
    EXPECT_FALSE(fs::exists(installed / "setup.exe"));
    EXPECT_EQ(readFile(program), oldProgram);
}

TEST_F(UpgradeEndToEnd, FailedReplacementRollsEverythingBack) {
    writeFile(published / "upgrade-test-app", NewProgram);
    writeFile(published / "readme.txt", "new readme");
    writeFile(published / "zz-plugins", "a file where the installation has a folder");
    writeFile(installed / "zz-plugins" / "keep", "plugin");
    publish("#version=v1.2\n#url=" + server->url("/upgrade-test-app") + "\n#url0=" + server->url("/readme.txt") +
            "\n#url3=" + server->url("/zz-plugins") + "\n");
    EXPECT_EQ(runCheck(), 0);
    // The old program comes back without the restart argument (nothing was upgraded), says so once and
    // checks nothing.
    EXPECT_EQ(waitForFile(installed / "mark"), "plain --check " + checkUrl());
    EXPECT_EQ(readFile(installed / "told"), NotCompleted);
    EXPECT_EQ(readFile(program), oldProgram);
    EXPECT_EQ(readFile(installed / "readme.txt"), "old readme");
    EXPECT_EQ(readFile(installed / "zz-plugins" / "keep"), "plugin");
    EXPECT_EQ(downloadsIn(installed),
              (std::vector<std::string>{"readme.txt.uTMP", "upgrade-test-app.uTMP", "zz-plugins.uTMP"}));
}

// A kill between any two steps of an installation used to leave new and old files mixed and ".uOLD" copies
// behind. Now the next start of whichever program is in place finishes it before its window shows.
TEST_F(UpgradeEndToEnd, InstallationKilledAtEveryStepIsFinishedByTheNextStart) {
    const std::string newProgram = oldProgram + "another build"; // runs the same, differs in its bytes
    const qarvia::stub::StubRequest request{program.string(), "/afterupgrade", false, {}};
    bool wentThrough = false;
    for (int killAt = 1; killAt < 20 && !wentThrough; ++killAt) {
        SCOPED_TRACE(killAt);
        for (const char* name : {"mark", "told", "data.rar"})
            fs::remove(installed / name);
        fs::remove(program);
        writeFile(program, oldProgram, true);
        writeFile(installed / "readme.txt", "old readme");
        writeFile(installed / "upgrade-test-app.uTMP", newProgram, true);
        writeFile(installed / "readme.txt.uTMP", "new readme");
        writeFile(installed / "data.rar.uTMP", "new data");

        // The stub's installation in a process of its own, killed after step `killAt`.
        const pid_t stub = fork();
        if (stub == 0) {
            qarvia::stub::FileOps ops = qarvia::stub::FileOps::system();
            int steps = 0;
            ops.stepDone = [&] {
                if (++steps == killAt)
                    raise(SIGKILL);
            };
            _exit(qarvia::stub::installDownloads(request, ops).ok ? 0 : 1);
        }
        const int status = waitExit(stub);
        wentThrough = status == 0;
        if (!wentThrough) {
            ASSERT_EQ(status, 128 + SIGKILL);
        }

        // Started twice: the user is told once.
        for (int start = 0; start < 2; ++start) {
            EXPECT_EQ(waitExit(spawn({program.string()})), 0);
            EXPECT_EQ(readFile(installed / "mark"), "plain ");
        }
        if (readFile(installed / "readme.txt") == "old readme") {
            EXPECT_EQ(readFile(program), oldProgram);
            EXPECT_FALSE(fs::exists(installed / "data.rar"));
            EXPECT_EQ(downloadsIn(installed),
                      (std::vector<std::string>{"data.rar.uTMP", "readme.txt.uTMP", "upgrade-test-app.uTMP"}));
            EXPECT_EQ(readFile(installed / "told"), NotCompleted);
        } else {
            // Killed after every new file was in place: the update stands.
            EXPECT_EQ(readFile(installed / "readme.txt"), "new readme");
            EXPECT_EQ(readFile(installed / "data.rar"), "new data");
            EXPECT_EQ(readFile(program), newProgram);
            EXPECT_TRUE(downloadsIn(installed).empty());
            EXPECT_FALSE(fs::exists(installed / "told"));
        }
        for (const auto& entry : fs::directory_iterator(installed)) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".uOLD"), std::string::npos) << name;
            EXPECT_EQ(name.find(".uJOURNAL"), std::string::npos) << name;
        }
    }
    EXPECT_TRUE(wentThrough);
}

namespace {

// Runs the publisher's tool; its standard output.
std::string signTool(const std::vector<std::string>& args, int* exitCode = nullptr) {
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::vector<std::string> all = {SIGN_UPDATE_TOOL};
    all.insert(all.end(), args.begin(), args.end());
    const pid_t pid = spawn(all, fds[1], {}, true);
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    const int code = waitExit(pid);
    if (exitCode)
        *exitCode = code;
    return out;
}

enum class Outcome { Installed, NotVerified, FileDiffers };

struct SignedCase {
    const char* name;
    std::function<void(const fs::path& published)> tamper; // changes what is published after signing
    Outcome outcome;
    std::vector<std::string> shortFiles = {}; // "NAME=BYTES": announced that much short of their size
};

void PrintTo(const SignedCase& c, std::ostream* os) {
    *os << c.name;
}

void changeByte(const fs::path& path, std::size_t at) {
    std::string content = readFile(path);
    content[at] = static_cast<char>(content[at] ^ 1);
    writeFile(path, content, true);
}

class SignedUpgrade : public UpgradeEndToEnd, public ::testing::WithParamInterface<SignedCase> {};

} // namespace

// Under a key built in, only an update exactly as signed is installed. Anything else leaves the old program
// in place and running, tells the user why, and leaves nothing behind.
TEST_P(SignedUpgrade, OnlyWhatWasSignedIsInstalled) {
    const SignedCase& c = GetParam();
    const std::string publicKey = signTool({"keygen", (root / "key.pem").string()});
    signTool({"keygen", (root / "other.pem").string()});
    ASSERT_EQ(publicKey.size(), 45u) << publicKey;
    if (!c.shortFiles.empty()) {
        server = std::make_unique<PublishingServer>(published, c.shortFiles);
        ASSERT_GT(server->port, 0);
    }
    writeFile(published / "upgrade-test-app", NewProgram + std::string(5000, '#'), true);
    writeFile(published / "data.rar", std::string(300000, 'd'));
    publish("#version=v1.2\r\n#url=" + server->url("/upgrade-test-app") + "\r\n#url0=" + server->url("/data.rar") +
            "\r\n#message={signed}\r\n");
    int signedOk = -1;
    signTool({"sign", (root / "key.pem").string(), (published / "upt.inf").string()}, &signedOk);
    ASSERT_EQ(signedOk, 0);
    c.tamper(published);

    const fs::path log = root / "messages";
    const int code =
        runCheck({}, {"UPGRADE_TEST_PUBLIC_KEY=" + publicKey.substr(0, 44), "UPGRADE_TEST_LOG=" + log.string()});
    if (c.outcome == Outcome::Installed) {
        EXPECT_EQ(code, 0);
        EXPECT_EQ(waitForFile(installed / "mark"), "new program: /afterupgrade --check " + checkUrl() + "\n");
        EXPECT_EQ(readFile(program), readFile(published / "upgrade-test-app"));
        EXPECT_EQ(readFile(installed / "data.rar"), readFile(published / "data.rar"));
        EXPECT_TRUE(downloadsIn(installed).empty());
        return;
    }
    EXPECT_EQ(code, c.outcome == Outcome::NotVerified ? 6 : 3); // no information file; aborted
    EXPECT_EQ(readFile(log), c.outcome == Outcome::NotVerified
                                 ? "无法验证升级信息。\n\n未安装任何内容，程序仍保持当前版本。\n"
                                 : "下载的文档data.rar与列出的大小或散列值不符。\n\n该文档已删除，未安装任何内容。\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(readFile(program), oldProgram);
    EXPECT_FALSE(fs::exists(installed / "mark")); // never closed for a restart
    EXPECT_FALSE(fs::exists(installed / "data.rar"));
    EXPECT_FALSE(fs::exists(root / "stub"));
    EXPECT_TRUE(downloadsIn(installed).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedUpgrade,
    ::testing::Values(
        SignedCase{"signed", [](const fs::path&) {}, Outcome::Installed},
        SignedCase{"changed_byte_in_the_information_file",
                   [](const fs::path& p) {
                       const std::string info = readFile(p / "upt.inf");
                       changeByte(p / "upt.inf", info.find("signed}"));
                   },
                   Outcome::NotVerified},
        SignedCase{"missing_signature",
                   [](const fs::path& p) {
                       const std::string info = readFile(p / "upt.inf");
                       writeFile(p / "upt.inf", info.substr(0, info.find("#signature=")));
                   },
                   Outcome::NotVerified},
        SignedCase{"signed_by_another_key",
                   [](const fs::path& p) {
                       signTool({"sign", (p.parent_path() / "other.pem").string(), (p / "upt.inf").string()});
                   },
                   Outcome::NotVerified},
        SignedCase{"changed_byte_in_a_listed_file", [](const fs::path& p) { changeByte(p / "data.rar", 150000); },
                   Outcome::FileDiffers},
        SignedCase{"size_differs", [](const fs::path& p) { writeFile(p / "data.rar", std::string(300001, 'd')); },
                   Outcome::FileDiffers},
        SignedCase{
            "content_length_short_of_the_file", [](const fs::path&) {}, Outcome::FileDiffers, {"data.rar=100000"}}),
    [](const ::testing::TestParamInfo<SignedCase>& info) { return std::string(info.param.name); });

TEST_F(UpgradeEndToEnd, CopiesThatMayNotReplaceThemselvesOnlyNotify) {
    writeFile(published / "upgrade-test-app", NewProgram);
    publish("#version=v1.2\n#url=" + server->url("/upgrade-test-app") + "\n#url0=" + server->url("/readme.txt") +
            "\n#message={1、增加Qarvia英雄榜查询功能}\n");
    struct Case {
        const char* name;
        const char* app;
        bool readOnlyFolder;
    };
    const Case cases[] = {
        {"package build, writable folder", PACKAGED_TEST_APP, false},
        {"read-only folder", UPGRADE_TEST_APP, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::copy_file(c.app, program, fs::copy_options::overwrite_existing);
        const std::string before = readFile(program);
        const auto folderMode = fs::status(installed).permissions();
        if (c.readOnlyFolder)
            fs::permissions(installed, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                            fs::perm_options::remove);
        std::string output;
        const int code = runCheck({}, {}, &output, c.readOnlyFolder);
        fs::permissions(installed, folderMode);
        // Told why, with the release notes, and offered the first address instead of an upgrade.
        EXPECT_EQ(code, 8) << output;
        EXPECT_NE(output.find("asked: upgrade-test-app已经有新版本推出"), std::string::npos) << output;
        EXPECT_NE(output.find("1、增加Qarvia英雄榜查询功能"), std::string::npos) << output;
        EXPECT_NE(output.find("无法自行升级"), std::string::npos) << output;
        EXPECT_NE(output.find("opened: " + server->url("/upgrade-test-app") + "\n"), std::string::npos) << output;
        // Nothing downloaded, no stub written, the program untouched.
        EXPECT_TRUE(downloadsIn(installed).empty());
        EXPECT_FALSE(fs::exists(root / "stub"));
        EXPECT_EQ(readFile(program), before);
        EXPECT_EQ(readFile(installed / "readme.txt"), "old readme");
    }
}
