#include "MainWindowFixture.h"

#include "calc/CalculatorPages.h"

#include "ModalWindowCloser.h"
#include "WindowManagerStandIn.h"
#include "ui/WindowFrame.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

#include <set>

namespace qarvia {
namespace {

TEST_F(MainWindowTest, StartUpSetsCaptionBannerAndUpdateAddress) {
    EXPECT_EQ(form->windowTitle(), QString::fromUtf8("Qarvia游戏工具箱  v1.1  - 本工具箱由Lumora游戏网制作"));
    EXPECT_EQ(web.navigations(), QStringList{settings.bannerUrl}); // the banner, once; nothing else
    auto* banner = find<QWidget>("TopBrowser");
    EXPECT_EQ(banner->size(), QSize(600, 80));
    EXPECT_EQ(form->versionNumber(), QStringLiteral("v1.1"));
    const QRegularExpression address(QRegularExpression::escape(settings.updateInfoUrl) +
                                     QStringLiteral("\\?d=(0|[1-9][0-9]?)$"));
    EXPECT_TRUE(address.match(form->infoFileUrl()).hasMatch()) << form->infoFileUrl().toStdString();
}

TEST_F(MainWindowTest, UpdateQueryIsDrawnAnewAtEachStart) {
    std::set<QString> seen;
    for (int i = 0; i < 40; ++i)
        seen.insert(TForm1(settings).infoFileUrl());
    EXPECT_GT(seen.size(), 1u);
}

TEST_F(MainWindowTest, UpdateCheckStartsAfterTheFirstPaint) {
    TForm1 fresh(settings);
    int finished = 0;
    QObject::connect(&fresh, &TForm1::startUpFinished, [&finished] { ++finished; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(fresh.updateCheckStarted()); // not before the window is on screen
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    EXPECT_TRUE(QTest::qWaitFor([&fresh] { return fresh.updateCheckStarted(); }));
    fresh.update();
    QTest::qWait(20);
    EXPECT_EQ(finished, 1); // later paints start nothing more
}

// Start-up makes only the opening page's controls; each other page's are made, wired and shown as it first
// shows, and follow the tab bar in the tab order.
TEST_F(MainWindowTest, PagesAreMadeWhenTheyFirstShow) {
    TForm1 fresh(settings);
    fresh.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fresh));
    EXPECT_NE(fresh.findChild<QLineEdit*>(QStringLiteral("role1")), nullptr);
    EXPECT_EQ(fresh.findChild<QLineEdit*>(QStringLiteral("Edit1")), nullptr);
    EXPECT_EQ(fresh.findChild<QTableWidget*>(QStringLiteral("HuaXueStringGrid")), nullptr);
    auto* pages = fresh.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    pages->setCurrentIndex(1);
    auto* edit1 = fresh.findChild<QLineEdit*>(QStringLiteral("Edit1"));
    ASSERT_NE(edit1, nullptr);
    EXPECT_TRUE(edit1->isVisible());
    EXPECT_EQ(pages->widget(1)->geometry(), pages->widget(0)->geometry());
    QWidget* next = pages->tabBar()->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus || !next->isVisible())
        next = next->nextInFocusChain();
    EXPECT_EQ(next, edit1);
    dialogs.clear();
    const QString before = edit1->text();
    QTest::keyClicks(edit1, QStringLiteral("x"));
    EXPECT_EQ(edit1->text(), before);
    EXPECT_EQ(dialogs.texts(), QStringList{QString::fromUtf8("只能输入数字")});
    pages->setCurrentIndex(2); // the huaxue grid fills as its page shows, made or not
    EXPECT_TRUE(fresh.huaxuePage()->filled());
}

TEST_F(MainWindowTest, WindowLayout) {
    EXPECT_EQ(form->centralWidget()->size(), QSize(630, 470));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()); // fixed size
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);

    auto* pages = find<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->size(), QSize(617, 369));
    const char* captions[] = {"经验计算器", "元魂珠融合工具", "化雪丹经验计算器", "玄修系统加点模拟器", "Qarvia英雄榜"};
    const char* names[] = {"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet5"};
    ASSERT_EQ(pages->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pages->tabText(i), QString::fromUtf8(captions[i]));
        EXPECT_EQ(pages->widget(i)->objectName(), QLatin1String(names[i]));
    }
    EXPECT_EQ(pages->currentIndex(), 0);

    const QList<QAction*> menus = form->menuBar()->actions();
    ASSERT_EQ(menus.size(), 1);
    EXPECT_EQ(menus[0]->text(), QString::fromUtf8("关于[&A]"));
    QStringList commands;
    for (QAction* a : menus[0]->menu()->actions())
        commands << a->text();
    EXPECT_EQ(commands, (QStringList{QString::fromUtf8("反馈意见"), QString::fromUtf8("访问LumoraQarvia专区"),
                                     QString::fromUtf8("关于本软件")}));

    auto* grid = find<QTableWidget>("herolist");
    QStringList header;
    for (int c = 0; c < 9; ++c)
        header << grid->horizontalHeaderItem(c)->text();
    EXPECT_EQ(header.join(QLatin1Char('|')),
              QString::fromUtf8("角色名|大区|服务器|等级|门派|势力|人物修为|装备修为|总修为"));
    EXPECT_TRUE(grid->isColumnHidden(9));
}

TEST_F(MainWindowTest, RankingTabControlsAsLaidOut) {
    struct Placement {
        const char* name;
        QRect geometry;
    };
    const Placement placements[] = {
        {"Label30", {16, 16, 60, 13}},      {"herorankEdit", {88, 8, 305, 21}},  {"herorankSoBtn", {400, 8, 75, 25}},
        {"heronum_lbe", {480, 16, 3, 13}},  {"herolist", {0, 40, 609, 265}},     {"Label31", {0, 312, 193, 13}},
        {"pagenum_lbe", {400, 320, 3, 13}}, {"herorank_pu", {448, 312, 75, 25}}, {"herorank_pd", {528, 312, 75, 25}},
    };
    for (const Placement& p : placements)
        EXPECT_EQ(find<QWidget>(p.name)->geometry(), p.geometry) << p.name;
    const RankingControls c = form->rankingControls();
    EXPECT_EQ(c.herolist, find<QTableWidget>("herolist"));
    EXPECT_EQ(c.herorankSoBtn->text(), QString::fromUtf8("搜索"));
    EXPECT_EQ(c.herorank_pu->text(), QString::fromUtf8("<<<上一页"));
    EXPECT_EQ(c.herorank_pd->text(), QString::fromUtf8("下一页>>>"));
    EXPECT_EQ(c.Label31->text(), QString::fromUtf8("点击角色名称查看详细信息"));
    // tab order: name box, search, grid, next page, previous page
    QStringList order;
    QWidget* w = c.herorankEdit;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && c.TabSheet5->isAncestorOf(w))
            order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != c.herorankEdit);
    EXPECT_EQ(order, (QStringList{"herorankEdit", "herorankSoBtn", "herolist", "herorank_pd", "herorank_pu"}));
}

TEST_F(MainWindowTest, DigitFilterOnExactlyTheNumericBoxes) {
    const std::set<QString> filtered{"role1", "role2", "pet1",  "pet2",  "soul1", "soul2",  "dannum", "Edit1",
                                     "Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit13", "Edit14", "HuaXueDanPrice"};
    int checked = 0;
    for (QLineEdit* box : form->findChildren<QLineEdit*>()) {
        if (box->objectName().isEmpty() || box->isReadOnly())
            continue; // cell editors, output boxes
        dialogs.clear();
        const QString before = box->text();
        QTest::keyClick(box, Qt::Key_A);
        const bool isFiltered = filtered.count(box->objectName()) > 0;
        EXPECT_EQ(dialogs.texts(), isFiltered ? QStringList{QString::fromUtf8("只能输入数字")} : QStringList())
            << box->objectName().toStdString();
        EXPECT_EQ(box->text(), isFiltered ? before : before + QLatin1Char('a')) << box->objectName().toStdString();
        ++checked;
    }
    EXPECT_EQ(checked, int(filtered.size()) + 2); // and the two unfiltered ones: herorankEdit, Edit8

    dialogs.clear();
    QTest::keyClick(find<QTableWidget>("HuaXueStringGrid"), Qt::Key_Period);
    EXPECT_EQ(dialogs.texts().size(), 1);
}

class SimulatorTab : public MainWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(SimulatorTab, OpensTheSimulatorAndReturnsToThePreviousPage) {
    const int previous = GetParam();
    auto* pages = find<QTabWidget>("PageControl1");
    pages->setCurrentIndex(previous);
    const int left = form->x();
    int rightEdgeWhileShown = 0;
    QString simulatorCaption;
    ModalWindowCloser closer([&](QWidget* w) {
        rightEdgeWhileShown = form->frameGeometry().right();
        web.last()->complete(QString::fromUtf8("加点模拟器"));
        simulatorCaption = w->windowTitle();
    });
    pages->setCurrentIndex(3);
    EXPECT_EQ(closer.closedCount(), 1);
    EXPECT_EQ(pages->currentIndex(), previous);
    EXPECT_EQ(form->lastPageIndex(), previous);
    EXPECT_LT(rightEdgeWhileShown, 0); // out of view
    EXPECT_EQ(form->x(), left);
    EXPECT_EQ(simulatorCaption, QString::fromUtf8("new:加点模拟器"));
    EXPECT_EQ(web.navigations().last(), settings.simulatorUrl);
    EXPECT_EQ(visibleTopLevelWindows(), QList<QWidget*>{form.get()});
}

INSTANTIATE_TEST_SUITE_P(FromPage, SimulatorTab, ::testing::Values(0, 1, 2, 4));

TEST_F(MainWindowTest, MenuCommandsOpenLinksAndTheAboutWindow) {
    form->findChild<QAction*>(QStringLiteral("N2"))->trigger();
    form->findChild<QAction*>(QStringLiteral("N31"))->trigger();
    EXPECT_EQ(opener.targets, (QStringList{QStringLiteral("mailto:feedback@example.org"), settings.siteUrl}));
    opener.targets.clear();

    QStringList seen;
    ModalWindowCloser closer([&](QWidget* about) {
        seen << about->windowTitle();
        for (const char* name : {"Label4", "Label1", "Label5"})
            seen << about->findChild<QLabel*>(QLatin1String(name))->text();
        EXPECT_EQ(about->size(), QSize(339, 105));
        QTest::mouseClick(about->findChild<QLabel*>(QStringLiteral("Label4")), Qt::LeftButton);
        QTest::mouseClick(about->findChild<QLabel*>(QStringLiteral("Label5")), Qt::LeftButton);
    });
    form->findChild<QAction*>(QStringLiteral("N3"))->trigger();
    form->findChild<QAction*>(QStringLiteral("N3"))->trigger();
    EXPECT_EQ(closer.closedCount(), 2);
    const QStringList one{QString::fromUtf8("关于"), QString::fromUtf8("Lumora游戏网"),
                          QString::fromUtf8("码农：Pelloq  \\(^o^)/"), QStringLiteral("feedback@example.org")};
    EXPECT_EQ(seen, one + one);
    EXPECT_EQ(opener.targets, (QStringList{settings.siteUrl, QStringLiteral("mailto:feedback@example.org"),
                                           settings.siteUrl, QStringLiteral("mailto:feedback@example.org")}));
    EXPECT_EQ(visibleTopLevelWindows(), QList<QWidget*>{form.get()});
}

TEST_F(MainWindowTest, AboutWindowClosesWithItsButton) {
    bool closedByButton = false;
    ModalWindowCloser closer([&](QWidget* about) {
        QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
        closedByButton = !about->isVisible();
    });
    form->findChild<QAction*>(QStringLiteral("N3"))->trigger();
    EXPECT_TRUE(closedByButton);
}

// The window manager draws its frame only once the main window is on screen.
class MainWindowLateFrameTest : public MainWindowTest {
protected:
    void SetUp() override {
        wm = std::make_unique<WindowManagerStandIn>();
        MainWindowTest::SetUp();
    }
    void TearDown() override {
        form.reset();
        wm.reset();
    }
    std::unique_ptr<WindowManagerStandIn> wm;
};

// Mended: the main and About windows were centred before their frame was known, half a title bar low.
TEST_F(MainWindowLateFrameTest, MainAndAboutWindowsCentredOnTheirRealFrame) {
    const QMargins frame(1, 20, 1, 1);
    EXPECT_EQ(form->geometry(), centredClientRect(form->size(), {}, desktopArea()));
    wm->decorate(form.get(), frame);
    const QRect main = form->geometry();
    EXPECT_EQ(main, centredClientRect(form->size(), frame, desktopArea()));

    QRect about;
    ModalWindowCloser closer([&](QWidget* w) { about = w->geometry(); });
    form->findChild<QAction*>(QStringLiteral("N3"))->trigger();
    ASSERT_EQ(closer.closedCount(), 1);
    EXPECT_EQ(about, centredClientRect(QSize(339, 105), frame, main.marginsAdded(frame)));
}

} // namespace
} // namespace qarvia
