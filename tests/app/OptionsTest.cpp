#include "app/Application.h"

#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace qarvia {
namespace {

AppOptions parse(QStringList args) {
    args.prepend(QStringLiteral("qarvia-toolbox"));
    return parseOptions(args);
}

TEST(Options, RunModes) {
    EXPECT_TRUE(parse({"--smoke"}).smoke);
    const AppOptions shot = parse({"--screenshot", "/tmp/x.png", "--tab", "4"});
    EXPECT_EQ(shot.screenshotFile, QStringLiteral("/tmp/x.png"));
    EXPECT_EQ(shot.tab, 4);
    EXPECT_FALSE(shot.exitNow);
    const AppOptions plain = parse({});
    EXPECT_FALSE(plain.smoke || plain.exitNow);
    EXPECT_EQ(plain.settings.bannerUrl, ProgramSettings::defaults().bannerUrl);
}

TEST(Options, ServiceAddressesAndRestartArguments) {
    const AppOptions o =
        parse({"--rank-url", "http://127.0.0.1:8080", "--update-url", "http://127.0.0.1:1/u.inf", "/afterupgrade"});
    EXPECT_EQ(o.settings.rankUrl, QStringLiteral("http://127.0.0.1:8080"));
    EXPECT_EQ(o.settings.updateInfoUrl, QStringLiteral("http://127.0.0.1:1/u.inf"));
    EXPECT_EQ(o.positional, QStringList{QStringLiteral("/afterupgrade")});
    // The order a restart after an update uses: the restart argument first, then the options kept.
    const AppOptions restarted =
        parse({"/afterupgrade", "--rank-url", "http://127.0.0.1:8080", "--update-url", "http://127.0.0.1:1/u.inf"});
    EXPECT_EQ(restarted.settings.rankUrl, o.settings.rankUrl);
    EXPECT_EQ(restarted.settings.updateInfoUrl, o.settings.updateInfoUrl);
    EXPECT_EQ(restarted.positional, o.positional);
}

TEST(Options, HelpVersionAndUsageErrors) {
    struct Case {
        QStringList args;
        int code;
        const char* inOutput;
        const char* inError;
    };
    const Case cases[] = {
        {{"--version"}, 0, "qarvia-toolbox 1.1", ""},
        {{"--help"}, 0, "--screenshot <file>", ""},
        {{"--tab", "5", "--screenshot", "a.png"}, 1, "", "0 to 4"},
        {{"--tab", "x"}, 1, "", "0 to 4"},
        {{"--frobnicate"}, 1, "", "frobnicate"},
        {{"--screenshot"}, 1, "", "screenshot"},
        {{"--window", "settings", "--screenshot", "a.png"}, 1, "", "main, about or wizard"},
    };
    for (const Case& c : cases) {
        const AppOptions o = parse(c.args);
        EXPECT_TRUE(o.exitNow) << c.args.join(' ').toStdString();
        EXPECT_EQ(o.exitCode, c.code) << c.args.join(' ').toStdString();
        EXPECT_TRUE(o.output.contains(QLatin1String(c.inOutput))) << o.output.toStdString();
        EXPECT_TRUE(o.errorText.contains(QLatin1String(c.inError))) << o.errorText.toStdString();
    }
}

TEST(Options, SkinSwitchAndScreenshotWindow) {
    const QByteArray saved = qgetenv("QARVIA_SKIN");
    qunsetenv("QARVIA_SKIN");
    EXPECT_TRUE(parse({}).skin);
    EXPECT_FALSE(parse({"--no-skin"}).skin);
    qputenv("QARVIA_SKIN", "off");
    EXPECT_FALSE(parse({}).skin);
    qputenv("QARVIA_SKIN", "on");
    EXPECT_TRUE(parse({}).skin);
    if (saved.isNull())
        qunsetenv("QARVIA_SKIN");
    else
        qputenv("QARVIA_SKIN", saved);

    EXPECT_EQ(parse({"--screenshot", "a.png", "--window", "wizard"}).shotWindow, QStringLiteral("wizard"));
    EXPECT_EQ(parse({"--screenshot", "a.png", "--window", "main"}).shotWindow, QString());
}

TEST(Options, UpdateAddressQuery) {
    EXPECT_EQ(infoFileUrlFor(QStringLiteral("http://h/upt.inf"), 0), QStringLiteral("http://h/upt.inf?d=0"));
    EXPECT_EQ(infoFileUrlFor(QStringLiteral("http://h/upt.inf"), 99), QStringLiteral("http://h/upt.inf?d=99"));
}

} // namespace
} // namespace qarvia
