#include "update/wizard/UpdaterStrings.h"

#include <cctype>
#include <cstdlib>
#include <mutex>

namespace qarvia::update {

namespace {

struct LanguageState {
    std::mutex mutex;
    std::function<std::string()> localeSource;
    TsuUpdaterLanguage language = wlEnglish;
    bool chosen = false;
};

LanguageState& state() {
    static LanguageState s;
    return s;
}

TsuUpdaterLanguage autoLanguage(const std::function<std::string()>& source) {
    return languageForLangId(langIdForLocale(source ? source() : systemLocaleName()));
}

// Must be called with the state's mutex held.
TsuUpdaterLanguage languageLocked(LanguageState& s) {
    if (!s.chosen) {
        s.language = autoLanguage(s.localeSource);
        s.chosen = true;
    }
    return s.language;
}

struct PrimaryId {
    const char* code;
    std::uint16_t primary;
};

// Primary language ids of the languages that have a block, by ISO 639-1 code.
constexpr PrimaryId PrimaryIds[] = {
    {"en", 0x09}, {"ru", 0x19}, {"de", 0x07}, {"fr", 0x0C}, {"es", 0x0A}, {"pt", 0x16}, {"it", 0x10},
    {"nl", 0x13}, {"da", 0x06}, {"sv", 0x1D}, {"fi", 0x0B}, {"et", 0x25}, {"uk", 0x22}, {"pl", 0x15},
    {"cs", 0x05}, {"hu", 0x0E}, {"ro", 0x18}, {"ca", 0x03}, {"eu", 0x2D}, {"af", 0x36}, {"zh", 0x04},
    {"id", 0x21}, {"ms", 0x3E}, {"is", 0x0F}, {"tr", 0x1F}, {"no", 0x14}, {"nb", 0x14}, {"nn", 0x14},
};

// Primary id per block, in block order.
constexpr std::uint16_t BlockPrimary[LanguageCount] = {0x09, 0x19, 0x07, 0x0C, 0x0A, 0x16, 0x16, 0x10, 0x13, 0x06,
                                                       0x1D, 0x0B, 0x25, 0x22, 0x15, 0x05, 0x0E, 0x18, 0x03, 0x2D,
                                                       0x36, 0x04, 0x04, 0x21, 0x3E, 0x0F, 0x1F, 0x14};

std::uint16_t makeLangId(std::uint16_t primary, std::uint16_t sub) {
    return static_cast<std::uint16_t>((sub << 10) | primary);
}

} // namespace

int languageBaseOf(TsuUpdaterLanguage language) {
    if (language <= wlAuto || language > wlNorwegian)
        return 0;
    return 41000 + 50 * (static_cast<int>(language) - 1);
}

TsuUpdaterLanguage languageForLangId(std::uint16_t langId) {
    const std::uint16_t primary = langId & 0x3FF;
    const std::uint16_t sub = langId >> 10;
    if (primary == 0x16)
        return sub == 1 ? wlPortugueseBrazilian : wlPortuguese;
    if (primary == 0x04) {
        // Singapore (sublanguage 4) writes simplified characters just as the mainland does.
        return (sub == 2 || sub == 4) ? wlChineseSimplified : wlChineseTraditional;
    }
    for (int i = 0; i < LanguageCount; ++i) {
        if (BlockPrimary[i] == primary)
            return static_cast<TsuUpdaterLanguage>(i + 1);
    }
    return wlEnglish;
}

std::uint16_t langIdForLocale(std::string_view localeName) {
    // language[_territory][.codeset][@modifier]
    std::string_view name = localeName.substr(0, localeName.find_first_of(".@"));
    const auto underscore = name.find_first_of("_-");
    std::string language(name.substr(0, underscore));
    std::string territory(underscore == std::string_view::npos ? std::string_view() : name.substr(underscore + 1));
    for (auto& c : language)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : territory)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));

    std::uint16_t primary = 0x09;
    for (const auto& entry : PrimaryIds) {
        if (language == entry.code) {
            primary = entry.primary;
            break;
        }
    }
    std::uint16_t sub = 1;
    if (primary == 0x16) {
        sub = territory == "BR" ? 1 : 2;
    } else if (primary == 0x04) {
        if (territory == "TW")
            sub = 1;
        else if (territory == "HK")
            sub = 3;
        else if (territory == "SG")
            sub = 4;
        else if (territory == "MO")
            sub = 5;
        else
            sub = 2; // zh_CN, and "zh" alone
    }
    return makeLangId(primary, sub);
}

std::string systemLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return value;
    }
    return {};
}

void setLocaleSource(std::function<std::string()> source) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.localeSource = std::move(source);
}

int languageBase() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return languageBaseOf(languageLocked(s));
}

TsuUpdaterLanguage currentLanguage() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return languageLocked(s);
}

void selectLanguage(TsuUpdaterLanguage language) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (language == wlAuto || language > wlNorwegian || language < wlAuto)
        s.language = autoLanguage(s.localeSource);
    else
        s.language = language;
    s.chosen = true;
}

std::string_view updaterString(int id) {
    if (id == CornerCaptionId)
        return "Updater";
    if (id < 41000)
        return {};
    const int block = (id - 41000) / 50;
    const int offset = (id - 41000) % 50;
    if (block >= LanguageCount || offset >= BlockSize)
        return {};
    const char* text = detail::LanguageBlocks[block].texts[offset];
    return text ? std::string_view(text) : std::string_view();
}

std::string_view updaterText(int offset) {
    return updaterString(languageBase() + offset);
}

std::string placeholdersOf(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        std::size_t j = i + 1;
        while (j < text.size() && (text[j] == '.' || std::isdigit(static_cast<unsigned char>(text[j]))))
            ++j;
        if (j < text.size()) {
            if (text[j] != '%')
                out += std::string(text.substr(i, j - i + 1)) + ' ';
        }
        i = j;
    }
    return out;
}

} // namespace qarvia::update
