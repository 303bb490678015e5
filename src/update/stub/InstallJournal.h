#pragma once

// The installation's journal: before the stub touches the first file it writes, beside the program, which
// download goes where and where each old file is kept. Whoever starts next (the stub's own failure path, or
// the program at start-up after the stub was killed or the machine lost power) reads it with
// recoverInstall() and finishes the job: back to every old file when the installation had not got through,
// forward (the old copies removed) when it had.
//
// The file is written whole under a temporary name and renamed, so it either holds the complete plan or does
// not exist. A line "committed" is appended once every new file is in place and flushed. The stub holds a
// lock on the journal while it works, so a program started meanwhile leaves it alone.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qarvia::stub {

inline constexpr const char* JournalSuffix = ".uJOURNAL";

// Where the journal of `program`'s installation is kept: beside it.
std::filesystem::path journalPathFor(const std::filesystem::path& program);

struct JournalEntry {
    std::filesystem::path download;               // the "*.uTMP" file
    std::filesystem::path target;                 // where it goes
    std::optional<std::filesystem::path> backup;  // where the old file is kept meanwhile (none: no old file)
    friend bool operator==(const JournalEntry&, const JournalEntry&) = default;
};

struct JournalContent {
    std::vector<JournalEntry> entries;
    bool committed = false;
};

// The journal's text for `content`, and back; nothing for a text that is not a complete journal.
std::string formatJournal(const JournalContent& content);
std::optional<JournalContent> parseJournal(const std::string& text);

// Flushes a file's content, or a folder's entries, to the disk. False with a reason when refused.
bool flushFile(const std::filesystem::path& path, std::string* error = nullptr);
bool flushFolder(const std::filesystem::path& folder, std::string* error = nullptr);

// The open journal of a running installation, locked while this object lives.
class InstallJournal {
public:
    // Writes the plan durably and takes the lock; nothing with a reason when it cannot.
    static std::optional<InstallJournal> begin(const std::filesystem::path& program,
                                               const std::vector<JournalEntry>& entries, std::string& error);
    InstallJournal(InstallJournal&& other) noexcept;
    InstallJournal& operator=(InstallJournal&&) = delete;
    InstallJournal(const InstallJournal&) = delete;
    InstallJournal& operator=(const InstallJournal&) = delete;
    ~InstallJournal(); // releases the lock, leaves the file

    // Every new file is in place: from now on a recovery goes forward.
    bool commit(std::string& error);
    // The installation is over: the journal goes.
    void remove();

private:
    InstallJournal(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::filesystem::path path_;
    int fd_ = -1;
};

// Puts back what the entries changed, last first: each placed file returns to its download name and each
// old file to its own name; a half-made copy of an old file goes. Safe to run again on its own result.
// Returns false with the reasons when a file could not be moved.
using RenameFunction =
    std::function<bool(const std::filesystem::path&, const std::filesystem::path&, std::error_code&)>;
bool rollBackEntries(const std::vector<JournalEntry>& entries, const RenameFunction& rename, std::string& error);

enum class RecoveryOutcome {
    NoJournal,  // nothing to do
    InProgress, // an installation is running right now (its stub holds the journal)
    RolledBack, // the installation had not completed: every old file is back, the downloads are kept
    Completed,  // it had completed: the kept old files were removed
    Failed,     // some file could not be put back; the journal stays for the next start
};
struct Recovery {
    RecoveryOutcome outcome = RecoveryOutcome::NoJournal;
    std::string error;
};

// Finishes an interrupted installation of `program`'s folder, as described above.
Recovery recoverInstall(const std::filesystem::path& program);

} // namespace qarvia::stub
