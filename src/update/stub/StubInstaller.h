#pragma once

// The replacement stub's logic: reading its command line, waiting for the application to end, putting the
// downloaded "*.uTMP" files in place with backups and a full rollback, and starting programs. Plain C++ so
// that both the stub executable and the application (which launches the stub) share one definition.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qarvia::stub {

// Environment variable through which the application tells the stub its own process id, so the stub can
// wait for exactly that process to end.
inline constexpr const char* ParentPidVariable = "QARVIA_UPDATE_PARENT_PID";
inline constexpr const char* DownloadSuffix = ".uTMP";
inline constexpr const char* BackupSuffix = ".uOLD";

struct StubRequest {
    std::string program; // full file name of the application
    std::string params;  // text handed to the restarted program (the method digit removed)
    bool external = false;
    std::vector<std::string> passOn; // the program's own options, handed back to it after `params`
};

// Reads the stub's arguments (argv without the stub's own name). The application passes the program path
// as one argument and "+" followed by the parameter text and the method digit; that form carries any path,
// blanks and "+" included. When the program was started with options of its own, they follow as "--" and
// one argument each, to be handed back to it. Any other form is joined with single blanks and split at
// the first "+", the way a hand-typed command line is read. Returns nothing for an empty argument list or
// one without a program path.
std::optional<StubRequest> parseStubArguments(const std::vector<std::string>& args);

// The arguments the application gives the stub for a program path, a parameter text such as
// "/afterupgrade0" and the options the program is to be started with again.
std::vector<std::string> stubArguments(const std::string& program, const std::string& paramText,
                                       const std::vector<std::string>& passOn = {});

// Starts a program detached from the caller's standard input; returns its process id or -1 with a reason.
// extraEnv entries ("NAME=value") are added to the caller's environment.
pid_t startProgram(const std::string& program, const std::vector<std::string>& args, std::string* error = nullptr,
                   const std::vector<std::string>& extraEnv = {});

// Waits until the process with the given id has ended. Returns false when it was still running after the
// limit (or when the wait itself could not be set up and the process is still there).
bool waitForProcessExit(pid_t pid, std::chrono::milliseconds limit);

// Waits until the application that started the stub has ended. expectedParent is the id the application
// announced; when the stub's parent is no longer that process, the application has already ended. Without
// an announced id (the stub started by hand) it waits until no running process executes `program`.
bool waitForApplicationExit(pid_t expectedParent, const std::string& program, std::chrono::milliseconds limit);

// Whether some running process executes the given program file.
bool isProgramRunning(const std::filesystem::path& program);

// File operations the installer uses; tests replace single ones to make a step fail, and watch the steps
// (the journal written, each old file kept, each new file in place, the commit, each old file removed, the
// journal removed) to stop the installation between any two of them.
struct FileOps {
    std::function<bool(const std::filesystem::path&, const std::filesystem::path&, std::error_code&)> rename;
    std::function<bool(const std::filesystem::path&, const std::filesystem::path&, std::error_code&)> backup;
    std::function<void()> stepDone;
    static FileOps system();
};

struct InstallResult {
    bool ok = false;
    std::string error;                                 // what failed, for the stub's report
    std::vector<std::filesystem::path> installed;      // final names put in place, in order
    std::optional<std::filesystem::path> setupProgram; // the setup program to run (external method)
};

// Steps 5, 7 and 8: puts every "*.uTMP" file of the program's directory in place. The plan is recorded in
// the installation's journal (InstallJournal.h) before the first file is touched; each existing file is
// kept as a backup until every file is in place and flushed to the disk. When any step fails, every placed
// file goes back to its download name, every backup goes back to its own name, the journal stays for the
// program to report, and the result says what failed.
InstallResult installDownloads(const StubRequest& request, const FileOps& ops = FileOps::system());

// The whole stub run after parsing: wait, install, restart (steps 6 to 10). Returns the process exit code.
struct RunOptions {
    pid_t expectedParent = -1;
    std::chrono::milliseconds waitLimit{std::chrono::minutes(10)};
    FileOps ops = FileOps::system();
    std::function<void(const std::string&)> report; // failure texts
};
int runStub(const StubRequest& request, const RunOptions& options);

} // namespace qarvia::stub
