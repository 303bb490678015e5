// The main window's self-update component: its stored settings, applied in their stored order, and the
// start-up check that follows.

#include "app/TForm1.h"
#include "update/TsuUpdater.h"

#include "DialogRecorder.h"
#include "WebViewRecorder.h"

#include <QAbstractEventDispatcher>
#include <QTest>

#include <gtest/gtest.h>

using namespace qarvia;
using namespace qarvia::update;

TEST(MainWindowUpdater, StoredSettingsThenStartUpCheck) {
    WebViewRecorder web;
    DialogRecorder dialogs;
    ProgramSettings settings = ProgramSettings::defaults();
    settings.bannerUrl = QStringLiteral("http://127.0.0.1:9/toolbox/in.htm");
    settings.updateInfoUrl = QStringLiteral("http://127.0.0.1:9/zidad/qarvia/upt.inf");
    TForm1 form(settings);
    TsuUpdater* u = form.updater();
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->parent(), &form);
    // AutoCheck was switched on before the delay was stored: the first automatic check comes after 10000 ms.
    EXPECT_TRUE(u->AutoCheck());
    EXPECT_EQ(u->AutoCheckDelay, 86400);
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(u);
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers.first().interval, 10000);

    EXPECT_EQ(u->InfoFile.Files, std::vector<std::string>{"http://127.0.0.1:9/zidad/qarvia/Qarviakit.v1.0.1.rar"});
    EXPECT_EQ(u->InfoFile.UpgradeMsg, "1、增加Qarvia英雄榜查询功能");
    EXPECT_EQ(u->VersionControl, TsuUpdaterVersionControl::byNumber);
    EXPECT_EQ(u->VersionDate, "11/06/2012");
    EXPECT_TRUE(u->Wizard.HideFileLocation);
    EXPECT_FALSE(u->Wizard.StayOnTop);
    EXPECT_EQ(u->WizardLanguage(), wlChineseSimplified);
    EXPECT_EQ(languageBase(), 42100);
    EXPECT_EQ(u->RestartParams(), "/afterupgrade");
    // Start-up overrides the stored version and address, then checks once the window has painted.
    EXPECT_EQ(u->VersionNumber, "v1.1");
    EXPECT_EQ(QString::fromStdString(u->InfoFileURL), form.infoFileUrl());
    EXPECT_FALSE(u->CheckingInfo);
    form.show();
    ASSERT_TRUE(QTest::qWaitFor([&form] { return form.updateCheckStarted(); }));
    EXPECT_TRUE(u->CheckingInfo);
}
