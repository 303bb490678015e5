#include "update/wizard/UpdaterStrings.h"

#include <gtest/gtest.h>

#include <set>

using namespace qarvia::update;

TEST(UpdaterStrings, EveryBlockIsCompleteWithTheEnglishFields) {
    for (int block = 0; block < LanguageCount; ++block) {
        const auto& b = detail::LanguageBlocks[block];
        EXPECT_EQ(b.language, static_cast<TsuUpdaterLanguage>(block + 1)) << block;
        const int base = languageBaseOf(b.language);
        int differentFromEnglish = 0;
        for (int offset = 0; offset < BlockSize; ++offset) {
            const std::string_view text = updaterString(base + offset);
            const std::string_view english = updaterString(41000 + offset);
            // Every language has a text exactly where English has one.
            ASSERT_EQ(text.empty(), english.empty()) << base + offset;
            EXPECT_EQ(placeholdersOf(text), placeholdersOf(english)) << base + offset << ": " << text;
            differentFromEnglish += text != english;
        }
        // A translated block, not a copy of the English one (buttons like "&OK" may coincide).
        if (b.language != wlEnglish) {
            EXPECT_GT(differentFromEnglish, BlockSize * 3 / 4) << base;
        }
    }
}

TEST(UpdaterStrings, IdsAndFixedTexts) {
    struct Case {
        int id;
        std::string_view text;
    };
    const Case cases[] = {
        {40999, "Updater"},
        {41000, "Application update wizard"},
        {41000 + 8, "Estimated time left: %d:%.2d:%.2d"},
        {42100, "软件升级精灵"},
        {42100 + 9, "当前正在下载:%d of %d"},
        {42100 + 29, "远端的文档\"%s\"被密码保护，\n\n请输入您的帐号及密码[注册用户]来继续进行升级操作。"},
        {42050, "軟體升級精靈"},
        {41000 + 35, "The last update did not complete.\r\rThe previous version was put back; the downloaded files are "
                     "kept for the next try."},
        {42100 + 34, "无法写入文件 %s：%s\r\r升级已停止。请清理磁盘空间或允许写入程序所在的文件夹，然后再试一次。"},
        {41000 + BlockSize, ""}, // between two blocks
        {40000, ""},
        {42400, ""}, // after the last block
    };
    for (const auto& c : cases)
        EXPECT_EQ(updaterString(c.id), c.text) << c.id;
    EXPECT_EQ(languageBaseOf(wlAuto), 0);
    EXPECT_EQ(languageBaseOf(wlRussian), 41050);
    EXPECT_EQ(languageBaseOf(wlNorwegian), 42350);
}

TEST(UpdaterStrings, LanguageFromLocaleAndLanguageId) {
    struct Case {
        std::string_view locale;
        std::uint16_t langId;
        TsuUpdaterLanguage language;
    };
    const Case cases[] = {
        {"zh_CN.UTF-8", 0x0804, wlChineseSimplified},
        {"zh_SG.GB2312", 0x1004, wlChineseSimplified},
        {"zh", 0x0804, wlChineseSimplified},
        {"zh_TW.UTF-8", 0x0404, wlChineseTraditional},
        {"zh_HK", 0x0C04, wlChineseTraditional},
        {"pt_BR.utf8", 0x0416, wlPortugueseBrazilian},
        {"pt_PT", 0x0816, wlPortuguese},
        {"de_AT@euro", 0x0407, wlGerman},
        {"ru_RU.KOI8-R", 0x0419, wlRussian},
        {"nb_NO.UTF-8", 0x0414, wlNorwegian},
        {"eu_ES", 0x042D, wlBasque},
        {"ms_MY", 0x043E, wlMalay},
        {"ja_JP.UTF-8", 0x0409, wlEnglish},
        {"C", 0x0409, wlEnglish},
        {"", 0x0409, wlEnglish},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(langIdForLocale(c.locale), c.langId) << c.locale;
        EXPECT_EQ(languageForLangId(c.langId), c.language) << c.locale;
    }
    // Windows ids with sublanguages the locale names do not produce.
    EXPECT_EQ(languageForLangId(0x0004), wlChineseTraditional);
    EXPECT_EQ(languageForLangId(0x0016), wlPortuguese);
    EXPECT_EQ(languageForLangId(0x0814), wlNorwegian);
    EXPECT_EQ(languageForLangId(0x0411), wlEnglish);
}

TEST(UpdaterStrings, ProcessWideChoice) {
    setLocaleSource([] { return std::string("zh_CN.UTF-8"); });
    selectLanguage(wlChineseTraditional);
    EXPECT_EQ(languageBase(), 42050);
    EXPECT_EQ(updaterText(usWizardTitle), "軟體升級精靈");
    selectLanguage(wlAuto);
    EXPECT_EQ(languageBase(), 42100);
    EXPECT_EQ(currentLanguage(), wlChineseSimplified);
    setLocaleSource([] { return std::string("fr_FR.UTF-8"); });
    selectLanguage(wlAuto);
    EXPECT_EQ(updaterText(usCancel), "&Annuler");
    setLocaleSource(nullptr);
}

TEST(UpdaterStrings, Formatting) {
    const auto en = [](int offset) { return updaterString(41000 + offset); };
    const auto zh = [](int offset) { return updaterString(42100 + offset); };
    EXPECT_EQ(formatUpdaterText(en(usTimeLeft), 3725 / 3600, 3725 / 60 % 60, 3725 % 60),
              "Estimated time left: 1:02:05");
    EXPECT_EQ(formatUpdaterText(en(usFileSize), 1536 / 1024.0), "File size: 1.5 Kb");
    EXPECT_EQ(formatUpdaterText(zh(usFileOfFiles), 3, 3), "当前正在下载:3 of 3");
    EXPECT_EQ(formatUpdaterText(en(usAskUpgrade), std::string("qarvia-toolbox"), ""),
              "A newer version of qarvia-toolbox was released.\n\nDo you want to update your version with the "
              "latest one?");
    // A "%" in a filled-in text is printed as it is.
    EXPECT_EQ(formatUpdaterText(zh(usLostFile), "a%20b%s.rar"),
              "文档a%20b%s.rar找不到或者发生错误，\r\r您要忽略这个文档并且继续升级操作吗？");
    EXPECT_EQ(placeholdersOf("%d:%.2d %s %.1f 100%% done"), "%d %.2d %s %.1f ");
}
