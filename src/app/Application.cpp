#include "app/Application.h"

#include "app/Skin.h"
#include "app/TAboutForm.h"
#include "app/TForm1.h"
#include "ranking/RankingPage.h"
#include "ui/WebView.h"
#include "update/wizard/TsuUpdaterWizardForm.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <unistd.h>

namespace qarvia {
namespace {

constexpr int kPageCount = 5;
// Time the window is given to lay out and paint before it is grabbed.
constexpr int kScreenshotSettleMs = 1500;

// Whether an argument may ask for help or the version (--help, --help-all, --version, or short options, alone
// or run together, among them h, ? or v), which are answered before any window system is set up. Anything
// else is read once, with the window system.
bool mayAskForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a == "--")
            break;
        if (a == "--help" || a == "--help-all" || a == "--version")
            return true;
        if (a.size() > 1 && a[0] == '-' && a[1] != '-' && a.find_first_of("h?v") != std::string_view::npos)
            return true;
    }
    return false;
}

QString versionText() {
    return QString::fromLatin1(AppVersion).mid(1); // "v1.1" -> "1.1"
}

} // namespace

AppOptions parseOptions(const QStringList& arguments) {
    AppOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Qarvia Toolbox: level calculators, hero ranking and the "
                                                    "publisher's pages for players of Qarvia."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption smoke(QStringLiteral("smoke"),
                                   QStringLiteral("Show the main window, finish start-up and exit with 0."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("Grab the main window into <file> (PNG) and exit."),
                                        QStringLiteral("file"));
    const QCommandLineOption tab(QStringLiteral("tab"),
                                 QStringLiteral("Page shown for --screenshot, 0 to 4 (default 0)."),
                                 QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption rankUrl(QStringLiteral("rank-url"),
                                     QStringLiteral("Base URL of the hero ranking service."), QStringLiteral("url"));
    const QCommandLineOption updateUrl(QStringLiteral("update-url"),
                                       QStringLiteral("Address of the self-update information file."),
                                       QStringLiteral("url"));
    const QCommandLineOption rankSearch(
        QStringLiteral("rank-search"),
        QStringLiteral("Look <name> up on the hero ranking tab once the window shows (before a --screenshot)."),
        QStringLiteral("name"));
    const QCommandLineOption shotWindow(
        QStringLiteral("window"),
        QStringLiteral("Window grabbed by --screenshot: main (default), about, or wizard (the update wizard "
                       "halfway through a download)."),
        QStringLiteral("name"), QStringLiteral("main"));
    const QCommandLineOption noSkin(QStringLiteral("no-skin"),
                                    QStringLiteral("Use the desktop's own look and window frame instead of the "
                                                   "toolbox's skin (also QARVIA_SKIN=off)."));
    parser.addOptions({smoke, screenshot, tab, shotWindow, noSkin, rankUrl, rankSearch, updateUrl});
    parser.addPositionalArgument(QStringLiteral("args"), QStringLiteral("Passed on by a self-update restart."),
                                 QStringLiteral("[args...]"));

    auto fail = [&options](const QString& message) {
        options.exitNow = true;
        options.exitCode = 1;
        options.errorText = message + QLatin1Char('\n');
        return options;
    };
    if (!parser.parse(arguments))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help-all"))) {
        // Every option, Qt's own among them: Qt prints them and ends the program.
        if (QCoreApplication::instance())
            parser.process(arguments);
        options.exitNow = true;
        options.output = parser.helpText();
        return options;
    }
    if (parser.isSet(help)) {
        options.exitNow = true;
        options.output = parser.helpText();
        return options;
    }
    if (parser.isSet(version)) {
        options.exitNow = true;
        options.output = QStringLiteral("qarvia-toolbox %1\n").arg(versionText());
        return options;
    }
    options.smoke = parser.isSet(smoke);
    options.screenshotFile = parser.value(screenshot);
    if (parser.isSet(screenshot) && options.screenshotFile.isEmpty())
        return fail(QStringLiteral("--screenshot needs a file name."));
    bool ok = false;
    options.tab = parser.value(tab).toInt(&ok);
    if (!ok || options.tab < 0 || options.tab >= kPageCount)
        return fail(QStringLiteral("--tab must be a page number from 0 to 4."));
    if (parser.isSet(rankUrl)) {
        options.settings.rankUrl = parser.value(rankUrl);
        if (!RankingPage::isServiceUrl(options.settings.rankUrl))
            return fail(QStringLiteral("--rank-url needs an http address such as http://127.0.0.1:8765."));
    }
    options.shotWindow = parser.value(shotWindow);
    if (options.shotWindow == QLatin1String("main"))
        options.shotWindow.clear();
    else if (options.shotWindow != QLatin1String("about") && options.shotWindow != QLatin1String("wizard"))
        return fail(QStringLiteral("--window must be main, about or wizard."));
    options.skin = !parser.isSet(noSkin) && skinAllowedByEnvironment();
    options.rankSearch = parser.value(rankSearch);
    if (parser.isSet(updateUrl))
        options.settings.updateInfoUrl = parser.value(updateUrl);
    options.positional = parser.positionalArguments();
    return options;
}

int runApplication(int argc, char** argv) {
    // Qt WebEngine refuses to start its sandbox as root.
    if (geteuid() == 0)
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    auto finishEarly = [](const AppOptions& options) {
        std::fputs(options.output.toLocal8Bit().constData(), stdout);
        std::fputs(options.errorText.toLocal8Bit().constData(), stderr);
        return options.exitCode;
    };
    if (mayAskForHelpOrVersion(argc, argv)) {
        // Help and version need no display: the manual page is made from --help at build time. Anything
        // else, usage errors included, is read again below once Qt has taken its own options (-platform, ...).
        QCoreApplication console(argc, argv);
        const AppOptions early = parseOptions(QCoreApplication::arguments());
        if (early.exitNow && early.exitCode == 0)
            return finishEarly(early);
    }
    QApplication app(argc, argv);
    // The name is the window class (WM_CLASS) the desktop entry's StartupWMClass names; the desktop file
    // name is the Wayland application id. Both let the task bar show the entry's icon.
    QApplication::setApplicationName(QStringLiteral("qarvia-toolbox"));
    QApplication::setApplicationVersion(versionText());
    QGuiApplication::setDesktopFileName(QStringLiteral("net.lumora_games.QarviaToolbox"));

    const AppOptions options = parseOptions(QApplication::arguments());
    if (options.exitNow)
        return finishEarly(options);

    QApplication::setWindowIcon(applicationIcon());
    applySkin(options.skin);
    TForm1 window(options.settings);
    if (options.skin)
        dressMainWindow(window);
    if (options.shotWindow.isEmpty() || options.screenshotFile.isEmpty())
        window.show();
    if (!options.rankSearch.isEmpty()) {
        // Runs before the screenshot timer below, so the picture shows the filled grid.
        QTimer::singleShot(0, &window, [&window, &options] {
            auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
            if (pages && options.screenshotFile.isEmpty())
                pages->setCurrentIndex(kPageCount - 1);
            window.rankingPage()->searchFor(options.rankSearch);
        });
    }

    std::unique_ptr<QWidget> other; // a window grabbed in place of the main window
    if (options.smoke) {
        // Start-up work is done once the window has painted with the banner navigation started, and the update
        // check that follows the first paint has been asked for.
        QObject::connect(&window, &TForm1::startUpFinished, &app, [] { QApplication::exit(0); });
    } else if (!options.screenshotFile.isEmpty()) {
        auto* pages = window.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
        {
            // A picture of a page, not the simulator window the page opens when chosen.
            const QSignalBlocker quiet(pages);
            pages->setCurrentIndex(options.tab);
        }
        QWidget* shown = &window;
        if (options.shotWindow == QLatin1String("about")) {
            other = std::make_unique<TAboutForm>(options.settings.siteUrl, options.settings.feedbackMail);
            other->show();
        } else if (options.shotWindow == QLatin1String("wizard")) {
            // Halfway through the second of two files, as a user watching an update sees it.
            auto wizard = std::make_unique<update::TsuUpdaterWizardForm>();
            wizard->ShowWizard({false, true, {}});
            wizard->setFileCounter(2, 2);
            wizard->setFileSize(3355443);
            wizard->setProgress(48, 74, 212.4, 74);
            wizard->flushProgress();
            other = std::move(wizard);
        }
        if (other)
            shown = other.get();
        QTimer::singleShot(kScreenshotSettleMs, &app, [shown, &options] {
            const bool saved = shown->grab().save(options.screenshotFile, "PNG");
            if (!saved)
                std::fprintf(stderr, "Cannot write %s\n", options.screenshotFile.toLocal8Bit().constData());
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}

} // namespace qarvia
