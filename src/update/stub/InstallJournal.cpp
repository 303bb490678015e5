#include "update/stub/InstallJournal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qarvia::stub {

namespace fs = std::filesystem;

namespace {

constexpr const char* Header = "qarvia-install-journal 1";
constexpr const char* PlanEnd = "end";
constexpr const char* CommittedLine = "committed";

// Paths may hold any byte but NUL; the four that would break a line or a field are written as %XX.
std::string escapeField(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '%' || c == '\t' || c == '\n' || c == '\r') {
            static constexpr char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            out += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> unescapeField(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::vector<std::string> splitOn(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto at = text.find(separator, start);
        parts.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos)
            return parts;
        start = at + 1;
    }
}

bool present(const fs::path& path) {
    std::error_code ec;
    return fs::symlink_status(path, ec).type() != fs::file_type::not_found && !ec;
}

std::string reason(int error) {
    return std::strerror(error);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

fs::path folderOf(const fs::path& path) {
    return path.parent_path().empty() ? fs::path(".") : path.parent_path();
}

} // namespace

fs::path journalPathFor(const fs::path& program) {
    return fs::path(program.string() + JournalSuffix);
}

std::string formatJournal(const JournalContent& content) {
    std::string text = std::string(Header) + "\n";
    for (const auto& e : content.entries) {
        text += escapeField(e.download.string()) + '\t' + escapeField(e.target.string()) + '\t' +
                (e.backup ? escapeField(e.backup->string()) : std::string()) + '\n';
    }
    text += std::string(PlanEnd) + "\n";
    if (content.committed)
        text += std::string(CommittedLine) + "\n";
    return text;
}

std::optional<JournalContent> parseJournal(const std::string& text) {
    // Only whole lines count: a line cut short by a crash is not there.
    const auto lastBreak = text.rfind('\n');
    if (lastBreak == std::string::npos)
        return std::nullopt;
    const std::vector<std::string> lines = splitOn(text.substr(0, lastBreak), '\n');
    if (lines.empty() || lines[0] != Header)
        return std::nullopt;
    JournalContent content;
    std::size_t i = 1;
    for (; i < lines.size() && lines[i] != PlanEnd; ++i) {
        const auto fields = splitOn(lines[i], '\t');
        if (fields.size() != 3)
            return std::nullopt;
        auto download = unescapeField(fields[0]);
        auto target = unescapeField(fields[1]);
        auto backup = unescapeField(fields[2]);
        if (!download || !target || !backup || download->empty() || target->empty())
            return std::nullopt;
        JournalEntry entry{*download, *target, std::nullopt};
        if (!backup->empty())
            entry.backup = fs::path(*backup);
        content.entries.push_back(std::move(entry));
    }
    if (i == lines.size())
        return std::nullopt; // the plan never ended
    for (++i; i < lines.size(); ++i) {
        if (lines[i] == CommittedLine)
            content.committed = true;
    }
    return content;
}

namespace {

bool flushOpened(const fs::path& path, int flags, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0 && errno == ELOOP)
        return true; // a symbolic link: nothing of ours to flush
    const bool ok = fd >= 0 && ::fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok && error)
        *error = "cannot flush " + path.string() + ": " + reason(saved);
    return ok;
}

} // namespace

bool flushFile(const fs::path& path, std::string* error) {
    return flushOpened(path, O_NOFOLLOW, error);
}

bool flushFolder(const fs::path& folder, std::string* error) {
    return flushOpened(folder, O_DIRECTORY, error);
}

std::optional<InstallJournal> InstallJournal::begin(const fs::path& program, const std::vector<JournalEntry>& entries,
                                                    std::string& error) {
    const fs::path path = journalPathFor(program);
    const fs::path fresh = path.string() + ".new";
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + fresh.string() + ": " + reason(errno);
        return std::nullopt;
    }
    // Locked before it takes its name, so nobody can find it unlocked while this installation runs.
    bool ok = ::flock(fd, LOCK_EX) == 0 && writeAll(fd, formatJournal({entries, false})) && ::fsync(fd) == 0 &&
              ::rename(fresh.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + path.string() + ": " + reason(errno);
        ::close(fd);
        ::unlink(fresh.c_str());
        return std::nullopt;
    }
    if (!flushFolder(folderOf(path), &error)) {
        ::close(fd);
        ::unlink(path.c_str());
        return std::nullopt;
    }
    return InstallJournal(path, fd);
}

InstallJournal::InstallJournal(InstallJournal&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) {
    other.fd_ = -1;
}

InstallJournal::~InstallJournal() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool InstallJournal::commit(std::string& error) {
    if (fd_ < 0 || !writeAll(fd_, std::string(CommittedLine) + "\n") || ::fsync(fd_) != 0) {
        error = "cannot write " + path_.string() + ": " + reason(errno);
        return false;
    }
    return true;
}

void InstallJournal::remove() {
    ::unlink(path_.c_str());
    flushFolder(folderOf(path_));
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool rollBackEntries(const std::vector<JournalEntry>& entries, const RenameFunction& rename, std::string& error) {
    bool ok = true;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        std::error_code ec;
        // Renames are atomic: a download that is gone while its target is there was put in place.
        if (!present(it->download) && present(it->target)) {
            if (!rename(it->target, it->download, ec)) {
                error += (error.empty() ? "" : "; ") + std::string("could not return ") + it->target.string() +
                         " to " + it->download.string() + ": " + ec.message();
                ok = false;
                continue;
            }
        }
        if (!it->backup || !present(*it->backup))
            continue;
        if (present(it->target)) {
            // The old file never left its place: what is under the backup name is a second name for it or a
            // copy, possibly half made.
            fs::remove(*it->backup, ec);
        } else if (!rename(*it->backup, it->target, ec)) {
            error += (error.empty() ? "" : "; ") + std::string("could not restore ") + it->target.string() + ": " +
                     ec.message();
            ok = false;
        }
    }
    return ok;
}

Recovery recoverInstall(const fs::path& program) {
    Recovery result;
    const fs::path path = journalPathFor(program);
    // A plan whose writing was cut short: nothing had been touched yet.
    const fs::path fresh = path.string() + ".new";
    if (const int unfinished = ::open(fresh.c_str(), O_RDONLY | O_CLOEXEC); unfinished >= 0) {
        if (::flock(unfinished, LOCK_EX | LOCK_NB) == 0)
            ::unlink(fresh.c_str());
        ::close(unfinished);
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.outcome = RecoveryOutcome::Failed;
            result.error = "cannot read " + path.string() + ": " + reason(errno);
        }
        return result;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        result.outcome = RecoveryOutcome::InProgress;
        return result;
    }
    std::string text;
    char block[4096];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(block, static_cast<std::size_t>(n));
    }
    const auto content = parseJournal(text);
    const RenameFunction rename = [](const fs::path& from, const fs::path& to, std::error_code& ec) {
        fs::rename(from, to, ec);
        return !ec;
    };
    if (!content) {
        // Written whole and renamed into place, so this is damage, not a crash: nothing in it can be trusted.
        result.outcome = RecoveryOutcome::RolledBack;
        result.error = path.string() + " cannot be read";
    } else if (content->committed) {
        result.outcome = RecoveryOutcome::Completed;
        for (const auto& e : content->entries) {
            std::error_code ec;
            if (e.backup)
                fs::remove(*e.backup, ec);
        }
    } else {
        result.outcome = rollBackEntries(content->entries, rename, result.error) ? RecoveryOutcome::RolledBack
                                                                                 : RecoveryOutcome::Failed;
    }
    const fs::path folder = folderOf(path);
    flushFolder(folder);
    if (result.outcome != RecoveryOutcome::Failed) {
        ::unlink(path.c_str());
        flushFolder(folder);
    }
    ::close(fd);
    return result;
}

} // namespace qarvia::stub
