// TsuUpdater against scripted loopback servers: the check and its outcomes, the download sequence with
// the wizard, and the automatic-check timer.

#include "update/TsuUpdater.h"

#include "DialogRecorder.h"
#include "ScriptedServer.h"
#include "SignUpdate.h"
#include "ui/ShellOpen.h"
#include "update/stub/InstallJournal.h"
#include "update/wizard/UpdaterWindows.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace qarvia;
using namespace qarvia::update;
using qarvia::test::ScriptedServer;
using Step = ScriptedServer::Step;
namespace fs = std::filesystem;
using M = TsuUpdaterShowMessage;

namespace {

std::string response(const std::string& status, const std::string& body, const std::string& extra = {}) {
    return "HTTP/1.1 " + status + "\r\n" + extra + "Content-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> downloadsIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".uTMP"))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct ShellRecorder : ShellOpener {
    ShellRecorder() { setShellOpener(this); }
    ~ShellRecorder() override { setShellOpener(nullptr); }
    bool open(const QString& target) override {
        opened << target;
        return true;
    }
    QStringList opened;
};

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("qarvia-updater-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        TsuUpdater::setConnectivityTest([] { return true; });
        TsuUpdater::setStubPath((dir / "no-such-folder" / "qarvia-update-stub").string());
        updater = std::make_unique<TsuUpdater>();
        updater->ProgramFileName = (dir / "qarvia-toolbox").string();
        std::ofstream(updater->ProgramFileName) << "program";
        updater->VersionControl = TsuUpdaterVersionControl::byNumber;
        updater->VersionNumber = "v1.1";
        updater->setWizardLanguage(wlChineseSimplified);
        updater->Wizard.StayOnTop = false;
        updater->OnNoUpdateAvailable = [this](TsuUpdater&) { log.push_back("no update"); };
        updater->OnNoInfoFile = [this](TsuUpdater&) { log.push_back("no info file"); };
        updater->OnLaterUpgrade = [this](TsuUpdater&) { log.push_back("later"); };
        updater->OnConnLost = [this](TsuUpdater&) { log.push_back("connection lost"); };
        updater->OnAborted = [this](TsuUpdater&) { log.push_back("aborted"); };
        updater->OnHostUnreachable = [this](TsuUpdater&, const std::string&, const std::string& host) {
            log.push_back("unreachable " + host);
        };
        updater->OnFileDone = [this](TsuUpdater&, const std::string& name) {
            log.push_back("done " + fs::path(name).filename().string());
        };
        updater->OnLostFile = [this](TsuUpdater&, const std::string& url, int code, bool&) {
            log.push_back("lost " + FileNamePartOfURL(url) + " " + std::to_string(code));
        };
    }
    void TearDown() override {
        setModalAnswerer(nullptr);
        updater.reset();
        TsuUpdater::setConnectivityTest(nullptr);
        TsuUpdater::setStubPath({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        fs::remove_all(dir);
    }

    std::string info(const std::string& files, const std::string& extra = {}) {
        return "#version=v1.2\r\n" + files + extra + "#message={1、增加Qarvia英雄榜查询功能}\r\n";
    }
    bool settled() { return !updater->Active(); }

    fs::path dir;
    std::unique_ptr<TsuUpdater> updater;
    std::vector<std::string> log;
};

} // namespace

TEST_F(UpdaterTest, CheckOutcomes) {
    struct Case {
        const char* name;
        std::vector<Step> script; // the information file, then nothing else
        TsuUpdaterShowMessages messages;
        bool silent;
        std::vector<std::string> log;
        QString text; // "" = no message box
        MessageIcon icon;
    };
    const auto all = TsuUpdaterShowMessages::fromBits(0x7F) - M::mAskUpgrade;
    std::vector<Case> cases = {
        {"same version",
         {Step::answer(response("200 OK", "#version=v1.1\n#url=http://h/a.rar\n"))},
         all,
         false,
         {"no update"},
         QStringLiteral("没有发现新的版本，您目前已经是最新版本。"),
         MessageIcon::Information},
        {"newer without files",
         {Step::answer(response("200 OK", "#version=v1.2\n"))},
         all,
         false,
         {"no update"},
         QStringLiteral("没有发现新的版本，您目前已经是最新版本。"),
         MessageIcon::Information},
        {"silent, same version",
         {Step::answer(response("200 OK", "#version=v1.1\n"))},
         all,
         true,
         {"no update"},
         {},
         MessageIcon::None},
        {"missing",
         {Step::answer(response("404 Not Found", "gone"))},
         all,
         false,
         {"no info file"},
         QStringLiteral("在服务器中无法找到升级的相关信息。"),
         MessageIcon::Error},
        {"missing, quiet",
         {Step::answer(response("404 Not Found", "gone"))},
         DefaultShowMessages,
         false,
         {"no info file"},
         {},
         MessageIcon::None},
        {"short body",
         {Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n#version=v1.2")},
         all,
         false,
         {"connection lost"},
         QStringLiteral("与远端服务器的连接中断，\n\n请重新连接后再进行升级操作。"),
         MessageIcon::Error},
        {"unreachable",
         {},
         all,
         false,
         {"unreachable 127.0.0.1"},
         QStringLiteral("无法与服务器http://127.0.0.1连接。\n\n请检查您的internet设定之后再进行升级操作。"),
         MessageIcon::Error},
        {"unreachable, silent", {}, all, true, {"unreachable 127.0.0.1"}, {}, MessageIcon::None},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        DialogRecorder dialogs;
        std::unique_ptr<ScriptedServer> server;
        std::string url;
        if (c.script.empty()) {
            ScriptedServer closed;
            url = closed.url("/upt.inf");
        } else {
            server = std::make_unique<ScriptedServer>(c.script);
            url = server->url("/upt.inf?d=42");
        }
        updater->ShowMessages = c.messages;
        updater->InfoFileURL = url;
        updater->setAutoCheck(c.silent);
        updater->AutoCheckFired = c.silent;
        updater->BeginUpdateCheck();
        updater->SilentCheck = c.silent;
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
        EXPECT_EQ(log, c.log);
        if (c.text.isEmpty()) {
            EXPECT_TRUE(dialogs.requests().empty());
        } else {
            ASSERT_EQ(dialogs.requests().size(), 1u);
            EXPECT_EQ(dialogs.requests()[0].text, c.text);
            EXPECT_EQ(dialogs.requests()[0].caption, QStringLiteral("软件升级精灵"));
            EXPECT_EQ(dialogs.requests()[0].icon, c.icon);
        }
        if (server) {
            ASSERT_TRUE(server->waitForFinished(1));
            // The information file always bypasses caches.
            EXPECT_NE(server->request(0).find("Pragma: no-cache"), std::string::npos) << server->request(0);
        }
        if (c.silent && c.script.empty()) {
            // A silent check that found no host tries again after the delay.
            EXPECT_FALSE(updater->AutoCheckFired);
            EXPECT_FALSE(QAbstractEventDispatcher::instance()->registeredTimers(updater.get()).isEmpty());
        }
        updater->setAutoCheck(false);
    }
}

TEST_F(UpdaterTest, TheUserDecides) {
    struct Case {
        const char* name;
        std::string infoFile;
        bool canUpgrade; // what OnBeginUpgrade answers
        int answer;      // the question window's answer
        std::vector<std::string> log;
        QStringList opened;
    };
    const Case cases[] = {
        {"later", info("#url=http://h/a.rar\n"), true, QDialog::Rejected, {"begin", "later"}, {}},
        {"refused by the owner", info("#url=http://h/a.rar\n"), false, QDialog::Accepted, {"begin", "later"}, {}},
        {"redirect",
         info("#url=www.example.test/download\n", "#method=2x\n"),
         true,
         QDialog::Accepted,
         {"begin"},
         {QStringLiteral("http://www.example.test/download")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        ShellRecorder shell;
        ScriptedServer server({Step::answer(response("200 OK", c.infoFile))});
        QString asked;
        int questions = 0;
        setModalAnswerer([&](QDialog& window) {
            ++questions;
            asked = window.findChild<QLabel*>(QStringLiteral("Label1"))->text();
            return c.answer;
        });
        updater->OnBeginUpgrade = [&](TsuUpdater&, const std::string& message, TsuUpgradeMethod,
                                      const std::vector<std::string>& files, bool& canUpgrade) {
            log.push_back("begin");
            EXPECT_EQ(message, "1、增加Qarvia英雄榜查询功能");
            EXPECT_EQ(files.size(), 1u);
            canUpgrade = c.canUpgrade;
        };
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
        processEventsUntil([] { return false; }, 50);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(questions, c.canUpgrade ? 1 : 0);
        if (c.canUpgrade) {
            EXPECT_TRUE(asked.contains(QStringLiteral("\n1、增加Qarvia英雄榜查询功能\n"))) << asked.toStdString();
        }
        EXPECT_EQ(shell.opened, c.opened);
        EXPECT_TRUE(downloadsIn(dir).empty());
    }
}

TEST_F(UpdaterTest, DownloadsWithALostFileSkippedThenRestartDeclined) {
    const std::string one(10000, '1'), three(5000, '3');
    ScriptedServer server;
    server.addStep(
        Step::answer(response("200 OK", info("#url=" + server.url("/one.rar") + "\n#url0=" + server.url("/two.dat") +
                                             "\n#url3=" + server.url("/three.txt") + "\n"))));
    server.addStep(Step::answer(response("200 OK", one, "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n")));
    server.addStep(Step::answer(response("404 Not Found", "")));
    server.addStep(Step::answer(response("200 OK", three)));

    DialogRecorder dialogs;
    dialogs.enqueue(mbYes); // skip the lost file
    setModalAnswerer([](QDialog&) { return QDialog::Accepted; });
    std::vector<int> totals;
    QStringList counters;
    updater->OnProgress = [&](TsuUpdater& u, const std::string&, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                              std::uint8_t, std::uint8_t total, float) {
        totals.push_back(total);
        counters << u.WizardForm()->findChild<QLabel*>(QStringLiteral("AllDownloading"))->text();
    };
    bool finishShown = false;
    updater->OnFileDone = [&](TsuUpdater& u, const std::string& name) {
        log.push_back("done " + fs::path(name).filename().string());
        if (u.CurrentFileIndex == 2) {
            // The finish page follows the last file; press its button as soon as it shows.
            QTimer::singleShot(0, [&] {
                auto* finish = u.WizardForm()->findChild<QPushButton*>(QStringLiteral("FinishBtn"));
                finishShown = finish->isEnabled();
                finish->click();
            });
        }
    };
    updater->OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
        log.push_back("end");
        restart = false;
    };
    updater->InfoFileURL = server.url("/upt.inf");
    updater->BeginUpdateCheck();
    ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && log.back() == "end"; }));
    EXPECT_EQ(log, (std::vector<std::string>{"done one.rar.uTMP", "lost two.dat 404", "done three.txt.uTMP", "end"}));
    EXPECT_TRUE(finishShown);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].caption, QStringLiteral("错误 #404"));
    EXPECT_EQ(downloadsIn(dir), (std::vector<std::string>{"one.rar.uTMP", "three.txt.uTMP"}));
    EXPECT_EQ(readFile(dir / "one.rar.uTMP"), one);
    EXPECT_EQ(readFile(dir / "three.txt.uTMP"), three);
    // Last-Modified became the file's time, to two seconds.
    const auto written = fs::last_write_time(dir / "one.rar.uTMP");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::file_clock::to_sys(written).time_since_epoch())
            .count();
    EXPECT_EQ(seconds, 784111776);
    // The third of three files at 100 %: round(2 * 100 / 3) + 100 div 3.
    ASSERT_FALSE(totals.empty());
    EXPECT_LE(totals.front(), 33);
    EXPECT_EQ(totals.back(), 67 + 100 / 3);
    EXPECT_EQ(counters.back(), QStringLiteral("当前正在下载:3 of 3"));
    EXPECT_TRUE(updater->UpgradeFinished);
}

TEST_F(UpdaterTest, CancelInTheWizardRemovesEveryDownload) {
    const std::string big(400000, 'x');
    ScriptedServer server;
    server.addStep(Step::answer(
        response("200 OK", info("#url=" + server.url("/a.bin") + "\n#url0=" + server.url("/b.bin") + "\n"))));
    server.addStep(Step::answer(response("200 OK", "first file")));
    server.addStep(Step::slowDrip(response("200 OK", big), 4096, std::chrono::milliseconds(20)));
    std::ofstream(dir / "stale.dll.uTMP") << "left from an earlier run";

    DialogRecorder dialogs;
    dialogs.enqueue(mbYes); // yes, abort
    setModalAnswerer([](QDialog&) { return QDialog::Accepted; });
    bool closing = false;
    updater->OnProgress = [&](TsuUpdater& u, const std::string& url, std::int64_t, std::int64_t, std::int64_t,
                              std::int64_t, std::uint8_t, std::uint8_t, float) {
        if (!closing && url.ends_with("b.bin")) {
            closing = true;
            QTimer::singleShot(0, [&u] { u.WizardForm()->close(); });
        }
    };
    updater->InfoFileURL = server.url("/upt.inf");
    updater->BeginUpdateCheck();
    ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && log.back() == "aborted" && settled(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"done a.bin.uTMP", "aborted"}));
    EXPECT_TRUE(updater->Aborted);
    EXPECT_TRUE(downloadsIn(dir).empty());
    EXPECT_EQ(updater->WizardForm(), nullptr);
}

// The question used to run its own event loop under whatever completed meanwhile: the finish page's OK
// stopped working, Yes did not abort, and the late cancel deleted the download the stub was to install.
// Driven through the real message box and its nested event loop, not the dialogs seam's instant answer.
TEST_F(UpdaterTest, AbortQuestionDecidesWhateverCompletesWhileItIsOpen) {
    struct Case {
        const char* name;
        bool fails; // the download ends short while the question is open
        bool abort; // the answer
        std::vector<std::string> log;
        std::vector<std::string> downloads;
        QStringList otherBoxes;
    };
    const QString connLost = QStringLiteral("与远端服务器的连接中断，\n\n请重新连接后再进行升级操作。");
    const Case cases[] = {
        {"completes, Yes", false, true, {"done a.bin.uTMP", "aborted"}, {}, {}},
        {"completes, No", false, false, {"done a.bin.uTMP", "end"}, {"a.bin.uTMP"}, {}},
        {"fails, Yes", true, true, {"aborted"}, {}, {}},
        {"fails, No", true, false, {"connection lost"}, {}, {connLost}},
    };
    const std::string body(40000, 'a');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        ScriptedServer server;
        server.addStep(Step::answer(response("200 OK", info("#url=" + server.url("/a.bin") + "\n"))));
        const std::string reply = c.fails ? "HTTP/1.1 200 OK\r\nContent-Length: 80000\r\n\r\n" + body
                                          : response("200 OK", body);
        server.addStep(Step::slowDrip(reply, 4096, std::chrono::milliseconds(30)));
        setModalAnswerer([](QDialog&) { return int(QDialog::Accepted); }); // "update now?" Yes
        updater->OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
            log.push_back("end");
            restart = false;
        };
        bool closing = false;
        updater->OnProgress = [&](TsuUpdater& u, const std::string&, std::int64_t, std::int64_t, std::int64_t,
                                  std::int64_t, std::uint8_t, std::uint8_t, float) {
            if (!closing) {
                closing = true;
                QTimer::singleShot(0, [&u] { u.WizardForm()->close(); }); // the close box
            }
        };
        // The user: answers the question once the download has ended, OKs any other box, presses the
        // finish page's OK.
        QString yesLabel;
        QStringList otherBoxes;
        bool answered = false;
        QTimer user;
        QObject::connect(&user, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                if (box->icon() == QMessageBox::Question) {
                    const bool ended = !log.empty() || !updater->Active();
                    if (ended && !answered) {
                        answered = true;
                        yesLabel = box->button(QMessageBox::Yes)->text();
                        QTest::mouseClick(box->button(c.abort ? QMessageBox::Yes : QMessageBox::No), Qt::LeftButton);
                    }
                } else {
                    otherBoxes << box->text();
                    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
                }
            } else if (TsuUpdaterWizardForm* wizard = updater->WizardForm(); wizard && wizard->isFinishPage()) {
                QTest::mouseClick(wizard->findChild<QPushButton*>(QStringLiteral("FinishBtn")), Qt::LeftButton);
            }
        });
        user.start(10);
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        ASSERT_TRUE(processEventsUntil([&] {
            return log.size() >= c.log.size() && settled() && !QApplication::activeModalWidget() &&
                   !(updater->WizardForm() && updater->WizardForm()->isVisible());
        }));
        processEventsUntil([] { return false; }, 50);
        user.stop();
        EXPECT_TRUE(answered);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(downloadsIn(dir), c.downloads);
        EXPECT_EQ(otherBoxes, c.otherBoxes);
        EXPECT_EQ(updater->Aborted, c.abort);
        EXPECT_FALSE(updater->Restarting); // the program keeps running
        EXPECT_EQ(yesLabel, QStringLiteral("[&Y]是")); // the wizard's language, not the system's
        updater->DeletePartialDownloads();
    }
}

TEST_F(UpdaterTest, OnlyFilesOfADifferentSizeAreDownloaded) {
    std::ofstream(dir / "same.dat") << std::string(300, 's');
    std::ofstream(dir / "other.dat") << std::string(10, 'o');
    ScriptedServer server;
    server.addStep(
        Step::answer(response("200 OK", info("#url=" + server.url("/same.dat") + "\n#url0=" + server.url("/other.dat") +
                                             "\n#url3=" + server.url("/qarvia-toolbox") + "\n"))));
    server.addStep(Step::answer(response("200 OK", std::string(300, 'S'))));
    server.addStep(Step::answer(response("200 OK", std::string(300, 'O'))));
    server.addStep(Step::answer(response("200 OK", std::string(7, 'P')))); // the program: same size, still fetched
    std::ofstream(updater->ProgramFileName, std::ios::trunc) << "program";
    updater->MiscFilesUpgrade = TsuMiscFilesUpgradeBehavior::mfuOnlyIfSizeDifferent;
    updater->Wizard.Enabled = false;
    updater->ShowMessages = {};
    std::vector<std::string> started;
    updater->OnFileStart = [&](TsuUpdater&, const std::string& url, std::int32_t size, std::int64_t, bool& can) {
        started.push_back(FileNamePartOfURL(url) + (can ? " yes " : " no ") + std::to_string(size));
    };
    updater->OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
        log.push_back("end");
        restart = false;
    };
    updater->InfoFileURL = server.url("/upt.inf");
    updater->BeginUpdateCheck();
    ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && log.back() == "end"; }));
    EXPECT_EQ(started, (std::vector<std::string>{"same.dat no 300", "other.dat yes 300", "qarvia-toolbox yes 7"}));
    EXPECT_EQ(downloadsIn(dir), (std::vector<std::string>{"other.dat.uTMP", "qarvia-toolbox.uTMP"}));
}

TEST_F(UpdaterTest, PasswordWindowRetriesOrCancels) {
    for (const bool ok : {true, false}) {
        SCOPED_TRACE(ok);
        log.clear();
        ScriptedServer server;
        server.addStep(Step::answer(response("200 OK", info("#url=" + server.url("/private/setup.exe?t=1") + "\n"))));
        server.addStep(Step::answer(response("401 Unauthorized", "", "WWW-Authenticate: Basic realm=\"members\"\r\n")));
        server.addStep(Step::answer(response("200 OK", "setup")));
        DialogRecorder dialogs;
        std::string realm;
        updater->OnPasswordRequest = [&](TsuUpdater&, const std::string& r, bool&) { realm = r; };
        updater->Wizard.Enabled = false;
        updater->OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
            log.push_back("end");
            restart = false;
        };
        setModalAnswerer([&](QDialog& window) {
            if (window.objectName() != QStringLiteral("TsuUpdaterPasswordForm"))
                return int(QDialog::Accepted);
            EXPECT_TRUE(
                window.findChild<QLabel*>(QStringLiteral("Label1"))->text().contains(QStringLiteral("\"setup.exe\"")));
            window.findChild<QLineEdit*>(QStringLiteral("UsernameEdit"))->setText(QStringLiteral("user"));
            window.findChild<QLineEdit*>(QStringLiteral("PasswordEdit"))->setText(QStringLiteral("pass"));
            return ok ? int(QDialog::Accepted) : int(QDialog::Rejected);
        });
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
        EXPECT_EQ(realm, "members");
        if (ok) {
            EXPECT_EQ(log, (std::vector<std::string>{"done setup.exe.uTMP", "end"}));
            EXPECT_EQ(updater->HTTPUsername, "user");
            ASSERT_TRUE(server.waitForFinished(3));
            EXPECT_NE(server.request(2).find("Authorization: Basic dXNlcjpwYXNz"), std::string::npos);
        } else {
            EXPECT_EQ(log, std::vector<std::string>{"aborted"});
        }
        updater->HTTPUsername.clear();
        updater->HTTPPassword.clear();
    }
}

TEST_F(UpdaterTest, StubThatCannotBeWrittenKeepsTheProgramRunning) {
    std::ofstream(dir / "data.rar.uTMP") << "complete download";
    DialogRecorder dialogs;
    bool closed = false;
    updater->OnDoOwnCloseAppMethod = [&](TsuUpdater&) { closed = true; };
    updater->UpgradeFinished = true;
    EXPECT_FALSE(updater->RestartWithParams());
    EXPECT_FALSE(closed);
    EXPECT_FALSE(updater->Restarting);
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_TRUE(dialogs.requests()[0].text.startsWith(QStringLiteral("无法应用本次升级：")))
        << dialogs.requests()[0].text.toStdString();
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Error);
    EXPECT_EQ(downloadsIn(dir), std::vector<std::string>{"data.rar.uTMP"});
}

TEST_F(UpdaterTest, AutomaticCheckTimer) {
    auto interval = [&]() -> int {
        const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(updater.get());
        return timers.isEmpty() ? -1 : timers.first().interval;
    };
    // The main window's stored order: the timer is armed with the delay current when AutoCheck turned on.
    updater->setAutoCheck(true);
    updater->AutoCheckDelay = 86400;
    EXPECT_EQ(interval(), 10000);
    updater->setAutoCheck(false);
    EXPECT_EQ(interval(), -1);

    // Not connected: the timer keeps running and nothing is fetched.
    bool connected = false;
    TsuUpdater::setConnectivityTest([&] { return connected; });
    ScriptedServer server({Step::answer(response("200 OK", "#version=v1.0\n"))});
    updater->InfoFileURL = server.url("/upt.inf");
    updater->AutoCheckDelay = 20;
    updater->setAutoCheck(true);
    processEventsUntil([] { return false; }, 100);
    EXPECT_EQ(server.connectionCount(), 0u);
    EXPECT_EQ(interval(), 20);

    connected = true;
    ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
    EXPECT_EQ(log, std::vector<std::string>{"no update"});
    EXPECT_TRUE(updater->AutoCheckFired);
    EXPECT_TRUE(updater->SilentCheck);
    EXPECT_EQ(interval(), -1); // fired once, not re-armed
    EXPECT_EQ(server.connectionCount(), 1u);

    // A thread without an event loop has no timers to give.
    std::string error;
    std::thread([&] {
        TsuUpdater orphan;
        try {
            orphan.setAutoCheck(true);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }).join();
    EXPECT_EQ(error, "Not enough timers available");
}

TEST_F(UpdaterTest, SettingsAndRestartArgument) {
    EXPECT_EQ(updater->RestartParams(), "/afterupgrade");
    EXPECT_EQ(updater->AutoCheckDelay, 10000);
    EXPECT_EQ(updater->ShowMessages.toBits(), 75u);
    EXPECT_EQ(updater->InfoFileURL, "http://");
    EXPECT_EQ(updater->TransferBufferSize(), 4096);

    struct Case {
        std::string restartParams;
        QStringList arguments;
        bool fires;
    };
    const Case cases[] = {
        {"/afterupgrade", {"app", "/afterupgrade"}, true},
        {"/afterupgrade", {"app", "/AfterUpgrade"}, false},
        {"/afterupgrade", {"app"}, false},
        {"/afterupgrade", {"app", "x", "/afterupgrade"}, false},
        {"", {"app", " "}, true}, // an empty setting holds one blank
    };
    for (const auto& c : cases) {
        int fired = 0;
        updater->setRestartParams(c.restartParams);
        updater->OnAfterRestart = [&](TsuUpdater&) { ++fired; };
        updater->Loaded(c.arguments);
        EXPECT_EQ(fired, c.fires ? 1 : 0) << c.arguments.join(',').toStdString();
    }

    updater->HTTPUsername = "alice";
    updater->HTTPPassword = "secret";
    const std::string record = updater->LInfo();
    TsuUpdater other;
    EXPECT_TRUE(other.setLInfo(record));
    EXPECT_EQ(other.HTTPUsername, "alice");
    EXPECT_EQ(other.HTTPPassword, "secret");
    EXPECT_FALSE(other.setLInfo("\x09garbage"));
    EXPECT_EQ(other.HTTPUsername, "alice");
}

TEST_F(UpdaterTest, FileThatEndsShortNeverStaysForTheStub) {
    ScriptedServer server;
    server.addStep(Step::answer(response("200 OK", info("#url=" + server.url("/data.rar") + "\n"))));
    server.addStep(Step::answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\nonly a part"));
    DialogRecorder dialogs;
    setModalAnswerer([](QDialog&) { return int(QDialog::Accepted); });
    bool ended = false;
    updater->OnEndUpgrade = [&](TsuUpdater&, bool&) { ended = true; };
    updater->InfoFileURL = server.url("/upt.inf");
    updater->BeginUpdateCheck();
    ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
    processEventsUntil([] { return false; }, 50);
    EXPECT_EQ(log, std::vector<std::string>{"connection lost"});
    EXPECT_FALSE(ended);
    EXPECT_TRUE(downloadsIn(dir).empty());
    EXPECT_EQ(updater->WizardForm(), nullptr); // the wizard closed with the transfer
    ASSERT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Error);
}

// A download that could not be stored used to be reported as a lost connection.
TEST_F(UpdaterTest, RefusedWriteIsReportedWithTheFileAndTheSystemsReason) {
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> spoil; // makes the download's name refuse writing
        int error;
    };
    const Case cases[] = {
        {"full disk", [](const fs::path& p) { fs::create_symlink("/dev/full", p); }, ENOSPC},
        {"a folder in the way", [](const fs::path& p) { fs::create_directory(p); }, EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        ScriptedServer server;
        server.addStep(Step::answer(response("200 OK", info("#url=" + server.url("/data.rar") + "\n"))));
        server.addStep(Step::answer(response("200 OK", std::string(20000, 'd'))));
        DialogRecorder dialogs;
        setModalAnswerer([](QDialog&) { return int(QDialog::Accepted); });
        const fs::path download = dir / "data.rar.uTMP";
        // After the leftovers of earlier updates were cleared, before the body is stored.
        updater->OnFileStart = [&](TsuUpdater&, const std::string&, std::int32_t, std::int64_t, bool&) {
            c.spoil(download);
        };
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
        ASSERT_EQ(dialogs.requests().size(), 1u);
        EXPECT_EQ(dialogs.requests()[0].text,
                  QStringLiteral("无法写入文件 %1：%2\n\n升级已停止。请清理磁盘空间或允许写入程序所在的文件夹，然后再试一次。")
                      .arg(QString::fromStdString(download.string()), QString::fromLocal8Bit(std::strerror(c.error))));
        EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Error);
        EXPECT_FALSE(fs::exists(fs::symlink_status(download)));
        EXPECT_TRUE(!updater->WizardForm() || !updater->WizardForm()->isVisible());
    }
}

TEST_F(UpdaterTest, StartUpFinishesAnInterruptedInstallationAndKeepsTheOptions) {
    const fs::path program = updater->ProgramFileName;
    std::ofstream(dir / "data.rar") << "new data"; // put in place before the stub was killed
    std::ofstream(dir / "data.rar.uOLD") << "old data";
    std::string error;
    ASSERT_TRUE(stub::InstallJournal::begin(program, {{dir / "data.rar.uTMP", dir / "data.rar", dir / "data.rar.uOLD"}},
                                            error))
        << error;
    DialogRecorder dialogs;
    bool restarted = false;
    updater->OnAfterRestart = [&](TsuUpdater&) { restarted = true; };
    updater->Loaded({"qarvia-toolbox", "--update-url", "http://127.0.0.1:1/u.inf", "--rank-url", "http://x"});
    EXPECT_FALSE(restarted);
    EXPECT_EQ(readFile(dir / "data.rar"), "old data");
    EXPECT_EQ(readFile(dir / "data.rar.uTMP"), "new data");
    EXPECT_FALSE(fs::exists(dir / "data.rar.uOLD"));
    ASSERT_EQ(dialogs.texts(), QStringList{QStringLiteral("上次升级没有完成。\n\n已恢复为原来的版本；已下载的文件会保留到下次再试。")});
    EXPECT_EQ(dialogs.requests()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(updater->RestartArguments,
              (std::vector<std::string>{"--update-url", "http://127.0.0.1:1/u.inf", "--rank-url", "http://x"}));

    // The restart argument itself is not kept, what follows it is; nothing more to tell.
    updater->Loaded({"qarvia-toolbox", "/afterupgrade", "--update-url", "http://127.0.0.1:1/u.inf"});
    EXPECT_TRUE(restarted);
    EXPECT_EQ(dialogs.requests().size(), 1u);
    EXPECT_EQ(updater->RestartArguments, (std::vector<std::string>{"--update-url", "http://127.0.0.1:1/u.inf"}));
}

namespace {

// A signed information file: `body` (ending in a line break) and the signature entry.
std::string signedBy(const signupdate::KeyPair& key, const std::string& body) {
    return signupdate::AppendSignature(body, key.privatePem);
}

std::string facts(const std::string& number, const std::string& content) {
    return "#size" + number + "=" + std::to_string(content.size()) + "\r\n#hash" + number +
           "=sha256:" + Sha256Hex(content) + "\r\n";
}

} // namespace

// A body too large for an information file is not read to its end (it used to be held whole), and
// information that is not signed by the key built in counts as no information file.
TEST_F(UpdaterTest, InformationThatCannotBeUsed) {
    const auto key = signupdate::GenerateKey();
    const auto otherKey = signupdate::GenerateKey();
    ASSERT_TRUE(key && otherKey);
    const std::string listing = "#version=v1.2\r\n#url=http://h/a.rar\r\n";
    const std::string withFacts = listing + facts("", "archive");
    const QString notVerified = QStringLiteral("无法验证升级信息。\n\n未安装任何内容，程序仍保持当前版本。");
    struct Case {
        const char* name;
        Step step;
        std::string key;
        bool silent;
        QString text; // "" = no message box
    };
    const Case cases[] = {
        {"announced larger than 1 MiB",
         Step::stall("HTTP/1.1 200 OK\r\nContent-Length: 2097152\r\n\r\n#version=v1.2\r\n"),
         "",
         false,
         {}},
        {"endless body without a length",
         Step::stall("HTTP/1.1 200 OK\r\n\r\n" + listing + std::string(1100000, 'x')),
         "",
         false,
         {}},
        {"unsigned", Step::answer(response("200 OK", withFacts)), key->publicBase64, false, notVerified},
        {"unsigned, silent", Step::answer(response("200 OK", withFacts)), key->publicBase64, true, {}},
        {"signed by another key", Step::answer(response("200 OK", signedBy(*otherKey, withFacts))), key->publicBase64,
         false, notVerified},
        {"changed after signing",
         Step::answer(response("200 OK", "#url0=http://evil/x\r\n" + signedBy(*key, withFacts))), key->publicBase64,
         false, notVerified},
        {"entry after the signature",
         Step::answer(response("200 OK", signedBy(*key, withFacts) + "#url0=http://evil/x\r\n")), key->publicBase64,
         false, notVerified},
        {"signed without sizes and hashes", Step::answer(response("200 OK", signedBy(*key, listing))),
         key->publicBase64, false, notVerified},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        DialogRecorder dialogs;
        ScriptedServer server({c.step});
        updater->setUpdatePublicKey(c.key);
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        updater->SilentCheck = c.silent;
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && settled(); }));
        EXPECT_EQ(log, std::vector<std::string>{"no info file"});
        EXPECT_EQ(dialogs.texts(), c.text.isEmpty() ? QStringList() : QStringList{c.text});
    }
}

// A file that differs from its listed size or hash is deleted with every other download of the update, and
// the user is told; a server announcing a length short of the file is caught before the body is read.
TEST_F(UpdaterTest, DownloadThatDiffersFromItsListingIsDeleted) {
    const std::string one(10000, '1'), two(30000, '2');
    struct Case {
        const char* name;
        std::string listedTwo; // the facts listed for the second file
        std::string reply;     // what the server sends for it
    };
    std::string changed = two;
    changed[12345] = '3';
    const Case cases[] = {
        {"announced length short of the file", facts("0", two), response("200 OK", two.substr(0, 20000))},
        {"one changed byte", facts("0", two), response("200 OK", changed)},
        {"longer than listed, no length announced", facts("0", two),
         "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + two + "more"},
        {"listed hash unreadable", "#hash0=SHA256:" + Sha256Hex(two) + "\r\n", response("200 OK", two)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        DialogRecorder dialogs;
        ScriptedServer server;
        server.addStep(
            Step::answer(response("200 OK", info("#url=" + server.url("/one.rar") + "\r\n" + facts("", one) +
                                                 "#url0=" + server.url("/two.dat") + "\r\n" + c.listedTwo))));
        server.addStep(Step::answer(response("200 OK", one)));
        server.addStep(Step::answer(c.reply));
        setModalAnswerer([](QDialog&) { return QDialog::Accepted; });
        updater->InfoFileURL = server.url("/upt.inf");
        updater->BeginUpdateCheck();
        ASSERT_TRUE(processEventsUntil([&] { return !log.empty() && log.back() == "aborted" && settled(); }));
        EXPECT_EQ(log, (std::vector<std::string>{"done one.rar.uTMP", "aborted"}));
        EXPECT_EQ(dialogs.texts(),
                  QStringList{
                      QStringLiteral("下载的文档two.dat与列出的大小或散列值不符。\n\n该文档已删除，未安装任何内容。")});
        EXPECT_TRUE(downloadsIn(dir).empty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(updater->WizardForm(), nullptr);
    }
}
