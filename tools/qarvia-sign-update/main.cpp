// qarvia-sign-update: signs update information files for the toolbox's self-update.
//
//   qarvia-sign-update keygen PRIVATE_KEY_FILE
//       writes a new Ed25519 private key (PEM, mode 0600; an existing file is never overwritten) and prints
//       the public key as QARVIA_UPDATE_PUBLIC_KEY takes it
//   qarvia-sign-update sign PRIVATE_KEY_FILE INFO_FILE [DIR]
//       fills in #size/#hash for every listed file, found by its file name in DIR (default: the information
//       file's folder), and ends the file with a fresh #signature entry, in place
//   qarvia-sign-update verify PUBLIC_KEY INFO_FILE [DIR]
//       checks the signature (PUBLIC_KEY: the base64 text, a file holding it, or the private key file) and,
//       with DIR, every listed file; exit status 0 only when everything holds
//
// Exit status: 0 success, 1 a check failed or a file could not be written, 2 wrong use.

#include "SignUpdate.h"

#include "text/Blanks.h"

#include "update/UpdateTrust.h"
#include "update/UpdaterRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;
using namespace qarvia;

namespace {

constexpr const char* Usage =
    "usage: qarvia-sign-update keygen PRIVATE_KEY_FILE\n"
    "       qarvia-sign-update sign PRIVATE_KEY_FILE INFO_FILE [DIR]\n"
    "       qarvia-sign-update verify PUBLIC_KEY INFO_FILE [DIR]\n";

constexpr const char* Help =
    "Signs the toolbox's update information files and checks them.\n\n"
    "  keygen PRIVATE_KEY_FILE            write a new Ed25519 private key (PEM, mode 0600; never over an\n"
    "                                     existing file) and print the public key for the build option\n"
    "                                     QARVIA_UPDATE_PUBLIC_KEY\n"
    "  sign PRIVATE_KEY_FILE INFO_FILE [DIR]\n"
    "                                     fill in #size and #hash for each listed file, found by its file\n"
    "                                     name in DIR (default: the information file's folder), and append\n"
    "                                     a fresh signature, in place\n"
    "  verify PUBLIC_KEY INFO_FILE [DIR]  check the signature and, with DIR, every listed file; the key as\n"
    "                                     text, a file holding it, or the private key file\n"
    "  --help, --version                  this text; the version\n\n"
    "Exit status: 0 when everything holds, 1 when something failed, 2 for a wrong command line.\n";

int usage() {
    std::cerr << Usage;
    return 2;
}

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Replaces `path` through a temporary file beside it, so a failure never leaves half a file.
bool replaceFile(const std::string& path, const std::string& content, std::string& error) {
    const std::string temporary = path + ".signing";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && writeAll(fd, content) && ::fsync(fd) == 0;
    const int failure = errno;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    error = std::strerror(ok ? errno : failure);
    ::unlink(temporary.c_str());
    return false;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text::isBlank(text.back())))
        text.remove_suffix(1);
    while (!text.empty() && text::isBlank(text.front()))
        text.remove_prefix(1);
    return std::string(text);
}

int keygen(const std::string& path) {
    const auto pair = signupdate::GenerateKey();
    if (!pair) {
        std::cerr << "qarvia-sign-update: no key could be generated\n";
        return 1;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::cerr << "qarvia-sign-update: " << path << ": " << std::strerror(errno)
                  << (errno == EEXIST ? " (an existing key is never overwritten)" : "") << "\n";
        return 1;
    }
    const bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, pair->privatePem) && ::fsync(fd) == 0;
    const int failure = errno;
    if (::close(fd) != 0 || !ok) {
        std::cerr << "qarvia-sign-update: " << path << ": " << std::strerror(ok ? errno : failure) << "\n";
        ::unlink(path.c_str());
        return 1;
    }
    std::cout << pair->publicBase64 << "\n";
    std::cerr << "Private key written to " << path << ". Keep it secret; build the program with\n"
              << "  -DQARVIA_UPDATE_PUBLIC_KEY=" << pair->publicBase64 << "\n";
    return 0;
}

fs::path folderOf(const std::string& infoFile, int argc, char** argv, int index) {
    if (argc > index)
        return argv[index];
    const fs::path parent = fs::path(infoFile).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

int sign(const std::string& keyFile, const std::string& infoFile, const fs::path& dir) {
    const auto pem = readFile(keyFile);
    const auto info = readFile(infoFile);
    if (!pem || !info) {
        std::cerr << "qarvia-sign-update: cannot read " << (pem ? infoFile : keyFile) << "\n";
        return 1;
    }
    std::string error;
    const std::string filled = signupdate::FillInFacts(
        *info,
        [&](const update::ListedFile& file, std::string& why) -> std::optional<signupdate::FileFacts> {
            const fs::path path = dir / update::FileNamePartOfURL(file.url);
            std::error_code ec;
            const auto size = fs::file_size(path, ec);
            const auto digest = ec ? std::nullopt : update::Sha256FileHex(path.string());
            if (!digest) {
                why = "cannot read " + path.string() + " (listed as " + file.url + ")";
                return std::nullopt;
            }
            return signupdate::FileFacts{static_cast<std::int64_t>(size), *digest};
        },
        error);
    if (filled.empty()) {
        std::cerr << "qarvia-sign-update: " << infoFile << ": " << error << "\n";
        return 1;
    }
    const std::string signedText = signupdate::AppendSignature(filled, *pem);
    if (signedText.empty()) {
        std::cerr << "qarvia-sign-update: " << keyFile << " is not an Ed25519 private key (PEM)\n";
        return 1;
    }
    if (!replaceFile(infoFile, signedText, error)) {
        std::cerr << "qarvia-sign-update: " << infoFile << ": " << error << "\n";
        return 1;
    }
    std::cout << "Signed " << infoFile << " (" << update::ReadListedFiles(filled).size() << " files)\n";
    return 0;
}

int verify(const std::string& keyArgument, const std::string& infoFile, const std::optional<fs::path>& dir) {
    std::string key = keyArgument;
    std::error_code ec;
    if (fs::is_regular_file(keyArgument, ec)) {
        key = trimmed(readFile(keyArgument).value_or(std::string()));
        if (key.starts_with("-----BEGIN"))
            key = signupdate::PublicKeyOfPem(key).value_or(std::string());
    }
    if (!update::DecodePublicKey(key)) {
        std::cerr << "qarvia-sign-update: " << keyArgument << " is not a public key (base64 of 32 bytes)\n";
        return 2;
    }
    const auto info = readFile(infoFile);
    if (!info) {
        std::cerr << "qarvia-sign-update: cannot read " << infoFile << "\n";
        return 1;
    }
    const update::InfoCheck check = update::CheckInfoFile(*info, key);
    switch (check.verdict) {
    case update::InfoVerdict::Accepted:
        std::cout << "signature: good (" << check.files.size() << " files listed)\n";
        break;
    case update::InfoVerdict::NoSignature:
        std::cout << "signature: missing (no #signature= entry as the file's last entry)\n";
        return 1;
    case update::InfoVerdict::BadSignature:
        std::cout << "signature: does not verify with this key\n";
        return 1;
    case update::InfoVerdict::MissingFacts:
        std::cout << "signature: good, but a listed file has no #size or #hash\n";
        return 1;
    }
    bool allHold = true;
    for (const update::ListedFile& file : dir ? check.files : std::vector<update::ListedFile>{}) {
        const fs::path path = *dir / update::FileNamePartOfURL(file.url);
        const char* verdict = "ok";
        switch (update::CheckDownloadedFile(path.string(), file)) {
        case update::FileVerdict::Matches:
            break;
        case update::FileVerdict::SizeDiffers:
            verdict = "size differs from #size";
            break;
        case update::FileVerdict::HashDiffers:
            verdict = "SHA-256 differs from #hash";
            break;
        case update::FileVerdict::Unreadable:
            verdict = "missing or unreadable";
            break;
        case update::FileVerdict::FactsUnreadable:
            verdict = "#size or #hash is not readable";
            break;
        }
        allHold = allHold && std::string_view(verdict) == "ok";
        std::cout << path.string() << ": " << verdict << "\n";
    }
    return allHold ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "--help" || command == "-h") {
        std::cout << Usage << "\n" << Help;
        return 0;
    }
    if (command == "--version") {
        std::cout << "qarvia-sign-update " QARVIA_VERSION "\n";
        return 0;
    }
    if (command == "keygen" && argc == 3)
        return keygen(argv[2]);
    if (command == "sign" && (argc == 4 || argc == 5))
        return sign(argv[2], argv[3], folderOf(argv[3], argc, argv, 4));
    if (command == "verify" && (argc == 4 || argc == 5))
        return verify(argv[2], argv[3], argc == 5 ? std::optional<fs::path>(argv[4]) : std::nullopt);
    return usage();
}
