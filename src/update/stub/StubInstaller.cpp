#include "update/stub/StubInstaller.h"

#include "update/stub/InstallJournal.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace qarvia::stub {

namespace fs = std::filesystem;

namespace {

bool endsWithNoCase(const std::string& text, std::string_view suffix) {
    if (text.size() < suffix.size())
        return false;
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](char a, char b) {
                          auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
                          return lower(a) == lower(b);
                      });
}

// Through the system call itself: the C library's declaration is not usable from C++ on every release.
int pidfdOpen(pid_t pid) {
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

std::string describe(const std::error_code& ec) {
    return ec ? ec.message() : std::string("unknown error");
}

} // namespace

std::optional<StubRequest> parseStubArguments(const std::vector<std::string>& args) {
    if (args.empty())
        return std::nullopt;
    StubRequest request;
    if (args.size() >= 2 && !args[1].empty() && args[1][0] == '+' && (args.size() == 2 || args[2] == "--")) {
        // The application's own form: the path travels whole, whatever characters it holds.
        const std::string tail = args[1].substr(1);
        request.program = args[0];
        request.external = !tail.empty() && tail.back() == '1';
        request.params = tail.empty() ? std::string() : tail.substr(0, tail.size() - 1);
        if (args.size() > 2)
            request.passOn.assign(args.begin() + 3, args.end());
    } else {
        std::string joined;
        for (const auto& arg : args)
            joined += arg + ' ';
        request.external = joined.size() >= 2 && joined[joined.size() - 2] == '1';
        std::string path = joined;
        const auto plus = joined.find('+');
        if (plus != std::string::npos) {
            const std::string after = joined.substr(plus + 1);
            request.params = after.size() >= 2 ? after.substr(0, after.size() - 2) : std::string();
            path = joined.substr(0, plus);
        }
        // The path is followed by the one blank the joining added.
        if (!path.empty() && path.back() == ' ')
            path.pop_back();
        request.program = path;
    }
    if (request.program.empty())
        return std::nullopt;
    return request;
}

std::vector<std::string> stubArguments(const std::string& program, const std::string& paramText,
                                       const std::vector<std::string>& passOn) {
    std::vector<std::string> args{program, "+" + paramText};
    if (!passOn.empty()) {
        args.push_back("--");
        args.insert(args.end(), passOn.begin(), passOn.end());
    }
    return args;
}

pid_t startProgram(const std::string& program, const std::vector<std::string>& args, std::string* error,
                   const std::vector<std::string>& extraEnv) {
    std::vector<std::string> argStore;
    argStore.push_back(program);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        const bool replaced = std::any_of(extraEnv.begin(), extraEnv.end(), [&](const std::string& x) {
            return eq != std::string::npos && x.compare(0, eq + 1, entry, 0, eq + 1) == 0;
        });
        if (!replaced)
            envStore.push_back(entry);
    }
    envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A session of its own: the started program outlives the terminal or process group of its starter.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (error)
            *error = program + ": " + std::strerror(rc);
        return -1;
    }
    return pid;
}

bool waitForProcessExit(pid_t pid, std::chrono::milliseconds limit) {
    const int fd = pidfdOpen(pid);
    if (fd < 0)
        return errno == ESRCH;
    pollfd p{fd, POLLIN, 0};
    int rc;
    do {
        rc = poll(&p, 1, static_cast<int>(std::min<std::chrono::milliseconds::rep>(limit.count(), INT32_MAX)));
    } while (rc < 0 && errno == EINTR);
    close(fd);
    return rc > 0;
}

bool isProgramRunning(const fs::path& program) {
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(program, ec);
    DIR* proc = opendir("/proc");
    if (!proc)
        return false;
    bool running = false;
    const pid_t self = getpid();
    while (dirent* entry = readdir(proc)) {
        const char* name = entry->d_name;
        if (*name < '0' || *name > '9' || std::atoi(name) == self)
            continue;
        char target[4096];
        const std::string link = std::string("/proc/") + name + "/exe";
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        if (fs::path(std::string(target, static_cast<std::size_t>(n))) == wanted) {
            running = true;
            break;
        }
    }
    closedir(proc);
    return running;
}

bool waitForApplicationExit(pid_t expectedParent, const std::string& program, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    if (expectedParent > 0) {
        // Once the application has ended, the stub has been handed to another parent.
        if (getppid() != expectedParent)
            return true;
        const int fd = pidfdOpen(expectedParent);
        if (fd >= 0 && getppid() == expectedParent) {
            // Our parent was alive after the descriptor was opened, so the descriptor is our parent's.
            pollfd p{fd, POLLIN, 0};
            int rc;
            do {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
                rc = poll(&p, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count())));
            } while (rc < 0 && errno == EINTR);
            close(fd);
            return rc > 0;
        }
        if (fd >= 0)
            close(fd);
        while (getppid() == expectedParent) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }
    // Started by hand: wait until nobody runs the program and its file can be opened for writing.
    for (;;) {
        bool busy = isProgramRunning(program);
        if (!busy) {
            const int fd = open(program.c_str(), O_WRONLY | O_CLOEXEC);
            busy = fd < 0 && errno == ETXTBSY;
            if (fd >= 0)
                close(fd);
        }
        if (!busy)
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

FileOps FileOps::system() {
    FileOps ops;
    ops.rename = [](const fs::path& from, const fs::path& to, std::error_code& ec) {
        fs::rename(from, to, ec);
        return !ec;
    };
    ops.backup = [](const fs::path& from, const fs::path& to, std::error_code& ec) {
        // A second name for the old file keeps it while the new one replaces the first name in one step.
        fs::create_hard_link(from, to, ec);
        if (!ec)
            return true;
        ec.clear();
        fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
        return !ec;
    };
    return ops;
}

InstallResult installDownloads(const StubRequest& request, const FileOps& ops) {
    InstallResult result;
    const fs::path program(request.program);
    const fs::path dir = program.parent_path().empty() ? fs::path(".") : program.parent_path();
    std::error_code ec;
    bool replacingProgram = fs::exists(fs::path(request.program + DownloadSuffix), ec);
    auto stepDone = [&ops] {
        if (ops.stepDone)
            ops.stepDone();
    };

    std::vector<fs::path> downloads;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code typeEc;
        if (name.size() > std::strlen(DownloadSuffix) && endsWithNoCase(name, DownloadSuffix) &&
            it->is_regular_file(typeEc))
            downloads.push_back(it->path());
    }
    if (ec) {
        result.error = "cannot read " + dir.string() + ": " + describe(ec);
        return result;
    }
    // A fixed order, so that a failure always leaves the same picture.
    std::sort(downloads.begin(), downloads.end());

    // The whole plan first: what goes where, and which old files are kept meanwhile.
    struct Placement {
        bool executable = false;
        bool refused = false; // the target is a folder or the like
        std::optional<fs::perms> oldPerms;
    };
    std::vector<JournalEntry> plan;
    std::vector<Placement> placements;
    for (const auto& download : downloads) {
        std::string name = download.filename().string();
        name.resize(name.size() - std::strlen(DownloadSuffix));
        fs::path target = dir / name;
        Placement placement;
        if (!replacingProgram && name.size() >= 3 && name.compare(name.size() - 3, 3, "exe") == 0) {
            if (!request.external)
                target = program; // a downloaded program replaces the running one whatever its name
            else
                result.setupProgram = target;
            placement.executable = true;
            replacingProgram = true;
        } else if (target == program) {
            placement.executable = true;
        }
        JournalEntry entry{download, target, std::nullopt};
        const auto status = fs::symlink_status(target, ec);
        if (!ec && fs::exists(status)) {
            placement.refused = !fs::is_regular_file(status) && !fs::is_symlink(status);
            placement.oldPerms = fs::status(target, ec).permissions();
            if (!placement.refused)
                entry.backup = fs::path(target.string() + BackupSuffix);
        }
        ec.clear();
        plan.push_back(std::move(entry));
        placements.push_back(placement);
    }
    if (plan.empty()) {
        result.ok = true;
        return result;
    }

    auto journal = InstallJournal::begin(program, plan, result.error);
    if (!journal) {
        result.setupProgram.reset();
        return result;
    }
    stepDone();
    auto fail = [&](std::string message) {
        result.error = std::move(message);
        // The journal stays: the program started next sees that this installation did not complete.
        rollBackEntries(plan, ops.rename, result.error);
        result.installed.clear();
        result.setupProgram.reset();
        return result;
    };

    for (std::size_t i = 0; i < plan.size(); ++i) {
        const JournalEntry& step = plan[i];
        std::string error;
        if (placements[i].refused)
            return fail(step.target.string() + " is not a file and cannot be replaced");
        if (step.backup) {
            fs::remove(*step.backup, ec);
            if (!ops.backup(step.target, *step.backup, ec))
                return fail("cannot keep a backup of " + step.target.string() + ": " + describe(ec));
            // The old file's second name reaches the disk before the new file takes the first.
            if (!flushFile(*step.backup, &error) || !flushFolder(dir, &error))
                return fail(error);
            stepDone();
        }
        if (!ops.rename(step.download, step.target, ec))
            return fail("cannot put " + step.download.string() + " in place of " + step.target.string() + ": " +
                        describe(ec));
        result.installed.push_back(step.target);
        fs::perms perms = placements[i].oldPerms.value_or(fs::status(step.target, ec).permissions());
        if (placements[i].executable)
            perms |= fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        fs::permissions(step.target, perms, ec);
        ec.clear();
        if (!flushFile(step.target, &error))
            return fail(error);
        stepDone();
    }
    std::string error;
    if (!flushFolder(dir, &error) || !journal->commit(error))
        return fail(error);
    stepDone();

    for (const auto& step : plan) {
        if (step.backup) {
            fs::remove(*step.backup, ec);
            stepDone();
        }
    }
    journal->remove();
    stepDone();
    result.ok = true;
    return result;
}

int runStub(const StubRequest& request, const RunOptions& options) {
    auto report = [&](const std::string& text) {
        if (options.report)
            options.report(text);
    };
    std::error_code ec;
    if (fs::exists(request.program, ec) &&
        !waitForApplicationExit(options.expectedParent, request.program, options.waitLimit)) {
        report(request.program + " is still running; nothing was replaced.");
        return 3;
    }

    const InstallResult installed = installDownloads(request, options.ops);
    std::vector<std::string> args;
    if (!request.params.empty())
        args.push_back(request.params);
    std::string error;
    if (!installed.ok) {
        report("The update could not be installed: " + installed.error +
               ". The previous version was kept; the downloaded files stay for the next try.");
        // The old program comes back without the restart argument (nothing was upgraded), with its own options.
        if (fs::exists(request.program, ec) && startProgram(request.program, request.passOn, &error) < 0)
            report(error);
        return 2;
    }

    if (request.external && installed.setupProgram) {
        const pid_t setup = startProgram(installed.setupProgram->string(), args, &error);
        if (setup < 0) {
            report(error);
        } else {
            int status = 0;
            while (waitpid(setup, &status, 0) < 0 && errno == EINTR) {
            }
        }
        fs::remove(*installed.setupProgram, ec);
    }
    args.insert(args.end(), request.passOn.begin(), request.passOn.end());
    if (startProgram(request.program, args, &error) < 0) {
        report(error);
        return 4;
    }
    return 0;
}

} // namespace qarvia::stub
