#include "update/wizard/TsuUpdaterMessageForm.h"
#include "update/wizard/TsuUpdaterPasswordForm.h"
#include "update/wizard/TsuUpdaterWizardForm.h"
#include "update/wizard/UpdaterWindows.h"

#include "DialogRecorder.h"
#include "ModalWindowCloser.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace qarvia;
using namespace qarvia::update;

namespace {

template <typename T> T* child(QWidget* w, const char* name) {
    T* found = w->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

struct WindowsTest : ::testing::Test {
    void SetUp() override { selectLanguage(wlChineseSimplified); }
    void TearDown() override {
        setModalAnswerer(nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(visibleTopLevelWindows().isEmpty());
    }
};

} // namespace

TEST_F(WindowsTest, WizardLayoutWithAndWithoutFileLocation) {
    struct Case {
        bool hide;
        int fileSizeTop, rateTop, timeTop, barTop, groupTop, groupHeight;
    };
    for (const Case c : {Case{false, 44, 60, 76, 96, 34, 125}, Case{true, 14, 30, 46, 66, 44, 95}}) {
        DialogRecorder dialogs;
        QPointer<TsuUpdaterWizardForm> wizard = new TsuUpdaterWizardForm;
        wizard->ShowWizard({false, c.hide, {}});
        EXPECT_EQ(child<QLineEdit>(wizard, "FileURL")->isVisible(), !c.hide);
        EXPECT_EQ(child<QLabel>(wizard, "LDownloadingFileFrom")->isVisible(), !c.hide);
        // The form's positions, moved below a group title taller than the 13 pixels they leave it (this
        // style's): the title used to cover the first line ("文档大小" with HideFileLocation).
        auto* group = child<QGroupBox>(wizard, "LCurrentFile");
        const int shift = std::max(0, group->contentsRect().top() - 14);
        auto* time = child<QLabel>(wizard, "LEstimatedTime");
        EXPECT_EQ(child<QLabel>(wizard, "LFileSize")->y(), c.fileSizeTop + shift);
        EXPECT_EQ(child<QLabel>(wizard, "LTransferRate")->y(), c.rateTop + shift);
        EXPECT_EQ(time->y(), c.timeTop + shift);
        EXPECT_EQ(child<QProgressBar>(wizard, "ProgressCurrentFile")->y(),
                  std::max(c.barTop, time->y() + time->height() + 4));
        EXPECT_EQ(group->pos(), QPoint(136, c.groupTop));
        EXPECT_EQ(group->width(), 319);
        EXPECT_GE(group->height(), c.groupHeight);
        EXPECT_LT(group->geometry().bottom(), child<QGroupBox>(wizard, "LAllFiles")->y());
        for (const char* name : {"LCurrentFile", "LAllFiles"}) {
            auto* box = child<QGroupBox>(wizard, name);
            for (QWidget* line : box->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                if (!line->isHidden()) {
                    EXPECT_GE(line->y(), box->contentsRect().top()) << name << " " << line->objectName().toStdString();
                }
            }
        }
        EXPECT_EQ(wizard->size(), QSize(463, 281));
        EXPECT_EQ(wizard->windowTitle(), QStringLiteral("软件升级精灵"));
        EXPECT_EQ(child<QLabel>(wizard, "LDownloadingFileFrom")->text(), QStringLiteral("文档下载源"));
        EXPECT_EQ(child<QGroupBox>(wizard, "LCurrentFile")->title(), QStringLiteral(" 当前的文档 "));
        EXPECT_EQ(child<QLabel>(wizard, "AboutLabel")->text(), QStringLiteral(" Updater "));
        EXPECT_FALSE(child<QPushButton>(wizard, "FinishBtn")->isEnabled());
        EXPECT_FALSE(wizard->windowFlags().testFlag(Qt::WindowStaysOnTopHint));

        wizard->setFileURL(QStringLiteral("http://example.test/a.rar"));
        wizard->setFileCounter(3, 3);
        wizard->setFileSize(1536);
        wizard->setProgress(50, 83, 12.25, 3725);
        EXPECT_EQ(child<QLabel>(wizard, "AllDownloading")->text(), QStringLiteral("当前正在下载:3 of 3"));
        EXPECT_EQ(child<QLabel>(wizard, "LFileSize")->text(), QStringLiteral("文档大小:1.5 Kb"));
        EXPECT_EQ(child<QLabel>(wizard, "LEstimatedTime")->text(), QStringLiteral("估计剩余时间: 1:02:05"));
        EXPECT_EQ(child<QProgressBar>(wizard, "ProgressAllFiles")->value(), 83);
        // A burst of blocks within one screen refresh: the last figures show once the refresh is due.
        for (int i = 1; i <= 50; ++i)
            wizard->setProgress(50 + i / 5, 84, 100.0 + i, 60 - i);
        auto* bar = child<QProgressBar>(wizard, "ProgressCurrentFile");
        EXPECT_TRUE(QTest::qWaitFor([&] { return bar->value() == 60; }, 2000));
        EXPECT_EQ(child<QLabel>(wizard, "LEstimatedTime")->text(), QStringLiteral("估计剩余时间: 0:00:10"));
        EXPECT_EQ(child<QLabel>(wizard, "LTransferRate")->text(), QStringLiteral("传输速率:150.0 Kb/s"));
        // 100 % shows at once; the blocks still to come at 100 % are coalesced like any others.
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        wizard->setProgress(100, 100, 200.0, 0);
        EXPECT_EQ(bar->value(), 100);
        auto* rate = child<QLabel>(wizard, "LTransferRate");
        EXPECT_EQ(rate->text(), QStringLiteral("传输速率:200.0 Kb/s"));
        wizard->setProgress(100, 100, 300.0, 0);
        if (sinceFirst.elapsed() < 10) { // not when a busy machine held this thread up for a refresh
            EXPECT_EQ(rate->text(), QStringLiteral("传输速率:200.0 Kb/s"));
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return rate->text() == QStringLiteral("传输速率:300.0 Kb/s"); }, 2000));
        wizard->release();
        EXPECT_TRUE(dialogs.requests().empty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(wizard.isNull());
    }
}

TEST_F(WindowsTest, ClosingTheWizardAsksAndCancelsOnlyOnYes) {
    DialogRecorder dialogs;
    auto* wizard = new TsuUpdaterWizardForm;
    wizard->ShowWizard({true, true, {}});
    EXPECT_TRUE(wizard->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QSignalSpy cancelled(wizard, &TsuUpdaterWizardForm::cancelConfirmed);
    QSignalSpy closed(wizard, &TsuUpdaterWizardForm::wizardClosed);

    dialogs.enqueue(mbNo);
    QTest::mouseClick(child<QPushButton>(wizard, "CancelBtn"), Qt::LeftButton);
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(cancelled.count(), 0);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].text, QStringLiteral("升级操作尚未完成，\n您确定要放弃升级吗？"));
    EXPECT_EQ(dialogs.requests()[0].caption, applicationTitle());
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Question);
    EXPECT_EQ(dialogs.requests()[0].buttons, mbYes | mbNo);

    dialogs.enqueue(mbYes);
    wizard->close(); // the close box
    EXPECT_EQ(cancelled.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(dialogs.requests().size(), 2u);
}

TEST_F(WindowsTest, FinishPageClosesWithoutAsking) {
    DialogRecorder dialogs;
    auto* wizard = new TsuUpdaterWizardForm;
    wizard->ShowWizard({false, true, {}});
    QSignalSpy cancelled(wizard, &TsuUpdaterWizardForm::cancelConfirmed);
    QSignalSpy closed(wizard, &TsuUpdaterWizardForm::wizardClosed);
    wizard->ShowWizardFinish();
    EXPECT_TRUE(wizard->isFinishPage());
    EXPECT_FALSE(child<QPushButton>(wizard, "CancelBtn")->isEnabled());
    auto* finish = child<QPushButton>(wizard, "FinishBtn");
    EXPECT_TRUE(finish->isEnabled());
    EXPECT_EQ(finish->text(), QStringLiteral("[&O]确定"));
    EXPECT_EQ(child<QLabel>(wizard, "WizardTitle")->text(), QStringLiteral("升级完成！"));
    EXPECT_EQ(child<QLabel>(wizard, "AfterNote")->text(),
              applicationTitle() + QStringLiteral(" 已经升级完成，\n\n请按[确定]键重新启动程序"));
    EXPECT_FALSE(child<QGroupBox>(wizard, "LCurrentFile")->isVisible());
    QTest::mouseClick(finish, Qt::LeftButton);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(cancelled.count(), 0);
    EXPECT_TRUE(dialogs.requests().empty());
}

TEST_F(WindowsTest, QuestionWindow) {
    struct Case {
        QString message;
        QString text;
        bool answer;
    };
    const QString title = applicationTitle();
    const Case cases[] = {
        {QString(), title + QStringLiteral("已经有新版本推出，\n\n您要升级到新版本吗？"), true},
        {QStringLiteral("1、增加Qarvia英雄榜查询功能"),
         title + QStringLiteral("已经有新版本推出，\n\n1、增加Qarvia英雄榜查询功能\n\n您要升级到新版本吗？"), false},
    };
    for (const auto& c : cases) {
        QString shown;
        bool topmost = false;
        int height = 0;
        setModalAnswerer([&](QDialog& window) {
            shown = child<QLabel>(&window, "Label1")->text();
            topmost = window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            EXPECT_EQ(window.windowTitle(), QStringLiteral("软件升级精灵"));
            EXPECT_EQ(child<QPushButton>(&window, "LaterBtn")->text(), QStringLiteral("[&L]稍等一下"));
            EXPECT_EQ(child<QLabel>(&window, "Label1")->width(), 318 - 45 - 11);
            height = window.height();
            EXPECT_EQ(height, 5 + child<QLabel>(&window, "Label1")->height() + 45);
            return c.answer ? QDialog::Accepted : QDialog::Rejected;
        });
        EXPECT_EQ(TsuUpdaterMessageForm::AskUpgrade(c.message), c.answer);
        EXPECT_EQ(shown, c.text);
        EXPECT_TRUE(topmost);
    }
}

TEST_F(WindowsTest, PasswordWindowStoresOnlyOnOk) {
    for (const bool ok : {false, true}) {
        std::string user = "old-user", password = "old-password";
        setModalAnswerer([&](QDialog& window) {
            EXPECT_EQ(child<QLabel>(&window, "Label1")->text(),
                      QStringLiteral(
                          "远端的文档\"setup.exe\"被密码保护，\n\n请输入您的帐号及密码[注册用户]来继续进行升级操作。"));
            EXPECT_EQ(child<QLineEdit>(&window, "UsernameEdit")->text(), QStringLiteral("old-user"));
            auto* pass = child<QLineEdit>(&window, "PasswordEdit");
            EXPECT_TRUE(pass->text().isEmpty());
            EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
            child<QLineEdit>(&window, "UsernameEdit")->setText(QStringLiteral("alice"));
            pass->setText(QStringLiteral("s3cret"));
            return ok ? QDialog::Accepted : QDialog::Rejected;
        });
        EXPECT_EQ(TsuUpdaterPasswordForm::AskLogin("setup.exe", user, password), ok);
        EXPECT_EQ(user, ok ? "alice" : "old-user");
        EXPECT_EQ(password, ok ? "s3cret" : "old-password");
    }
}

TEST_F(WindowsTest, LostFileQuestion) {
    DialogRecorder dialogs;
    dialogs.enqueue(mbYes);
    EXPECT_TRUE(askSkipLostFile("b.dat", 404));
    dialogs.enqueue(mbNo);
    EXPECT_FALSE(askSkipLostFile("b.dat", 403));
    ASSERT_EQ(dialogs.requests().size(), 2u);
    EXPECT_EQ(dialogs.requests()[0].caption, QStringLiteral("错误 #404"));
    EXPECT_EQ(dialogs.requests()[1].caption, QStringLiteral("错误 #403"));
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(dialogs.requests()[0].text,
              QStringLiteral("文档b.dat找不到或者发生错误，\n\n您要忽略这个文档并且继续升级操作吗？"));
}

// The update windows used to leave their frame to the window manager's defaults (some offer to maximise a
// fixed-size dialog), and the update's boxes labelled their buttons in Chinese whatever the wizard spoke.
TEST_F(WindowsTest, FramesAndBoxButtonsFollowTheUpdate) {
    std::vector<Qt::WindowFlags> frames;
    setModalAnswerer([&](QDialog& window) {
        frames.push_back(window.windowFlags());
        return int(QDialog::Rejected);
    });
    TsuUpdaterMessageForm::AskUpgrade(QString());
    std::string user, password;
    TsuUpdaterPasswordForm::AskLogin("a.rar", user, password);
    auto* wizard = new TsuUpdaterWizardForm;
    frames.push_back(wizard->windowFlags());
    delete wizard;
    ASSERT_EQ(frames.size(), 3u);
    for (const Qt::WindowFlags flags : frames) {
        EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
        EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
        EXPECT_FALSE(flags.testAnyFlags(Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint));
    }

    selectLanguage(wlEnglish);
    {
        DialogRecorder dialogs;
        showUpdateMessage(QStringLiteral("x"), MessageIcon::Error);
        askSkipLostFile("a.rar", 404);
        ASSERT_EQ(dialogs.requests().size(), 2u);
        for (const auto& r : dialogs.requests()) {
            EXPECT_EQ(r.buttonTexts.at(mbOk), QStringLiteral("&OK"));
            EXPECT_EQ(r.buttonTexts.at(mbYes), QStringLiteral("&Yes"));
            EXPECT_EQ(r.buttonTexts.at(mbNo), QStringLiteral("&No"));
        }
    }
    // The real box shows them.
    QStringList labels;
    ModalWindowCloser closer([&](QWidget* w) {
        for (auto* button : w->findChildren<QPushButton*>())
            labels << button->text();
    });
    askSkipLostFile("a.rar", 404);
    labels.sort();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("&No"), QStringLiteral("&Yes")}));
}
