// A small program built on TsuUpdater for the end-to-end upgrade tests. Installed by the test in a
// folder of its own, it is started as
//     upgrade-test-app --check INFO_URL [--cancel | --decline]
// and answers the question and the lost-file boxes with Yes and presses the wizard's finish button. Started
// by the stub afterwards, it writes "mark" beside itself: "after-restart" followed by the arguments after
// the restart argument when its first argument is that, else "plain" followed by its arguments. Every
// message box it was shown is appended to "told" beside it, each followed by a line "--"; a start that
// was told something (the last update did not complete) checks nothing.
//
// UPGRADE_TEST_PUBLIC_KEY, when set, is the key update information must be signed with; UPGRADE_TEST_LOG,
// when set, names a file that receives the text of every message box, one after the other.
//
// The question asked is written to standard output ("asked: " and its text), and so is an address handed
// to the browser ("opened: " and the address).
//
// Exit codes: 0 restart handed to the stub, 3 cancelled, 4 restart declined, 5 no update, 6 other outcome,
// 7 the stub could not be started, 8 the browser was asked to open the update's address.

#include "ui/ShellOpen.h"
#include "update/TsuUpdater.h"
#include "update/wizard/UpdaterWindows.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

using namespace qarvia;
using namespace qarvia::update;

namespace {

std::filesystem::path besideProgram(const char* name) {
    return std::filesystem::path(QCoreApplication::applicationFilePath().toStdString()).parent_path() / name;
}

class YesToEverything : public Dialogs {
public:
    MessageButton show(const MessageRequest& r) override {
        ++told;
        std::ofstream(besideProgram("told"), std::ios::app) << r.text.toStdString() << "\n--\n";
        if (const char* log = std::getenv("UPGRADE_TEST_LOG"))
            std::ofstream(log, std::ios::app) << r.text.toStdString() << "\n";
        if (r.buttons & mbYes)
            return mbYes;
        return mbOk;
    }
    int told = 0;
};

void writeMark(const std::string& text) {
    std::ofstream(besideProgram("mark")) << text;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();

    TsuUpdater updater;
    updater.VersionControl = TsuUpdaterVersionControl::byNumber;
    updater.VersionNumber = "v1.1";
    updater.Wizard.HideFileLocation = true;
    updater.Wizard.StayOnTop = false;
    updater.setWizardLanguage(wlChineseSimplified);
    if (const char* stub = std::getenv("UPGRADE_TEST_STUB"))
        TsuUpdater::setStubPath(stub);
    YesToEverything yes;
    setDialogs(&yes);
    if (const char* key = std::getenv("UPGRADE_TEST_PUBLIC_KEY"))
        updater.setUpdatePublicKey(key);
    bool restarted = false;
    updater.OnAfterRestart = [&](TsuUpdater&) { restarted = true; };
    updater.Loaded(args);
    if (restarted) {
        writeMark(("after-restart " + args.mid(2).join(QLatin1Char(' '))).toStdString());
        return 0;
    }
    if (yes.told > 0 || args.size() < 3 || args.at(1) != QStringLiteral("--check")) {
        writeMark(("plain " + args.mid(1).join(QLatin1Char(' '))).toStdString());
        return 0;
    }
    const bool cancel = args.contains(QStringLiteral("--cancel"));
    const bool decline = args.contains(QStringLiteral("--decline"));
    setModalAnswerer([](QDialog& window) {
        if (const auto* question = window.findChild<QLabel*>(QStringLiteral("Label1")))
            std::printf("asked: %s\n", question->text().toUtf8().constData());
        return int(QDialog::Accepted);
    });

    int exitCode = 6;
    auto finish = [&](int code) {
        exitCode = code;
        QTimer::singleShot(0, &app, [&app, code] { app.exit(code); });
    };
    struct BrowserRecorder : ShellOpener {
        std::function<void()> opened;
        bool open(const QString& target) override {
            std::printf("opened: %s\n", target.toUtf8().constData());
            opened();
            return true;
        }
    } browser;
    browser.opened = [&] { finish(8); };
    setShellOpener(&browser);
    updater.OnNoUpdateAvailable = [&](TsuUpdater&) { finish(5); };
    updater.OnNoInfoFile = [&](TsuUpdater&) { finish(6); };
    updater.OnHostUnreachable = [&](TsuUpdater&, const std::string&, const std::string&) { finish(6); };
    updater.OnConnLost = [&](TsuUpdater&) { finish(6); };
    updater.OnLaterUpgrade = [&](TsuUpdater&) { finish(6); };
    updater.OnAborted = [&](TsuUpdater&) { finish(3); };
    updater.OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
        if (decline) {
            restart = false;
            finish(4);
        }
    };
    bool closing = false;
    updater.OnProgress = [&](TsuUpdater& u, const std::string&, std::int64_t, std::int64_t, std::int64_t, std::int64_t,
                             std::uint8_t, std::uint8_t, float) {
        if (cancel && !closing) {
            closing = true;
            QTimer::singleShot(0, &app, [&u] {
                if (u.WizardForm())
                    u.WizardForm()->close();
            });
        }
    };
    // Press the finish button once the finish page shows.
    QTimer finishPresser;
    QObject::connect(&finishPresser, &QTimer::timeout, [&] {
        TsuUpdaterWizardForm* wizard = updater.WizardForm();
        if (wizard && wizard->isFinishPage())
            wizard->findChild<QPushButton*>(QStringLiteral("FinishBtn"))->click();
    });
    finishPresser.start(20);

    updater.InfoFileURL = args.at(2).toStdString();
    updater.BeginUpdateCheck();
    const int code = app.exec();
    setDialogs(nullptr);
    setModalAnswerer(nullptr);
    setShellOpener(nullptr);
    if (updater.Restarting)
        return 0;
    if (exitCode == 6 && updater.UpgradeFinished)
        return 7; // the stub could not be started
    return code != 0 ? code : exitCode;
}
