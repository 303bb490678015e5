#pragma once

// The publisher's side of signed updates: Ed25519 keys kept as PEM files, the "#size"/"#hash" entries of
// each listed file, and the closing "#signature=ed25519:" entry over every byte before it.

#include "update/InfoFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qarvia::signupdate {

struct KeyPair {
    std::string privatePem;   // PKCS#8 PEM
    std::string publicBase64; // the build option's form: base64 of the 32 raw bytes
};
std::optional<KeyPair> GenerateKey();

// The public key of a PEM private key, in the build option's form.
std::optional<std::string> PublicKeyOfPem(std::string_view pem);

struct FileFacts {
    std::int64_t size = 0;
    std::string sha256; // 64 lower-case hex digits
};
using FactsLookup = std::function<std::optional<FileFacts>(const update::ListedFile& file, std::string& error)>;

// The information file with a fresh "#size<n>=" and "#hash<n>=" line after the line of each listed URL
// (older ones removed) and without its signature entry. "" with `error` set when the file lists nothing,
// a file's facts cannot be had, or the result would not read back as written (an entry inside another).
std::string FillInFacts(std::string_view infoText, const FactsLookup& factsOf, std::string& error);

// `text` (ending in a line break) followed by its signature entry; "" when the key cannot sign.
std::string AppendSignature(std::string_view text, std::string_view privatePem);

} // namespace qarvia::signupdate
