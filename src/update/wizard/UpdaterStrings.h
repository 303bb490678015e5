#pragma once

// The update windows' string table: one block of messages per language at the ids
// LanguageBase + offset, the language choice (automatic from the desktop's locale or set), and the
// formatting of the messages' "%s", "%d", "%.2d" and "%.1f" fields.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

enum TsuUpdaterLanguage {
    wlAuto,
    wlEnglish,
    wlRussian,
    wlGerman,
    wlFrench,
    wlSpanish,
    wlPortuguese,
    wlPortugueseBrazilian,
    wlItalian,
    wlDutch,
    wlDanish,
    wlSwedish,
    wlFinnish,
    wlEstonian,
    wlUkrainian,
    wlPolish,
    wlCzech,
    wlHungarian,
    wlRomanian,
    wlCatalan,
    wlBasque,
    wlAfrikaans,
    wlChineseTraditional,
    wlChineseSimplified,
    wlIndonesian,
    wlMalay,
    wlIcelandic,
    wlTurkish,
    wlNorwegian,
};

namespace qarvia::update {

// Offsets into a language block.
enum UpdaterText {
    usWizardTitle = 0,
    usDownloading = 1,
    usUpgradeCompleted = 2,
    usCurrentFile = 3,
    usAllFiles = 4,
    usDownloadingFrom = 5,
    usFileSize = 6,
    usTransferRate = 7,
    usTimeLeft = 8,
    usFileOfFiles = 9,
    usFinishNote = 10,
    usEnterPassword = 11,
    usUserName = 12,
    usPassword = 13,
    usYes = 14,
    usNo = 15,
    usOk = 16,
    usCancel = 17,
    usNext = 18,
    usLater = 19,
    usWarning = 20,
    usError = 21,
    usPreparing = 22,
    usAskUpgrade = 23,
    usNoUpdate = 24,
    usNoInfoFile = 25,
    usHostUnreachable = 26,
    usAskAbort = 27,
    usLostFile = 28,
    usPasswordProtected = 29,
    usConnLost = 30,
    usNotApplied = 31,      // the update could not be handed to the installer; the program keeps running
    usInfoNotVerified = 32, // the information file is not signed with the key built in
    usFileNotVerified = 33, // a downloaded file differs from its listed size or hash: deleted, nothing installed
    usWriteFailed = 34,          // a download could not be stored: file name, the system's reason
    usLastUpdateIncomplete = 35, // an installation was interrupted and undone
    usNotifyOnly = 36, // a newer version is out, but this copy does not replace itself: open the page instead
};

inline constexpr int BlockSize = 37;
inline constexpr int LanguageCount = 28;
inline constexpr int CornerCaptionId = 40999; // "Updater", the same in every language

// The first id of a language's block: 41000 + 50 * (ordinal - 1); wlAuto has none and gives 0.
int languageBaseOf(TsuUpdaterLanguage language);

// The automatic choice for a Windows-style language id (primary language in the low 10 bits, sublanguage in
// the high 6): Portuguese and Chinese by sublanguage, the others by primary language, English otherwise.
TsuUpdaterLanguage languageForLangId(std::uint16_t langId);

// The language id of a POSIX locale name such as "zh_CN.UTF-8" or "pt_BR"; English for "C", "POSIX", "" or
// a language without a block.
std::uint16_t langIdForLocale(std::string_view localeName);

// The desktop's locale name: LC_ALL, else LC_MESSAGES, else LANG (the first one set and non-empty).
std::string systemLocaleName();

// Tests replace where the locale name comes from; an empty function restores the environment.
void setLocaleSource(std::function<std::string()> source);

// The process-wide current block. Setting wlAuto runs the automatic choice from the locale.
int languageBase();
TsuUpdaterLanguage currentLanguage();
void selectLanguage(TsuUpdaterLanguage language);

// The text of a string id (UTF-8), or an empty view for an id that is not in the table (or not filled).
std::string_view updaterString(int id);

// The text at an offset of the current block.
std::string_view updaterText(int offset);

namespace detail {
struct LanguageBlock {
    TsuUpdaterLanguage language;
    const char* texts[BlockSize];
};
extern const LanguageBlock LanguageBlocks[LanguageCount];

template <typename T> auto formatArg(const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::string_view> && !std::is_arithmetic_v<T>)
        return std::string(std::string_view(value));
    else
        return value;
}
template <typename T> auto cArg(const T& value) {
    if constexpr (std::is_same_v<T, std::string>)
        return value.c_str();
    else
        return value;
}
} // namespace detail

// Fills a table text's fields. The table's texts are fixed at build time, so their fields are known; every
// block carries the same fields in the same order (a test holds every block to the English one).
template <typename... Args> std::string formatUpdaterText(std::string_view format, const Args&... args) {
    const std::string fmt(format);
    auto call = [&](const auto&... converted) {
        const int size = std::snprintf(nullptr, 0, fmt.c_str(), detail::cArg(converted)...);
        if (size <= 0)
            return std::string();
        std::string out(static_cast<std::size_t>(size) + 1, '\0');
        std::snprintf(out.data(), out.size(), fmt.c_str(), detail::cArg(converted)...);
        out.resize(static_cast<std::size_t>(size));
        return out;
    };
    return call(detail::formatArg(args)...);
}

// The placeholders of a text in order ("%s", "%d", "%.2d", "%.1f"), as one string; "%%" is skipped.
std::string placeholdersOf(std::string_view text);

} // namespace qarvia::update
