#pragma once

// Reading the update information file published beside the update files: entries "#key=value" (the value
// ends before the first control byte) and the braced "#message={...}" entry, anywhere in the text.
//
// A publisher who signs also lists each file's size and SHA-256 digest under keys numbered like its URL
// ("#size0="/"#hash0=" for "#url0=") and ends the file with "#signature=ed25519:BASE64"; UpdateTrust.h
// checks those. Files without them read exactly as before.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qarvia::update {

enum class TsuUpgradeMethod { umSelfUpgrade, umUseExternalSetup, umRedirectToURL };

// The largest body that can be an information file; a longer one is not read to its end.
inline constexpr std::int64_t MaxInfoFileSize = 1024 * 1024;

// The value of `key` (lower-case) in `fileText`, or "" when absent. The first occurrence of "#key=" (with
// "{" when `braced`) anywhere in the text wins, matched without regard to ASCII letter case; the value is
// taken from the original bytes, cut at the first byte below 0x20 (plain) or the first "}" (braced), and
// nothing is trimmed.
std::string ReadInfoValue(std::string_view fileText, std::string_view key, bool braced = false);

// One file to download, with what the publisher says about it.
struct ListedFile {
    std::string url;
    std::string number;                // "" for "#url=", "0" for "#url0=", "3" for "#url3=" ...
    std::size_t entryAt = 0;           // where the "#" of its URL entry is
    std::optional<std::int64_t> size;  // "#size<number>=": decimal digits
    std::optional<std::string> sha256; // "#hash<number>=sha256:" and 64 lower-case hex digits (kept without the prefix)
    bool unreadableFacts = false;      // a size or hash is there but not in that form
};

// The files to download: "url", then "url0", then "url<N+1>", "url<N+2>", ... until the first empty one,
// where N is the number of URLs found so far; each with its size and hash when listed.
std::vector<ListedFile> ReadListedFiles(std::string_view fileText);
// The same URLs alone.
std::vector<std::string> ReadUpdateFiles(std::string_view fileText);

// Reads a "#size" value (decimal digits, at most 18) or a "#hash" value ("sha256:" and 64 lower-case hex
// digits; the digits are returned). Anything else is nullopt.
std::optional<std::int64_t> ParseListedSize(std::string_view value);
std::optional<std::string> ParseListedHash(std::string_view value);

// The signature entry: the last "#signature=" of the file (any letter case).
struct SignatureEntry {
    bool found = false;
    bool last = false;  // only blanks, tabs and line breaks follow its value
    std::size_t at = 0; // its "#": the signature covers fileText[0, at) exactly as served
    std::string value;  // as written, e.g. "ed25519:" and a base64 text
};
SignatureEntry FindSignatureEntry(std::string_view fileText);

// 1 when the "method" value starts with "1", 2 when it starts with "2", else 0.
int ReadUpgradeMethodDigit(std::string_view fileText);
TsuUpgradeMethod UpgradeMethodFromDigit(int digit);

} // namespace qarvia::update
