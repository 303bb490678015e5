// One update download through TsuUpdater with the wizard shown (offscreen), for update_download_bench.sh:
//     update-download-bench URL FOLDER [--no-wizard]
// downloads URL into FOLDER as the single file of an update, with the wizard's fields set for every block,
// presses the finish button and ends without restarting. Exit code 0 when the whole file arrived.

#include "update/TsuUpdater.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <filesystem>

using namespace qarvia::update;

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    TsuUpdater updater;
    updater.ProgramFileName = (std::filesystem::path(argv[2]) / "program").string();
    updater.UpdateFiles = {argv[1]};
    updater.Wizard.StayOnTop = false;
    updater.Wizard.Enabled = !(argc > 3 && std::string(argv[3]) == "--no-wizard");
    updater.ShowMessages = {};
    int code = 1;
    updater.OnFileDone = [&](TsuUpdater& u, const std::string&) {
        code = 0;
        QTimer::singleShot(0, &app, [&u] {
            if (u.WizardForm())
                u.WizardForm()->findChild<QPushButton*>(QStringLiteral("FinishBtn"))->click();
        });
    };
    updater.OnEndUpgrade = [&](TsuUpdater&, bool& restart) {
        restart = false;
        QTimer::singleShot(0, &app, [&app] { app.quit(); });
    };
    auto fail = [&](TsuUpdater&) { QTimer::singleShot(0, &app, [&app] { app.exit(1); }); };
    updater.OnConnLost = fail;
    updater.OnAborted = fail;
    updater.OnHostUnreachable = [&](TsuUpdater& u, const std::string&, const std::string&) { fail(u); };
    updater.DownloadNextFile(true);
    const int rc = app.exec();
    return rc != 0 ? rc : code;
}
