#pragma once

// The self-update component's rules that need no window: version and date comparison, the stored login
// record, the temporary names of downloads and the restart argument.

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qarvia::update {

// -1, 0 or 1: four "."-separated fields compared as numbers; as soon as a field of either text is not a
// whole number, the two whole texts are compared byte by byte instead.
int CompareVersionStrings(std::string_view a, std::string_view b);

struct InfoDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    auto operator<=>(const InfoDate&) const = default;
};

InfoDate TodayDate();
bool IsValidDate(const InfoDate& date);

// "month/day/year"; any failure (missing "/", a part that is not a whole number, a day that does not
// exist) gives `today`.
InfoDate ParseInfoDate(std::string_view text, const InfoDate& today);
inline InfoDate ParseInfoDate(std::string_view text) {
    return ParseInfoDate(text, TodayDate());
}
// "MM/DD/YYYY".
std::string FormatVersionDate(const InfoDate& date);

// The two version rules: is the published version newer than the running one?
bool IsNewerByNumber(std::string_view infoVersion, std::string_view versionNumber);
bool IsNewerByDate(std::string_view versionDate, std::string_view infoDate, const InfoDate& today);

// The stored login record (LInfo): a count byte T = (user + password + 1) mod 256 and T bytes (user length,
// user, password), each combined by exclusive-or with (T xor LInfoKey). Nothing to store when both are
// empty (""); nothing can be stored (std::nullopt) when they hold more than 254 bytes together.
inline constexpr unsigned char LInfoKey = 0x5A;
std::optional<std::string> EncodeLInfo(std::string_view user, std::string_view password);
// The login read back; std::nullopt for a record that is not well formed.
std::optional<std::pair<std::string, std::string>> DecodeLInfo(std::string_view record);

// What follows the last "/", "\" or ":" of a URL, its query left out: the name a download is stored under.
std::string FileNamePartOfURL(std::string_view url);
inline constexpr const char* DownloadSuffix = ".uTMP";
// programDir + "/" + the URL's file-name part + ".uTMP".
std::string DownloadTempName(const std::string& programDir, std::string_view url);

// RestartParams as stored: an empty text holds one blank.
inline std::string NormalizeRestartParams(std::string text) {
    return text.empty() ? std::string(" ") : text;
}

// The information file's method digit as the character handed to the stub.
inline char MethodCharacter(int digit) {
    return static_cast<char>('0' + ((digit >= 0 && digit <= 9) ? digit : 0));
}

} // namespace qarvia::update
