// One update download through TsuUpdater with the wizard shown (offscreen), for update_download_bench.sh:
//     update-download-bench URL FOLDER [--no-wizard]
// downloads URL into FOLDER as the single file of an update, with the wizard's fields set for every block,
// presses the finish button and ends without restarting. Exit code 0 when the whole file arrived. Prints the
// seconds from the start of the download (the wizard not yet made) to the finish button's press: what a
// user of the running toolbox waits for, without this program's own start.
//     update-download-bench --parts
// prints what the wizard costs the main thread: per block (the progress figures of a 100 MB file handed to
// it as fast as it takes them), and per refresh of its labels and bars, painted.

#include "update/TsuUpdater.h"
#include "update/wizard/TsuUpdaterWizardForm.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

using namespace qarvia::update;

namespace {

int measureParts() {
    using Clock = std::chrono::steady_clock;
    auto* wizard = new TsuUpdaterWizardForm;
    wizard->ShowWizard({false, true, {}});
    QApplication::processEvents();
    constexpr int blocks = 100 * 1024 * 1024 / 4096;
    auto start = Clock::now();
    for (int i = 1; i <= blocks; ++i)
        wizard->setProgress(static_cast<int>((i * 100LL + blocks / 2) / blocks), 0, 100000.0, blocks - i);
    const double perBlock = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / blocks;
    constexpr int refreshes = 300;
    wizard->flushProgress();
    QApplication::processEvents(); // the first paint loads the fonts
    start = Clock::now();
    for (int i = 0; i < refreshes; ++i) {
        wizard->setProgress(i % 100, i % 100, 1000.0 + i, i);
        wizard->flushProgress();
        QApplication::processEvents(); // paints what changed
    }
    const double perRefresh = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / refreshes;
    std::printf("wizard: %.3f us per block handed to it (%d blocks, shown at most once per 16 ms), %.1f us per "
                "refresh of its labels and bars, painted\n",
                perBlock, blocks, perRefresh);
    wizard->release();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    if (argc == 2 && std::string(argv[1]) == "--parts")
        return measureParts();
    if (argc < 3)
        return 2;
    TsuUpdater updater;
    updater.ProgramFileName = (std::filesystem::path(argv[2]) / "program").string();
    updater.UpdateFiles = {argv[1]};
    updater.Wizard.StayOnTop = false;
    updater.Wizard.Enabled = !(argc > 3 && std::string(argv[3]) == "--no-wizard");
    updater.ShowMessages = {};
    int code = 1;
    const auto started = std::chrono::steady_clock::now();
    updater.OnFileDone = [&](TsuUpdater& u, const std::string&) {
        code = 0;
        QTimer::singleShot(0, &app, [&u, started] {
            if (u.WizardForm())
                u.WizardForm()->findChild<QPushButton*>(QStringLiteral("FinishBtn"))->click();
            std::printf("%.4f\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
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
