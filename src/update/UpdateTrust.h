#pragma once

// Whether an update can be trusted: the publisher's Ed25519 signature over the information file, checked
// with the public key built into the program, and each downloaded file's size and SHA-256 digest against
// what the signed file lists. OpenSSL's libcrypto does the cryptography.

#include "update/InfoFile.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarvia::update {

using PublicKey = std::array<unsigned char, 32>;

// Base64 with padding, as the build option and the signature entry write it: only the 64 letters of the
// alphabet, a length that is a multiple of 4, at most two "=" at the end. Anything else is nullopt.
std::optional<std::string> DecodeBase64(std::string_view text);
std::string EncodeBase64(std::string_view bytes);

// The build option's form: the base64 of the 32 raw key bytes.
std::optional<PublicKey> DecodePublicKey(std::string_view base64);

bool VerifyEd25519(const PublicKey& key, std::string_view message, std::string_view signature);

std::string Sha256Hex(std::string_view bytes);
// The digest of a file's content; nullopt when it cannot be read.
std::optional<std::string> Sha256FileHex(const std::string& path);

enum class InfoVerdict {
    Accepted,     // signed by the key with every file's size and hash listed, or no key to check with
    NoSignature,  // a key is set and the file carries no signature as its last entry
    BadSignature, // the signature is not "ed25519:" and base64, or not by the key, or the key is unusable
    MissingFacts, // signed, but a listed file lacks its size or hash
};

struct InfoCheck {
    InfoVerdict verdict = InfoVerdict::Accepted;
    // The text the entries are read from: the signed bytes when a key is set, else the whole file.
    std::string_view entries;
    std::vector<ListedFile> files;
    bool accepted() const { return verdict == InfoVerdict::Accepted; }
};

// Reads the information file under the key `publicKeyBase64` ("" = none built in: the file is read as it
// comes, and sizes and hashes that are listed are still checked). The result's `entries` points into
// `fileText`.
InfoCheck CheckInfoFile(std::string_view fileText, std::string_view publicKeyBase64);

enum class FileVerdict { Matches, SizeDiffers, HashDiffers, Unreadable, FactsUnreadable };

// Holds a downloaded file to what its listing says; a file with no size and no hash listed matches.
FileVerdict CheckDownloadedFile(const std::string& path, const ListedFile& listed);

} // namespace qarvia::update
